#include "gui/event_log_model.h"

namespace zuvo::gui {

void EventLogModel::Append(const std::string& line) {
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
