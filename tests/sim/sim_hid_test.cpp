#include "sim/sim_hid.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <ctime>
#include <sstream>
#include <thread>

#include "link/box_protocol.h"
#include "platform/errors.h"

namespace zuvo::sim {
namespace {

using platform::HidAccess;
using platform::HidReadStatus;

bool WriteReport(platform::IHidHandle& h, uint8_t code, uint8_t value) {
    const uint8_t report[3] = {0, code, value};
    return h.Write(report, sizeof report);
}

class SimHidManualTest : public ::testing::Test {
  protected:
    // The queue outlives the system that posts to it.
    platform::MessageQueue queue;
    VirtualClock clock;
    SimHidSystem hid{SimHidSystem::Options{&clock, false}};
};

TEST_F(SimHidManualTest, PresentsTheBoxLikeAUsbDevice) {
    hid.SetVersion(1, 2, 3, 0);
    ASSERT_EQ(hid.EnumerateInterfaces(), std::vector<std::string>{kSimBoxPath});
    auto device = hid.Open(kSimBoxPath, HidAccess::kAttributes);
    ASSERT_TRUE(device);
    platform::HidAttributes attributes;
    ASSERT_TRUE(device->GetAttributes(attributes));
    EXPECT_EQ(attributes.vendorId, 0x16C0);
    EXPECT_EQ(attributes.productId, 0x065E);
    EXPECT_EQ(attributes.versionNumber, 0x1203);
    EXPECT_FALSE(hid.Open("/dev/hidraw9", HidAccess::kRead));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorFileNotFound);

    hid.SetPot(31);  // nobody listens yet: this report is lost
    auto writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    auto reader = hid.Open(kSimBoxPath, HidAccess::kRead);
    ASSERT_TRUE(WriteReport(*writer, 0x00, 0x00));
    uint8_t buf[3] = {0xFF, 0xFF, 0xFF};
    auto result = reader->Read(buf, sizeof buf);
    EXPECT_EQ(result.status, HidReadStatus::kReport);
    EXPECT_EQ(result.length, 3u);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 0x00);
    EXPECT_EQ(buf[2], 0x12);
    // Only whole 3-byte reports with ID 0 are taken.
    const uint8_t shortReport[2] = {0, 0x11};
    EXPECT_FALSE(writer->Write(shortReport, sizeof shortReport));
    EXPECT_FALSE(reader->Write(buf, sizeof buf));
    reader->Wake();
    EXPECT_EQ(reader->Read(buf, sizeof buf).status, HidReadStatus::kWoken);
}

