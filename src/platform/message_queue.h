#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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
    uint32_t flow = 0;    // the posting reader's flow (see IMessagePoster), 0 for none
};

// Where read threads hand their items to the main thread. Post is thread-safe and never
// blocks for long: it never waits for the main thread.
//
// Flows are the back-pressure of a reader that a client feeds (a host port, the RTTY
// socket), so that memory stays bounded whatever the client writes: the reader tags what it
// posts with its flow and asks for room before it reads more. Held back, it leaves the
// client's bytes in the system's buffers, which then hold the client back. A flow's
// messages count from Post until the main thread has taken them from the queue.
class IMessagePoster {
  public:
    virtual ~IMessagePoster() = default;
    virtual void Post(Message message) = 0;

    // Any thread. A new flow whose reader is held back while `limit` (at least 2) of its
    // messages wait. 0 when this poster keeps no flows; flow 0 is never held back.
    virtual uint32_t AddFlow(size_t /*limit*/) { return 0; }
    // The flow's reader. How many messages it may post now, at least 1. When the limit is
    // reached it blocks until the main thread has taken the flow's messages down to half
    // the limit, or until StopFlow (then it answers 0, at once, until StartFlow).
    virtual size_t WaitForRoom(uint32_t /*flow*/) { return SIZE_MAX; }
    // Any thread. Whoever stops a reader calls StopFlow before joining it; StartFlow before
    // starting a reader again.
    virtual void StopFlow(uint32_t /*flow*/) {}
    virtual void StartFlow(uint32_t /*flow*/) {}
};

// FIFO drained by the main thread in order; only flows (above) bound what it holds. A front
// end that owns an event loop (Qt) sets a notifier that wakes it; headless blocks in Wait;
// tests drain with TryGet.
class MessageQueue final : public IMessagePoster {
  public:
    void Post(Message message) override;
    uint32_t AddFlow(size_t limit) override;
    size_t WaitForRoom(uint32_t flow) override;
    void StopFlow(uint32_t flow) override;
    void StartFlow(uint32_t flow) override;

    // Returns false when nothing arrived within the timeout.
    bool Wait(Message& out, std::chrono::milliseconds timeout);
    bool TryGet(Message& out);
    size_t Size() const;

    // Called (from the posting thread, outside the queue's lock) after every Post that
    // comes after this call. May be set while other threads post: a window sets it once it
    // exists, when the signal thread may already be posting.
    void SetNotifier(std::function<void()> notifier);

  private:
    struct Flow {
        size_t limit = 0;
        size_t waiting = 0;  // its messages in queue_
        bool held = false;   // its reader waits for the main thread to catch up
        bool stopped = false;
    };
    Flow* FindFlow(uint32_t flow);  // under mutex_
    // Takes the front message; true when a held reader is to be woken.
    bool TakeFront(Message& out);

    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable room_;
    std::deque<Message> queue_;
    std::deque<Flow> flows_;  // flow n is flows_[n - 1]; a deque keeps references stable
    // Copied under the lock by each Post, so a notifier being replaced stays alive for the
    // call that took it.
    std::shared_ptr<const std::function<void()>> notifier_;
};

}  // namespace zuvo::platform
