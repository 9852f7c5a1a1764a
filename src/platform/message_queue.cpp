#include "platform/message_queue.h"

namespace zuvo::platform {

void MessageQueue::Post(Message message) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(message));
    }
    ready_.notify_one();
    std::lock_guard lock(notifierMutex_);
    if (notifier_) {
        notifier_();
    }
}

void MessageQueue::SetNotifier(std::function<void()> notifier) {
    std::lock_guard lock(notifierMutex_);
    notifier_ = std::move(notifier);
}

bool MessageQueue::Wait(Message& out, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [this] { return !queue_.empty(); })) {
        return false;
    }
    out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

bool MessageQueue::TryGet(Message& out) {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return false;
    }
    out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

size_t MessageQueue::Size() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace zuvo::platform
