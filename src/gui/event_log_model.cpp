#include "gui/event_log_model.h"

#include "ui/event_log.h"

namespace zuvo::gui {

void EventLogModel::DropOldest(size_t count) {
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(count) - 1);
    const uint32_t cut = ends_[count - 1];
    text_.erase(0, cut);
    ends_.erase(ends_.begin(), ends_.begin() + static_cast<std::ptrdiff_t>(count));
    for (uint32_t& end : ends_) {
        end -= cut;
    }
    endRemoveRows();
}

void EventLogModel::Append(const std::string& line) {
    if (ends_.size() >= EventLog::kListLines + EventLog::kListTrim) {
        DropOldest(EventLog::kListTrim);
    }
    const int row = static_cast<int>(ends_.size());
    beginInsertRows(QModelIndex(), row, row);
    text_ += line;
    ends_.push_back(static_cast<uint32_t>(text_.size()));
    endInsertRows();
}

int EventLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(ends_.size());
}

std::string EventLogModel::Line(int row) const {
    if (row < 0 || row >= static_cast<int>(ends_.size())) {
        return {};
    }
    const uint32_t begin = row == 0 ? 0 : ends_[static_cast<size_t>(row - 1)];
    return text_.substr(begin, ends_[static_cast<size_t>(row)] - begin);
}

QVariant EventLogModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) {
        return {};
    }
    return QString::fromStdString(Line(index.row()));
}

}  // namespace zuvo::gui
