#include "platform/message_queue.h"

namespace zuvo::platform {

void MessageQueue::Post(Message message) {
    std::shared_ptr<const std::function<void()>> notifier;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(message));
        notifier = notifier_;
    }
    ready_.notify_one();
    if (notifier) {
        (*notifier)();
    }
}

void MessageQueue::SetNotifier(std::function<void()> notifier) {
    auto next =
        notifier ? std::make_shared<const std::function<void()>>(std::move(notifier)) : nullptr;
    std::lock_guard lock(mutex_);
    notifier_ = std::move(next);
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
