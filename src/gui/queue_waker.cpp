#include "gui/queue_waker.h"

#include <QMetaObject>

namespace zuvo::gui {

std::shared_ptr<QueueWaker> QueueWaker::Attach(platform::MessageQueue& queue, QObject* target,
                                               std::function<void()> drain) {
    auto waker = std::make_shared<QueueWaker>();
    waker->target_ = target;
    waker->drain_ = std::move(drain);
    queue.SetNotifier([waker] { waker->Wake(); });
    return waker;
}

void QueueWaker::Detach() {
    std::lock_guard lock(mutex_);
    target_ = nullptr;
}

void QueueWaker::Wake() {
    // One queued drain at a time, however fast the read threads post.
    if (drainPending_.exchange(true)) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (target_ != nullptr) {
        QMetaObject::invokeMethod(target_, drain_, Qt::QueuedConnection);
    }
}

}  // namespace zuvo::gui
