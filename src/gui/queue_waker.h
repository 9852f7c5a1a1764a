#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/message_queue.h"

namespace zuvo::gui {

// Wakes a window's Qt event loop when a read thread posts to the message queue. The queue
// keeps its notifier for its whole life and read threads may post while the window goes
// away, so the window detaches the waker instead of changing the notifier.
class QueueWaker {
  public:
    // Makes the queue's notifier queue drain() on target's thread, one drain at a time.
    static std::shared_ptr<QueueWaker> Attach(platform::MessageQueue& queue, QObject* target,
                                              std::function<void()> drain);

    // The window is going away: later posts wake nothing.
    void Detach();
    // Called first thing by the drain, so a post from now on queues another one.
    void DrainStarted() { drainPending_ = false; }

  private:
    void Wake();

    std::mutex mutex_;
    QObject* target_ = nullptr;  // null once the window is gone
    std::function<void()> drain_;
    std::atomic<bool> drainPending_{false};
};

}  // namespace zuvo::gui
