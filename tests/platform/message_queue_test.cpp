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

// A reader is held back at its limit until the main thread has taken its messages down to
// half; others' messages do not count against it, and stopping it frees it at once.
TEST(MessageQueue, FlowHoldsItsReaderBackUntilTheMainThreadCatchesUp) {
    MessageQueue queue;
    const uint32_t flow = queue.AddFlow(4);
    queue.Post({kMsgClose, 0, 0, {}, 0});  // not the flow's
    EXPECT_EQ(queue.WaitForRoom(flow), 4u);

    std::atomic<int> posted{0};
    std::atomic<bool> stopped{false};
    std::thread reader([&] {
        for (;;) {
            const size_t room = queue.WaitForRoom(flow);
            if (room == 0) {
                stopped.store(true);
                return;
            }
            for (size_t i = 0; i < room; ++i) {
                Message m;
                m.id = kMsgSwitchingPortByte;
                m.flow = flow;
                queue.Post(std::move(m));
                ++posted;
            }
        }
    });
    ASSERT_TRUE(WaitFor([&] { return posted.load() == 4; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(posted.load(), 4);  // held at the limit

    Message m;
    ASSERT_TRUE(queue.TryGet(m));  // the other message
    ASSERT_TRUE(queue.TryGet(m));  // 3 of the flow's wait: still held
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(posted.load(), 4);
    ASSERT_TRUE(queue.TryGet(m));  // 2 wait, half the limit: room for 2 more
    ASSERT_TRUE(WaitFor([&] { return posted.load() == 6; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(posted.load(), 6);

    queue.StopFlow(flow);
    EXPECT_TRUE(WaitFor([&] { return stopped.load(); }));
    reader.join();
    EXPECT_EQ(queue.WaitForRoom(flow), 0u);
    queue.StartFlow(flow);
    while (queue.TryGet(m)) {
    }
    EXPECT_EQ(queue.WaitForRoom(flow), 4u);
}

}  // namespace
}  // namespace zuvo::platform
