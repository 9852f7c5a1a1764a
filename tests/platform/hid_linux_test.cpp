#include "platform/posix/hid_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/errors.h"
#include "temp_dir.h"

namespace zuvo::platform::posix {
namespace {

TEST(LinuxHidSystem, EnumerationListsOnlyHidrawNodes) {
    LinuxHidSystem hid;
    SetLastError(12345);
    const std::vector<std::string> paths = hid.EnumerateInterfaces();
    for (const std::string& path : paths) {
        EXPECT_EQ(path.rfind("/dev/hidraw", 0), 0u) << path;
    }
    EXPECT_EQ(GetLastError(), kErrorSuccess);
}

TEST(LinuxHidSystem, OpeningWhatIsNoHidDeviceFailsWithTheReason) {
    LinuxHidSystem hid;
    for (HidAccess access : {HidAccess::kAttributes, HidAccess::kWrite, HidAccess::kRead}) {
        SetLastError(0);
        EXPECT_EQ(hid.Open("/dev/hidraw-none", access), nullptr);
        EXPECT_EQ(GetLastError(), FromErrno(ENOENT));
    }
    // The identity check must never touch a node that is not a hidraw device.
    SetLastError(0);
    EXPECT_EQ(hid.Open("/dev/null", HidAccess::kAttributes), nullptr);
    EXPECT_EQ(GetLastError(), FromErrno(ENODEV));
}

// A write handle holds the node exclusively, against any other program and this one.
TEST(LinuxHidSystem, AWriteHandleHoldsTheDeviceUntilItIsClosed) {
    test::TempDir dir;
    const std::string node = dir / "hidraw";
    ::close(::open(node.c_str(), O_CREAT | O_WRONLY, 0600));
    LinuxHidSystem hid;
    auto holder = hid.Open(node, HidAccess::kWrite);
    ASSERT_NE(holder, nullptr);
    SetLastError(0);
    EXPECT_EQ(hid.Open(node, HidAccess::kWrite), nullptr);
    EXPECT_EQ(GetLastError(), kErrorSharingViolation);
    EXPECT_NE(hid.Open(node, HidAccess::kRead), nullptr);  // reading shares
    holder.reset();
    EXPECT_NE(hid.Open(node, HidAccess::kWrite), nullptr);
}

// A FIFO stands in for a hidraw node: it has the same read, write and poll behaviour that
// the handles rely on (reports as whole writes, POLLHUP when the other side goes).
class HidHandleOnFifo : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0); }

    test::TempDir dir_;
    std::string path_ = dir_ / "hidraw";
    LinuxHidSystem hid_;
};

TEST_F(HidHandleOnFifo, ReadPutsReportIdZeroInFrontAndWakesCount) {
    auto reader = hid_.Open(path_, HidAccess::kRead);
    ASSERT_NE(reader, nullptr);
    const int device = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(device, 0);

    reader->Wake();
    reader->Wake();
    const uint8_t report[] = {0x31, 0x07};  // command, value
    ASSERT_EQ(::write(device, report, sizeof report), 2);

    uint8_t buf[3] = {0xFF, 0xFF, 0xFF};
    EXPECT_EQ(reader->Read(buf, sizeof buf).status, HidReadStatus::kWoken);  // wakes win
    EXPECT_EQ(reader->Read(buf, sizeof buf).status, HidReadStatus::kWoken);
    const HidReadResult result = reader->Read(buf, sizeof buf);
    ASSERT_EQ(result.status, HidReadStatus::kReport);
    EXPECT_EQ(result.length, 3u);
    EXPECT_EQ(buf[0], 0x00);
    EXPECT_EQ(buf[1], 0x31);
    EXPECT_EQ(buf[2], 0x07);

    // The other side going away is an unplugged device.
    ::close(device);
    SetLastError(0);
    EXPECT_EQ(reader->Read(buf, sizeof buf).status, HidReadStatus::kError);
    EXPECT_EQ(GetLastError(), kErrorDeviceNotConnected);
}

TEST_F(HidHandleOnFifo, WakeFromAnotherThreadEndsABlockedRead) {
    auto reader = hid_.Open(path_, HidAccess::kRead);
    ASSERT_NE(reader, nullptr);
    const int device = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(device, 0);
    HidReadResult result;
    std::thread thread([&] {
        uint8_t buf[3];
        result = reader->Read(buf, sizeof buf);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    reader->Wake();
    thread.join();
    EXPECT_EQ(result.status, HidReadStatus::kWoken);
    ::close(device);
}

TEST_F(HidHandleOnFifo, WriteSendsTheWholeReportWithItsIdByte) {
    const int device = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(device, 0);
    auto writer = hid_.Open(path_, HidAccess::kWrite);
    ASSERT_NE(writer, nullptr);
    const uint8_t report[] = {0x00, 0x40, 0x02};
    ASSERT_TRUE(writer->Write(report, sizeof report));
    uint8_t got[8] = {};
    ASSERT_EQ(::read(device, got, sizeof got), 3);
    EXPECT_EQ(got[0], 0x00);
    EXPECT_EQ(got[1], 0x40);
    EXPECT_EQ(got[2], 0x02);

    // Nobody reads any more: the write fails with the reason. The FIFO would also raise
    // SIGPIPE, which a hidraw node never does; keep it blocked and take it back.
    ::close(device);
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous), 0);
    SetLastError(0);
    EXPECT_FALSE(writer->Write(report, sizeof report));
    EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
    const timespec noWait{0, 0};
    ::sigtimedwait(&pipeSignal, nullptr, &noWait);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    // Attributes of something that is no HID device cannot be read.
    HidAttributes attributes;
    EXPECT_FALSE(writer->GetAttributes(attributes));
    EXPECT_NE(GetLastError(), kErrorSuccess);
}

TEST(LinuxHidSystem, NotificationThreadStopsWhenDestroyed) {
    MessageQueue queue;
    for (int round = 0; round < 3; ++round) {
        LinuxHidSystem hid;
        if (!hid.RegisterDeviceNotifications(queue)) {
            EXPECT_NE(GetLastError(), kErrorSuccess);  // no netlink here: a clean failure
            continue;
        }
        EXPECT_TRUE(hid.RegisterDeviceNotifications(queue));  // a second call is harmless
    }
}

}  // namespace
}  // namespace zuvo::platform::posix
