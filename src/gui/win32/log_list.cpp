#include "gui/win32/log_list.h"

#include "ui/event_log.h"

namespace zuvo::gui::win32 {

void LogList::Append(const std::string& line) {
    if (static_cast<size_t>(Count()) >= EventLog::kListLines + EventLog::kListTrim) {
        ::SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
        for (size_t i = 0; i < EventLog::kListTrim; ++i) {
            ::SendMessageA(list_, LB_DELETESTRING, 0, 0);
        }
        ::SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
    }
    ::SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    if (!scrollPending_ && ::PostMessageA(owner_, kScrollMessage, 0, 0)) {
        scrollPending_ = true;
    }
}

void LogList::ScrollToEnd() {
    scrollPending_ = false;
    const int count = Count();
    if (count > 0) {
        ::SendMessageA(list_, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
    }
}

int LogList::Count() const {
    return static_cast<int>(::SendMessageA(list_, LB_GETCOUNT, 0, 0));
}

std::string LogList::Line(int index) const {
    const LRESULT length = ::SendMessageA(list_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR) {
        return {};
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    ::SendMessageA(list_, LB_GETTEXT, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace zuvo::gui::win32
