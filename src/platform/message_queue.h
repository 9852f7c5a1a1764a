#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace zuvo::platform {

// Message numbers. The four read-thread messages keep the numbers the Windows build posts.
enum MessageId : uint32_t {
    kMsgClose = 0x0010,         // the window's close command (title bar, SIGINT/SIGTERM)
    kMsgDeviceChange = 0x0219,  // wParam: kDeviceArrival or kDeviceRemoveComplete; text: path
    kMsgBoxReport = 0x449,
    kMsgKeyerPortByte = 0x44A,
    kMsgSwitchingPortByte = 0x44B,
    kMsgModemStatus = 0x44C,
    kMsgRtty = 0xC000,  // the registered "Zuvo Box RTTY Message"
    kMsgQuit = 0xFFFF,  // ends a message loop; never dispatched
};

inline constexpr uint32_t kDeviceArrival = 0x8000;
inline constexpr uint32_t kDeviceRemoveComplete = 0x8004;

// A posted window message. text carries the device path of a device change.
struct Message {
    uint32_t id = 0;
    uint32_t wParam = 0;
    int32_t lParam = 0;
    std::string text;
    uint32_t source = 0;  // which connection or port instance posted it (0: not tracked)
};

// Where read threads hand their items to the main thread. Post is thread-safe and never
// blocks for long: it never waits for the main thread.
class IMessagePoster {
  public:
    virtual ~IMessagePoster() = default;
    virtual void Post(Message message) = 0;
};

// Unbounded FIFO drained by the main thread in order. A front end that owns an event loop
// (Qt) sets a notifier that wakes it; headless blocks in Wait; tests drain with TryGet.
class MessageQueue final : public IMessagePoster {
  public:
    void Post(Message message) override;

    // Returns false when nothing arrived within the timeout.
    bool Wait(Message& out, std::chrono::milliseconds timeout);
    bool TryGet(Message& out);
    size_t Size() const;

    // Called (from the posting thread) after every Post. May be set while threads already
    // post: the signal watcher starts before the window that sets it.
    void SetNotifier(std::function<void()> notifier);

  private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Message> queue_;
    std::mutex notifierMutex_;  // not the queue's: the queue is not locked while it runs
    std::function<void()> notifier_;
};

}  // namespace zuvo::platform