TEST_F(SimHidManualTest, DelayedRepliesWaitForTheirTime) {
    hid.SetReplyDelayMs(5);
    auto writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    auto reader = hid.Open(kSimBoxPath, HidAccess::kRead);
    ASSERT_TRUE(WriteReport(*writer, 0x11, 25));
    std::atomic<bool> got{false};
    std::thread t([&] {
        uint8_t buf[3];
        auto r = reader->Read(buf, sizeof buf);
        got = r.status == HidReadStatus::kReport && buf[1] == 0x11 && buf[2] == 25;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(got);  // held back: the virtual clock has not moved
    clock.Advance(5);
    hid.Service();
    t.join();
    EXPECT_TRUE(got);
}

TEST_F(SimHidManualTest, UnplugKillsHandlesAndNotifies) {
    ASSERT_TRUE(hid.RegisterDeviceNotifications(queue));
    auto writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    auto reader = hid.Open(kSimBoxPath, HidAccess::kRead);
    WriteReport(*writer, 0x00, 0x11);  // an answer waits, then is lost with the device
    std::thread t;
    uint32_t readError = 0;
    HidReadStatus status = HidReadStatus::kReport;
    uint8_t buf[3];
    reader->Read(buf, sizeof buf);
    t = std::thread([&] {
        auto r = reader->Read(buf, sizeof buf);  // blocks until the plug is pulled
        status = r.status;
        readError = platform::GetLastError();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    hid.Unplug();
    t.join();
    EXPECT_EQ(status, HidReadStatus::kError);
    EXPECT_EQ(readError, platform::kErrorDeviceNotConnected);
    EXPECT_FALSE(WriteReport(*writer, 0x11, 20));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorDeviceNotConnected);
    EXPECT_TRUE(hid.EnumerateInterfaces().empty());
    EXPECT_FALSE(hid.Open(kSimBoxPath, HidAccess::kRead));

    platform::Message m;
    ASSERT_TRUE(queue.TryGet(m));
    EXPECT_EQ(m.id, platform::kMsgDeviceChange);
    EXPECT_EQ(m.wParam, platform::kDeviceRemoveComplete);
    EXPECT_EQ(m.text, kSimBoxPath);

    hid.Replug();
    ASSERT_TRUE(queue.TryGet(m));
    EXPECT_EQ(m.wParam, platform::kDeviceArrival);
    EXPECT_EQ(m.text, kSimBoxPath);
    EXPECT_FALSE(queue.TryGet(m));
    // Old handles stay dead; new ones work.
    EXPECT_FALSE(WriteReport(*writer, 0x11, 20));
    EXPECT_EQ(reader->Read(buf, sizeof buf).status, HidReadStatus::kError);
    auto writer2 = hid.Open(kSimBoxPath, HidAccess::kWrite);
    auto reader2 = hid.Open(kSimBoxPath, HidAccess::kRead);
    ASSERT_TRUE(WriteReport(*writer2, 0x11, 20));
    EXPECT_EQ(reader2->Read(buf, sizeof buf).status, HidReadStatus::kReport);
    EXPECT_EQ(buf[1], 0x11);
}

TEST_F(SimHidManualTest, ResetDefaultsDropsOffAndReturns) {
    hid.RegisterDeviceNotifications(queue);
    auto writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    ASSERT_TRUE(WriteReport(*writer, 0x03, 0x24));
    platform::Message m;
    ASSERT_TRUE(queue.TryGet(m));
    EXPECT_EQ(m.wParam, platform::kDeviceRemoveComplete);
    clock.Advance(SimBox::kRestartOfflineMs - 1);
    hid.Service();
    EXPECT_FALSE(queue.TryGet(m));
    clock.Advance(1);
    hid.Service();
    ASSERT_TRUE(queue.TryGet(m));
    EXPECT_EQ(m.wParam, platform::kDeviceArrival);
    EXPECT_EQ(hid.EnumerateInterfaces().size(), 1u);
}

TEST_F(SimHidManualTest, OtherDevicesAndSecondBox) {
    hid.AddOtherDevice({"/dev/hidraw-mouse", 0x046D, 0xC077, 0x0100, 8});
    const size_t second = hid.AddBox("/dev/zuvobox-sim1");
    EXPECT_EQ(hid.EnumerateInterfaces(),
              (std::vector<std::string>{kSimBoxPath, "/dev/hidraw-mouse", "/dev/zuvobox-sim1"}));
    auto mouse = hid.Open("/dev/hidraw-mouse", HidAccess::kAttributes);
    platform::HidAttributes attributes;
    ASSERT_TRUE(mouse->GetAttributes(attributes));
    EXPECT_EQ(attributes.productId, 0xC077);

    hid.WithBox([](SimBox& box) { box.SetVersion(3, 0, 0, 0); }, second);
    auto writer = hid.Open("/dev/zuvobox-sim1", HidAccess::kWrite);
    auto reader = hid.Open("/dev/zuvobox-sim1", HidAccess::kRead);
    WriteReport(*writer, 0, 0);
    uint8_t buf[3];
    ASSERT_EQ(reader->Read(buf, sizeof buf).status, HidReadStatus::kReport);
    EXPECT_EQ(buf[2], 0x30);

    hid.RegisterDeviceNotifications(queue);
    hid.SetOtherDevicePresent("/dev/hidraw-mouse", false);
    platform::Message m;
    ASSERT_TRUE(queue.TryGet(m));
    EXPECT_EQ(m.wParam, platform::kDeviceRemoveComplete);
    EXPECT_EQ(m.text, "/dev/hidraw-mouse");
}

TEST_F(SimHidManualTest, TranscriptOfBothDirections) {
    std::ostringstream out;
    hid.SetTranscript(&out);
    clock.Set(42);
    auto writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    auto reader = hid.Open(kSimBoxPath, HidAccess::kRead);
    WriteReport(*writer, 0x30, 0x1f);
    uint8_t buf[3];
    reader->Read(buf, sizeof buf);
    EXPECT_EQ(out.str(), "42 host 0x30 0x1f\n42 box 0x30 0x1f\n");
    hid.SetTranscript(nullptr);
}

// What a boot loader needs: another product ID and 65-byte reports both ways.
class FakeBootLoader final : public ISimComponent {
  public:
    bool OnHostReport(uint8_t, uint8_t, SimBox&) override { return false; }
    bool OnRawReport(const uint8_t* data, size_t length, SimBox& box) override {
        std::vector<uint8_t> answer(data, data + length);
        answer[2] = 0xAA;
        box.EmitRaw(std::move(answer));
        return true;
    }
};

TEST_F(SimHidManualTest, BoxCanReturnAsAnotherProductWithLongReports) {
    hid.RegisterDeviceNotifications(queue);
    hid.WithBox([](SimBox& box) {
        box.AddComponent(std::make_unique<FakeBootLoader>());
        box.SetUpdateModeHandler([](SimBox& b) {
            b.SetUsbIdentity(0x065F, 65);
            b.Restart();
        });
    });
    auto writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    ASSERT_TRUE(WriteReport(*writer, 0x08, 0x21));
    clock.Advance(SimBox::kRestartOfflineMs);
    hid.Service();
    platform::Message m;
    ASSERT_TRUE(queue.TryGet(m));
    EXPECT_EQ(m.wParam, platform::kDeviceRemoveComplete);
    ASSERT_TRUE(queue.TryGet(m));
    EXPECT_EQ(m.wParam, platform::kDeviceArrival);

    platform::HidAttributes attributes;
    ASSERT_TRUE(hid.Open(kSimBoxPath, HidAccess::kAttributes)->GetAttributes(attributes));
    EXPECT_EQ(attributes.productId, 0x065F);
    writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    auto reader = hid.Open(kSimBoxPath, HidAccess::kRead);
    EXPECT_FALSE(WriteReport(*writer, 0x00, 0x00));  // 3 bytes no longer fit
    std::vector<uint8_t> report(65, 0);
    report[1] = 0x01;
    report[64] = 0x5A;
    ASSERT_TRUE(writer->Write(report.data(), report.size()));
    uint8_t buf[65] = {};
    auto r = reader->Read(buf, sizeof buf);
    ASSERT_EQ(r.status, HidReadStatus::kReport);
    EXPECT_EQ(r.length, 65u);
    EXPECT_EQ(buf[1], 0x01);
    EXPECT_EQ(buf[2], 0xAA);
    EXPECT_EQ(buf[64], 0x5A);
}

// The process's CPU time. std::clock() is that on Linux but wall-clock time on Windows.
double ProcessCpuMs() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
#else
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

// The driver sleeps while nothing is due, also with an answer nobody has collected yet.
TEST(SimHidRealTime, IdleDriverUsesNoCpu) {
    SimHidSystem hid;
    auto writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    ASSERT_TRUE(WriteReport(*writer, 0x00, 0x00));  // left unread
    const double before = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(ProcessCpuMs() - before, 30.0);
}

// An answer the box gives at once wakes its reader and no one else: the driver thread sleeps
// through every request that brings no timed event forward.
TEST(SimHidRealTime, AnswersWakeOnlyTheReader) {
    SimHidSystem hid;
    auto writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    auto reader = hid.Open(kSimBoxPath, HidAccess::kRead);
    const uint64_t before = hid.DriverWakeups();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(WriteReport(*writer, box::kQuery, box::kKeyerSpeed));
        uint8_t buf[3];
        ASSERT_EQ(reader->Read(buf, sizeof buf).status, HidReadStatus::kReport);
        ASSERT_EQ(buf[1], box::kKeyerSpeed);
    }
    EXPECT_LE(hid.DriverWakeups() - before, 2u);
}

// Real time, with the driver thread: a delayed reply arrives on time and the box returns
// by itself after Reset Defaults.
TEST(SimHidRealTime, DriverDeliversOnTime) {
    platform::MessageQueue queue;  // outlives the driver thread that posts to it
    SimHidSystem hid;
    hid.RegisterDeviceNotifications(queue);
    hid.SetReplyDelayMs(40);
    auto writer = hid.Open(kSimBoxPath, HidAccess::kWrite);
    auto reader = hid.Open(kSimBoxPath, HidAccess::kRead);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WriteReport(*writer, 0x00, 0x11));
    uint8_t buf[3];
    ASSERT_EQ(reader->Read(buf, sizeof buf).status, HidReadStatus::kReport);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(39));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1000));

    ASSERT_TRUE(WriteReport(*writer, 0x03, 0x24));
    platform::Message m;
    ASSERT_TRUE(queue.Wait(m, std::chrono::milliseconds(1000)));
    EXPECT_EQ(m.wParam, platform::kDeviceRemoveComplete);
    ASSERT_TRUE(queue.Wait(m, std::chrono::milliseconds(2000)));
    EXPECT_EQ(m.wParam, platform::kDeviceArrival);
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(SimBox::kRestartOfflineMs));
}

}  // namespace
}  // namespace zuvo::sim
