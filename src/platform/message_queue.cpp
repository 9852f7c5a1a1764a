#include "platform/message_queue.h"

#include <algorithm>

namespace zuvo::platform {

void MessageQueue::Post(Message message) {
    std::shared_ptr<const std::function<void()>> notifier;
    {
        std::lock_guard lock(mutex_);
        if (Flow* flow = FindFlow(message.flow)) {
            ++flow->waiting;
        }
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

MessageQueue::Flow* MessageQueue::FindFlow(uint32_t flow) {
    return flow != 0 && flow <= flows_.size() ? &flows_[flow - 1] : nullptr;
}

uint32_t MessageQueue::AddFlow(size_t limit) {
    std::lock_guard lock(mutex_);
    flows_.push_back(Flow{std::max<size_t>(limit, 2)});
    return static_cast<uint32_t>(flows_.size());
}

size_t MessageQueue::WaitForRoom(uint32_t flow) {
    std::unique_lock lock(mutex_);
    Flow* f = FindFlow(flow);
    if (f == nullptr) {
        return SIZE_MAX;
    }
    for (;;) {
        if (f->stopped) {
            return 0;
        }
        if (f->waiting >= f->limit) {
            f->held = true;
        }
        if (!f->held) {
            return f->limit - f->waiting;
        }
        room_.wait(lock);
    }
}

void MessageQueue::StopFlow(uint32_t flow) {
    {
        std::lock_guard lock(mutex_);
        Flow* f = FindFlow(flow);
        if (f == nullptr) {
            return;
        }
        f->stopped = true;
    }
    room_.notify_all();
}

void MessageQueue::StartFlow(uint32_t flow) {
    std::lock_guard lock(mutex_);
    if (Flow* f = FindFlow(flow)) {
        f->stopped = false;
    }
}

bool MessageQueue::TakeFront(Message& out) {
    out = std::move(queue_.front());
    queue_.pop_front();
    Flow* f = FindFlow(out.flow);
    if (f == nullptr) {
        return false;
    }
    --f->waiting;
    // Half the limit, not one below it, so a held reader wakes once per batch rather than
    // once per message.
    if (f->held && f->waiting <= f->limit / 2) {
        f->held = false;
        return true;
    }
    return false;
}

bool MessageQueue::Wait(Message& out, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [this] { return !queue_.empty(); })) {
        return false;
    }
    const bool wake = TakeFront(out);
    lock.unlock();
    if (wake) {
        room_.notify_all();
    }
    return true;
}

bool MessageQueue::TryGet(Message& out) {
    std::unique_lock lock(mutex_);
    if (queue_.empty()) {
        return false;
    }
    const bool wake = TakeFront(out);
    lock.unlock();
    if (wake) {
        room_.notify_all();
    }
    return true;
}

size_t MessageQueue::Size() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace zuvo::platform
