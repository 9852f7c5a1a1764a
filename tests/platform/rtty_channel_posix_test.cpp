#include "platform/posix/rtty_channel_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/posix/rtty_client_posix.h"

namespace zuvo::platform::posix {
namespace {

std::string UniqueBlockName() {
    static std::atomic<int> n{0};
    return "/zuvo-rtty-test-" + std::to_string(getpid()) + "-" + std::to_string(n++);
}

bool BlockExists(const std::string& name) {
    const int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd >= 0) {
        close(fd);
    }
    return fd >= 0;
}

// A block as a program that has ended leaves it: no lock held, its pid at offset 0.
void LeaveBlock(const std::string& name, uint32_t pid) {
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, kRttyBlockSize));
    uint32_t fields[2] = {pid, 1};
    ASSERT_EQ(8, pwrite(fd, fields, 8, 0));
    close(fd);
}

uint32_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return static_cast<uint32_t>(child);
}

TEST(RttySharedBlockPosix, CreatedPrivateLittleEndianAndRemovedAtExit) {
    const std::string name = UniqueBlockName();
    {
        PosixRttySharedBlock block(name);
        ASSERT_EQ(SharedBlockOpen::kCreated, block.CreateOrOpen());
        block.Write32(12, 0x04030201);
        block.Write32(4096, 7);  // outside: ignored
        block.Write32(13, 7);    // unaligned: ignored

        const int fd = shm_open(name.c_str(), O_RDONLY, 0);
        ASSERT_GE(fd, 0);
        struct stat st {};
        ASSERT_EQ(0, fstat(fd, &st));
        EXPECT_EQ(0600u, st.st_mode & 0777);
        EXPECT_EQ(static_cast<off_t>(kRttyBlockSize), st.st_size);
        uint8_t bytes[4] = {};
        ASSERT_EQ(4, pread(fd, bytes, 4, 12));
        EXPECT_EQ(0, std::memcmp(bytes, "\x01\x02\x03\x04", 4));
        close(fd);
        EXPECT_EQ(0x04030201u, block.Read32(12));
    }
    EXPECT_FALSE(BlockExists(name));
}

TEST(RttySharedBlockPosix, BlockOfARunningProgramIsLeftAlone) {
    const std::string name = UniqueBlockName();
    PosixRttySharedBlock first(name);
    ASSERT_EQ(SharedBlockOpen::kCreated, first.CreateOrOpen());
    first.Write32(0, 4242);
    PosixRttySharedBlock second(name);
    EXPECT_EQ(SharedBlockOpen::kFailed, second.CreateOrOpen());
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(4242u, first.Read32(0));
}

TEST(RttySharedBlockPosix, StaleBlockIsTakenOver) {
    const std::string dead = UniqueBlockName();
    LeaveBlock(dead, DeadPid());
    {
        PosixRttySharedBlock block(dead);
        EXPECT_EQ(SharedBlockOpen::kCreated, block.CreateOrOpen());
    }
    EXPECT_FALSE(BlockExists(dead));

    // The pid lives (reused by an unrelated process) but nobody holds the block: ours too.
    const std::string reused = UniqueBlockName();
    LeaveBlock(reused, static_cast<uint32_t>(getppid()));
    PosixRttySharedBlock block(reused);
    EXPECT_EQ(SharedBlockOpen::kOpened, block.CreateOrOpen());
    EXPECT_TRUE(block.IsOpen());
}

class RttyMessagePosixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zuvo-rtty-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir = tmpl;
        socketPath = dir + "/Zuvo Box RTTY Message";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Waits for the next posted message.
    bool Next(Message& out) { return queue.Wait(out, std::chrono::seconds(5)); }

    void SendRaw(const void* data, size_t size) {
        const int s = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, socketPath.c_str());
        EXPECT_EQ(static_cast<ssize_t>(size),
                  sendto(s, data, size, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
        close(s);
    }

    std::string dir;
    std::string socketPath;
    std::string blockName = UniqueBlockName();
    MessageQueue queue;
};

