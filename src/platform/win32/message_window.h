#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "platform/message_queue.h"

namespace zuvo::platform::win32 {

// The window the system's messages come to: device-change broadcasts, the RTTY bridge's
// registered message, the close command, and the wake that tells its thread that read
// threads have queued items. Headless programs create a message-only window, which needs no
// display; a dialog front end attaches its own window instead and lets HandleMessage see
// every message first.
//
// Handlers run on the window's thread, which must pump messages (GetMessage/DispatchMessage,
// a dialog's modal loop, or MessageLoop below).
class MessageWindow {
  public:
    // Returns what the window procedure returns for the message.
    using Handler = std::function<LRESULT(WPARAM wParam, LPARAM lParam)>;

    // Wakes the window's thread; sent by Wake(), handled by whoever set a handler for it.
    static constexpr UINT kWakeMessage = WM_APP + 0x100;

    MessageWindow() = default;
    ~MessageWindow();
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Creates a message-only window owned by the calling thread. False with the last error
    // set when it cannot be created.
    bool Create();
    // Destroys the window Create made; the creating thread only. The destructor calls it.
    void Destroy();
    // A window of the front end, whose window procedure passes every message to
    // HandleMessage before its own handling. Not destroyed by this object.
    void Attach(HWND window);
    HWND Handle() const { return window_.load(); }

    // Any thread. Sets (or, with an empty handler, removes) the handler of one message.
    void SetHandler(UINT message, Handler handler);

    // The window's thread. True when a handler took the message, with what to return.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Any thread. Posts kWakeMessage unless one is already on its way; the handler must call
    // WakeTaken() before it looks at what it was woken for, so no wake is ever lost.
    void Wake();
    void WakeTaken() { wakePending_.store(false); }

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::atomic<HWND> window_{nullptr};
    bool created_ = false;
    std::atomic<bool> wakePending_{false};
    std::mutex mutex_;
    std::map<UINT, Handler> handlers_;
};

// The main thread's loop for a program without a dialog: posted items are drained from the
// queue in order, each handed to dispatch, whenever the window is woken; WM_CLOSE (another
// program asking this one to close) becomes kMsgClose. Run returns once done() holds after
// a dispatch.
class MessageLoop {
  public:
    using Dispatch = std::function<void(const Message&)>;

    // Sets the queue's notifier, so construct it before any thread posts.
    MessageLoop(MessageQueue& queue, MessageWindow& window);
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // Pumps the thread's messages until done() holds; returns the exit code of WM_QUIT (0
    // when done() ended it).
    int Run(const Dispatch& dispatch, const std::function<bool()>& done);

    // Dispatches everything queued now (also from a dialog's own loop).
    void Drain();

  private:
    MessageQueue& queue_;
    MessageWindow& window_;
    const Dispatch* dispatch_ = nullptr;
    const std::function<bool()>* done_ = nullptr;
    bool draining_ = false;
    bool quitPosted_ = false;
};

// A message-only window on a thread of its own, for a program whose main thread waits on
// the queue instead of pumping messages (the utility's command line): its handlers only post
// to the queue. The destructor ends the thread.
class MessageWindowThread {
  public:
    MessageWindowThread() = default;
    ~MessageWindowThread();
    MessageWindowThread(const MessageWindowThread&) = delete;
    MessageWindowThread& operator=(const MessageWindowThread&) = delete;

    // Starts the thread and waits until its window exists. False (last error set) when the
    // window could not be created.
    bool Start();
    MessageWindow& Window() { return window_; }

  private:
    void Run(std::promise<DWORD>* created);

    MessageWindow window_;
    std::thread thread_;
    DWORD threadId_ = 0;
};

}  // namespace zuvo::platform::win32
