#pragma once

#include <QAbstractListModel>
#include <cstdint>
#include <string>
#include <vector>

namespace zuvo::gui {

// The event log's lines for a QListView, held once and compactly: the text of the lines in
// one buffer plus one offset per line, since per-line objects (QString, QStringList entries
// or widget items) would cost several times the text itself. It keeps the latest lines
// only, bounded as the event log's own list (EventLog::kListLines), so memory stays flat
// through a verbose weekend; the log file keeps every line.
class EventLogModel final : public QAbstractListModel {
  public:
    using QAbstractListModel::QAbstractListModel;

    void Append(const std::string& line);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    std::string Line(int row) const;
    size_t BytesHeld() const { return text_.capacity() + ends_.capacity() * sizeof(uint32_t); }

  private:
    void DropOldest(size_t count);

    std::string text_;
    std::vector<uint32_t> ends_;  // end offset of each line in text_
};

}  // namespace zuvo::gui
