#include "platform/win32/message_window.h"

namespace zuvo::platform::win32 {

namespace {

constexpr char kClassName[] = "ZuvoBoxMessageWindow";

bool RegisterWindowClass(WNDPROC proc) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    return ::RegisterClassA(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

MessageWindow::~MessageWindow() {
    Destroy();
}

bool MessageWindow::Create() {
    if (Handle() != nullptr) {
        return true;
    }
    if (!RegisterWindowClass(&MessageWindow::WindowProc)) {
        return false;
    }
    HWND window = ::CreateWindowExA(0, kClassName, "Zuvo Box", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleA(nullptr), this);
    if (window == nullptr) {
        if (::GetLastError() == 0) {
            ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        }
        return false;
    }
    window_.store(window);
    created_ = true;
    return true;
}

void MessageWindow::Destroy() {
    if (created_) {
        created_ = false;
        ::DestroyWindow(window_.exchange(nullptr));
    }
}

void MessageWindow::Attach(HWND window) {
    window_.store(window);
}

void MessageWindow::SetHandler(UINT message, Handler handler) {
    std::lock_guard lock(mutex_);
    if (handler) {
        handlers_[message] = std::move(handler);
    } else {
        handlers_.erase(message);
    }
}

bool MessageWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        const auto it = handlers_.find(message);
        if (it == handlers_.end()) {
            return false;
        }
        handler = it->second;  // a copy: the handler may change the table
    }
    result = handler(wParam, lParam);
    return true;
}

void MessageWindow::Wake() {
    if (wakePending_.exchange(true)) {
        return;
    }
    HWND window = Handle();
    if (window == nullptr || !::PostMessageA(window, kWakeMessage, 0, 0)) {
        wakePending_.store(false);  // the next post tries again
    }
}

LRESULT CALLBACK MessageWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (self != nullptr && self->HandleMessage(message, wParam, lParam, result)) {
        return result;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// --- MessageLoop ---------------------------------------------------------------------------

MessageLoop::MessageLoop(MessageQueue& queue, MessageWindow& window)
    : queue_(queue), window_(window) {
    queue_.SetNotifier([this] { window_.Wake(); });
    window_.SetHandler(MessageWindow::kWakeMessage, [this](WPARAM, LPARAM) -> LRESULT {
        window_.WakeTaken();
        Drain();
        return 0;
    });
    // Another program asking this one to close, as the close box would.
    window_.SetHandler(WM_CLOSE, [this](WPARAM, LPARAM) -> LRESULT {
        queue_.Post(Message{kMsgClose, 0, 0, {}, 0});
        return 0;
    });
}

MessageLoop::~MessageLoop() {
    window_.SetHandler(MessageWindow::kWakeMessage, nullptr);
    window_.SetHandler(WM_CLOSE, nullptr);
    queue_.SetNotifier([] {});
}

int MessageLoop::Run(const Dispatch& dispatch, const std::function<bool()>& done) {
    dispatch_ = &dispatch;
    done_ = &done;
    quitPosted_ = false;
    Drain();  // what was posted before the loop started
    int code = 0;
    MSG msg;
    for (;;) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            code = static_cast<int>(msg.wParam);
            break;
        }
        if (got < 0) {
            code = 1;
            break;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    dispatch_ = nullptr;
    done_ = nullptr;
    return code;
}

void MessageLoop::Drain() {
    // A handler that pumps messages itself (a modal box) must not start a second drain; the
    // outer one goes on until the queue is empty.
    if (draining_ || dispatch_ == nullptr || quitPosted_) {
        return;
    }
    draining_ = true;
    Message message;
    while (queue_.TryGet(message)) {
        (*dispatch_)(message);
        if ((*done_)()) {
            quitPosted_ = true;
            ::PostQuitMessage(0);
            break;
        }
    }
    draining_ = false;
}

// --- MessageWindowThread -------------------------------------------------------------------

MessageWindowThread::~MessageWindowThread() {
    if (thread_.joinable()) {
        ::PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
}

bool MessageWindowThread::Start() {
    if (thread_.joinable()) {
        return true;
    }
    std::promise<DWORD> created;
    std::future<DWORD> result = created.get_future();
    thread_ = std::thread(&MessageWindowThread::Run, this, &created);
    const DWORD error = result.get();
    if (error != 0) {
        thread_.join();
        ::SetLastError(error);
        return false;
    }
    return true;
}

void MessageWindowThread::Run(std::promise<DWORD>* created) {
    threadId_ = ::GetCurrentThreadId();
    if (!window_.Create()) {
        const DWORD error = ::GetLastError();
        created->set_value(error != 0 ? error : ERROR_INVALID_WINDOW_HANDLE);
        return;
    }
    created->set_value(0);
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    window_.Destroy();
}

}  // namespace zuvo::platform::win32