TEST_F(RttyMessagePosixTest, ClientFindsTheProgramAndItsMessagesArrive) {
    PosixRttySharedBlock block(blockName);
    PosixRttyMessageReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.Register(queue));
    ASSERT_NE(SharedBlockOpen::kFailed, block.CreateOrOpen());
    block.Write32(kRttyOffsetTarget, receiver.Target());
    block.Write32(kRttyOffsetMarker, 1);
    block.Write32(RttyCounterOffset(3), 17);

    PosixRttyTransport client(blockName, socketPath);
    std::string error;
    ASSERT_TRUE(client.Open(error)) << error;
    EXPECT_EQ(static_cast<uint32_t>(getpid()), client.ProgramId());
    EXPECT_EQ(17u, client.ReadCounter(3));
    EXPECT_TRUE(client.ProgramRunning());

    ASSERT_TRUE(client.Send(0x00410106, error)) << error;
    Message m;
    ASSERT_TRUE(Next(m));
    EXPECT_EQ(kMsgRtty, m.id);
    EXPECT_EQ(0x00410106u, m.wParam);
    EXPECT_EQ(0, m.lParam);
    EXPECT_TRUE(m.text.empty());

    const uint8_t withLParam[8] = {0x05, 0x01, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
    SendRaw(withLParam, sizeof withLParam);
    ASSERT_TRUE(Next(m));
    EXPECT_EQ(0x00010105u, m.wParam);
    EXPECT_EQ(-1, m.lParam);
}

TEST_F(RttyMessagePosixTest, WrongSizesAreDroppedAndReportedOnce) {
    {
        PosixRttyMessageReceiver receiver(socketPath);
        ASSERT_TRUE(receiver.Register(queue));
        const uint8_t bytes[64] = {6, 1, 0x41, 0};
        SendRaw(bytes, 3);
        SendRaw(bytes, 64);
        SendRaw(bytes, 0);
        SendRaw(bytes, 4);
        Message m;
        ASSERT_TRUE(Next(m));
        EXPECT_EQ(kMsgRtty, m.id);
        EXPECT_EQ(
            "RE - ignored a message of 3 bytes (4 or 8 expected); further ones are not logged",
            m.text);
        ASSERT_TRUE(Next(m));
        EXPECT_TRUE(m.text.empty());
        EXPECT_EQ(0x00410106u, m.wParam);
        EXPECT_EQ(0u, queue.Size());
        EXPECT_TRUE(std::filesystem::exists(socketPath));
    }
    EXPECT_FALSE(std::filesystem::exists(socketPath));
}

TEST_F(RttyMessagePosixTest, SocketLeftByADeadProgramIsReplaced) {
    {
        const int s = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, socketPath.c_str());
        ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
        close(s);  // the file stays, as after a crash
    }
    PosixRttyMessageReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.Register(queue));
    const uint32_t hello = 0x00000101;
    SendRaw(&hello, 4);
    Message m;
    ASSERT_TRUE(Next(m));
    EXPECT_EQ(hello, m.wParam);
}

TEST_F(RttyMessagePosixTest, ASenderThatNeverStopsIsHeldBackByTheSocket) {
    PosixRttyMessageReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.Register(queue));
    const int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, socketPath.c_str());
    ASSERT_EQ(0, connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    const uint32_t hello = 0x00000101;
    // Nobody takes the messages: the receiver stops at its bound, and once the socket's
    // queue is full too the sender waits in vain.
    int sent = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        if (send(s, &hello, 4, 0) == 4) {
            ++sent;
            continue;
        }
        pollfd p{s, POLLOUT, 0};
        if (errno == EAGAIN && poll(&p, 1, 200) == 0 && queue.Size() >= 256) {
            break;
        }
    }
    close(s);
    EXPECT_GT(sent, 256);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(queue.Size(), 256u);
    // Taken, they make room for the rest, in order.
    Message m;
    for (int i = 0; i < sent; ++i) {
        ASSERT_TRUE(Next(m)) << i;
        EXPECT_EQ(m.wParam, hello);
    }
}

TEST_F(RttyMessagePosixTest, ClientReportsNoProgramClearly) {
    std::string error;
    PosixRttyTransport none(blockName, socketPath);
    EXPECT_FALSE(none.Open(error));
    EXPECT_NE(std::string::npos, error.find("no Zuvo Box interface program is running"));

    LeaveBlock(blockName, DeadPid());
    PosixRttyTransport stale(blockName, socketPath);
    error.clear();
    EXPECT_FALSE(stale.Open(error));
    EXPECT_NE(std::string::npos, error.find("which has ended")) << error;
    shm_unlink(blockName.c_str());

    // A block without anyone receiving at the socket.
    PosixRttySharedBlock block(blockName);
    ASSERT_EQ(SharedBlockOpen::kCreated, block.CreateOrOpen());
    block.Write32(kRttyOffsetTarget, static_cast<uint32_t>(getpid()));
    block.Write32(kRttyOffsetMarker, 1);
    PosixRttyTransport deaf(blockName, socketPath);
    ASSERT_TRUE(deaf.Open(error)) << error;
    EXPECT_FALSE(deaf.Send(0x0101, error));
    EXPECT_NE(std::string::npos, error.find("no Zuvo Box interface program is running"));
}

}  // namespace
}  // namespace zuvo::platform::posix
