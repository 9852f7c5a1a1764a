#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace zuvo::platform {
namespace {

using Clock = std::chrono::steady_clock;

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A window sets its notifier once it exists, while the signal thread may already post.
TEST(MessageQueue, NotifierSetWhileAnotherThreadPostsWakesLaterPosts) {
    MessageQueue queue;
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop.load()) {
            queue.Post({kMsgClose, 0, 0, {}, 0});
            std::this_thread::yield();
        }
    });
    ASSERT_TRUE(WaitFor([&] { return queue.Size() > 0; }));
    std::atomic<int> calls{0};
    queue.SetNotifier([&] { ++calls; });
    EXPECT_TRUE(WaitFor([&] { return calls.load() > 0; }));
    queue.SetNotifier(nullptr);
    stop.store(true);
    poster.join();
}

}  // namespace
}  // namespace zuvo::platform
