#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace zuvo::platform {
namespace {

// A read thread may already post when the window sets its notifier (a signal during the
// window's start); the thread sanitizer run shows an unguarded notifier.
TEST(MessageQueue, ANotifierMayBeSetWhileAnotherThreadPosts) {
    MessageQueue queue;
    std::atomic<bool> stop{false};
    std::atomic<int> wakes{0};
    std::thread poster([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            queue.Post({kMsgBoxReport, 0, 0, {}, 0});
        }
    });
    while (queue.Size() < 100) {
        std::this_thread::yield();
    }
    queue.SetNotifier([&] { ++wakes; });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (wakes.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    stop = true;
    poster.join();
    EXPECT_GT(wakes.load(), 0);
}

}  // namespace
}  // namespace zuvo::platform
