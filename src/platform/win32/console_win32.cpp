#include "platform/win32/console_win32.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace zuvo::platform::win32 {

namespace {

constexpr DWORD kCloseWaitMs = 4000;

std::mutex g_mutex;
IMessagePoster* g_poster = nullptr;
HANDLE g_closed = nullptr;  // created once, never closed

bool Usable(DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    HANDLE closed = nullptr;
    {
        std::lock_guard lock(g_mutex);
        if (g_poster == nullptr) {
            return FALSE;
        }
        g_poster->Post(Message{kMsgClose, 0, 0, {}, 0});
        closed = g_closed;
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        ::WaitForSingleObject(closed, kCloseWaitMs);
    }
    return TRUE;
}

}  // namespace

bool AttachStandardOutput() {
    const bool out = Usable(STD_OUTPUT_HANDLE);
    const bool err = Usable(STD_ERROR_HANDLE);
    if (out && err) {
        return true;
    }
    // Reopening after a failed attach would close the streams for good.
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return out || err;
    }
    if (!out) {
        std::freopen("CONOUT$", "w", stdout);
    }
    if (!err) {
        std::freopen("CONOUT$", "w", stderr);
    }
    return true;
}

ConsoleCloseHandler::ConsoleCloseHandler(IMessagePoster& poster) {
    {
        std::lock_guard lock(g_mutex);
        if (g_closed == nullptr) {
            g_closed = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        }
        ::ResetEvent(g_closed);
        g_poster = &poster;
    }
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

ConsoleCloseHandler::~ConsoleCloseHandler() {
    ::SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
    std::lock_guard lock(g_mutex);
    g_poster = nullptr;
}

void ConsoleCloseHandler::Closed() {
    std::lock_guard lock(g_mutex);
    ::SetEvent(g_closed);
}

}  // namespace zuvo::platform::win32
