// The real LinuxHidSystem against an emulated kernel: udev enumeration and attributes, the
// hidraw node's reads, writes and poll, unplugging, permissions and the udev monitor.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "link/box_link.h"
#include "link/box_protocol.h"
#include "platform/errors.h"
#include "platform/posix/hid_linux.h"
#include "umockdev/hidraw_testbed.h"
#include "utility/utility_link.h"

namespace zuvo::test {
namespace {

using platform::HidAccess;
using platform::HidAttributes;
using platform::HidReadResult;
using platform::HidReadStatus;
using platform::IHidHandle;
using platform::posix::LinuxHidSystem;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

class NoLinkEvents : public ILinkEvents {};

class NoUtilityEvents : public IUtilityLinkEvents {
  public:
    void ResetControls() override {}
    void RefreshControls() override {}
};

HidDevice Usb(const std::string& port, int node, uint16_t vendor, uint16_t product,
              const std::string& name) {
    HidDevice device;
    device.port = port;
    device.node = node;
    device.vendorId = vendor;
    device.productId = product;
    device.bcdDevice = 0x0100;
    device.manufacturer = "Maker";
    device.product = name;
    return device;
}

// A Read that does not return in time is woken and fails the test instead of hanging it.
HidReadResult ReadWithin(IHidHandle& reader, uint8_t* buf, size_t length,
                         uint32_t* error = nullptr) {
    auto done = std::async(std::launch::async, [&] {
        const HidReadResult result = reader.Read(buf, length);
        if (error != nullptr) {
            *error = platform::GetLastError();
        }
        return result;
    });
    if (done.wait_for(5s) != std::future_status::ready) {
        ADD_FAILURE() << "the read did not return";
        reader.Wake();
    }
    return done.get();
}

class LinuxHidOnEmulatedKernel : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string why = HidrawTestbed::Unavailable();
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
        bed = std::make_unique<HidrawTestbed>();
    }

    // Destroyed in reverse: the backend stops its threads before the queue they post to
    // goes, and the emulated kernel goes last.
    std::unique_ptr<HidrawTestbed> bed;
    platform::MessageQueue queue;
    LinuxHidSystem hid;
};

TEST_F(LinuxHidOnEmulatedKernel, EnumeratesInBusOrderAndEachProgramTakesItsDevice) {
    const std::string receiver = bed->Plug(Usb("1-1", 200, 0x046D, 0xC52B, "Receiver"));
    const std::string loader = bed->Plug(Usb("1-2", 201, 0x16C0, 0x065F, "Boot Loader"));
    const std::string second = bed->Plug(Usb("1-4", 203, 0x16C0, 0x065E, "Zuvo Box"));
    platform::SetLastError(99);
    EXPECT_EQ(hid.EnumerateInterfaces(),
              (std::vector<std::string>{receiver, loader, bed->BoxNode(), second}));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorSuccess);

    // The interface program passes over the receiver and the boot loader without a line and
    // takes the first box; its queries reach the box as unnumbered reports and are answered.
    FakeEventLog log;
    BoxState state;
    NoLinkEvents events;
    BoxLink link(hid, queue, log, state, events);
    link.FindBox();
    ASSERT_TRUE(link.IsConnectedFlag());
    EXPECT_EQ(link.DevicePath(), bed->BoxNode());
    EXPECT_TRUE(log.lines.empty());
    const std::vector<Bytes> received = bed->Received(bed->BoxNode());
    ASSERT_EQ(received.size(), box::kInterfaceConnectQuery.size());
    for (size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(received[i], (Bytes{box::kQuery, box::kInterfaceConnectQuery[i]})) << i;
    }
    EXPECT_TRUE(bed->Received(second).empty());
    platform::Message answer;
    ASSERT_TRUE(queue.Wait(answer, 5s));
    EXPECT_EQ(answer.id, platform::kMsgBoxReport);
    EXPECT_EQ(answer.lParam, box::ReportWord(box::kQuery, 0x10));  // the version byte
    link.Shutdown();

    // The utility takes the first box or boot loader: here the boot loader, in update mode.
    NoUtilityEvents utilityEvents;
    UtilityLink utility(hid, queue, log, utilityEvents);
    ASSERT_TRUE(utility.FindBox());
    EXPECT_EQ(utility.DevicePath(), loader);
    EXPECT_TRUE(utility.UpdateMode());
    utility.Shutdown();
}

TEST_F(LinuxHidOnEmulatedKernel, AttributesComeFromTheUsbDeviceElseTheHidIdElseTheNode) {
    HidDevice bluetooth = Usb("", 201, 0x16C0, 0x065E, "Zuvo Box");
    bluetooth.bus = HidDevice::Bus::kBluetooth;
    HidDevice platformDevice = Usb("serial0", 202, 0x1234, 0x5678, "Pad");
    platformDevice.bus = HidDevice::Bus::kPlatform;
    const std::string overBluetooth = bed->Plug(bluetooth);
    const std::string onPlatform = bed->Plug(platformDevice);

    auto attributes = [&](const std::string& node) {
        HidAttributes a;
        auto handle = hid.Open(node, HidAccess::kAttributes);
        EXPECT_NE(handle, nullptr) << node;
        if (handle) {
            EXPECT_TRUE(handle->GetAttributes(a)) << node;
        }
        return std::vector<uint16_t>{a.vendorId, a.productId, a.versionNumber};
    };
    // The release number is only in the USB device descriptor.
    EXPECT_EQ(attributes(bed->BoxNode()), (std::vector<uint16_t>{0x16C0, 0x065E, 0x0100}));
    EXPECT_EQ(attributes(overBluetooth), (std::vector<uint16_t>{0x16C0, 0x065E, 0}));
    EXPECT_EQ(attributes(onPlatform), (std::vector<uint16_t>{0x1234, 0x5678, 0}));
}

TEST_F(LinuxHidOnEmulatedKernel, ReportsCrossTheNodeWithTheirIdAsHidrawTakesAndGivesThem) {
    auto writer = hid.Open(bed->BoxNode(), HidAccess::kWrite);
    auto reader = hid.Open(bed->BoxNode(), HidAccess::kRead);
    ASSERT_TRUE(writer && reader);

    const uint8_t query[] = {0x00, box::kQuery, box::kKeyerSpeed};  // report ID 0 first
    ASSERT_TRUE(writer->Write(query, sizeof query));
    EXPECT_EQ(bed->Received(bed->BoxNode()), (std::vector<Bytes>{{box::kQuery, box::kKeyerSpeed}}));

    uint8_t buf[3] = {0xFF, 0xFF, 0xFF};
    HidReadResult result = ReadWithin(*reader, buf, sizeof buf);
    ASSERT_EQ(result.status, HidReadStatus::kReport);
    EXPECT_EQ(result.length, 3u);
    EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0x00, box::kKeyerSpeed, 20}));  // ID 0 put back

    // A wake ends a read blocked on the node.
    auto blocked = std::async(std::launch::async, [&] { return reader->Read(buf, sizeof buf); });
    EXPECT_EQ(blocked.wait_for(50ms), std::future_status::timeout);
    reader->Wake();
    ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(blocked.get().status, HidReadStatus::kWoken);
}

TEST_F(LinuxHidOnEmulatedKernel, UnplugFailsABlockedReadAndLaterWritesAsDeviceNotConnected) {
    auto writer = hid.Open(bed->BoxNode(), HidAccess::kWrite);
    auto reader = hid.Open(bed->BoxNode(), HidAccess::kRead);
    ASSERT_TRUE(writer && reader);
    uint8_t buf[3];
    uint32_t error = 0;
    auto blocked =
        std::async(std::launch::async, [&] { return ReadWithin(*reader, buf, 3, &error); });
    EXPECT_EQ(blocked.wait_for(50ms), std::future_status::timeout);
    ASSERT_TRUE(bed->UnplugBox());
    EXPECT_EQ(blocked.get().status, HidReadStatus::kError);
    EXPECT_EQ(error, platform::kErrorDeviceNotConnected);

    const uint8_t report[] = {0x00, box::kQuery, box::kKeyerSpeed};
    EXPECT_FALSE(writer->Write(report, sizeof report));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorDeviceNotConnected);

    // Handles die with the device: the box plugged back in is a new device on the node.
    ASSERT_TRUE(bed->ReplugBox());
    EXPECT_FALSE(writer->Write(report, sizeof report));
    auto again = hid.Open(bed->BoxNode(), HidAccess::kWrite);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->Write(report, sizeof report));
}

TEST_F(LinuxHidOnEmulatedKernel, ABoxWhoseNodeTheUserMayNotOpenIsLoggedAndPassedOver) {
    HidDevice locked = Usb("1-1", 200, 0x16C0, 0x065E, "Zuvo Box");
    locked.accessible = false;  // no udev rule gave the user this one
    bed->Plug(locked);
    FakeEventLog log;
    BoxState state;
    NoLinkEvents events;
    BoxLink link(hid, queue, log, state, events);
    {
        AsOrdinaryUser user;
        link.FindBox();
    }
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"CreateFile(WriteHandle): ", " Permission denied"}));
    EXPECT_TRUE(link.IsConnectedFlag());
    EXPECT_EQ(link.DevicePath(), bed->BoxNode());
    link.Shutdown();
}

TEST_F(LinuxHidOnEmulatedKernel, EachArrivalAndRemovalIsPostedOnceWithItsNode) {
    ASSERT_TRUE(hid.RegisterDeviceNotifications(queue));
    ASSERT_TRUE(bed->UnplugBox());
    const std::string receiver = bed->Plug(Usb("1-1", 200, 0x046D, 0xC52B, "Receiver"));
    ASSERT_TRUE(bed->ReplugBox());

    std::vector<std::pair<uint32_t, std::string>> posted;
    platform::Message m;
    while (queue.Wait(m, posted.size() < 3 ? 5000ms : 300ms)) {
        ASSERT_EQ(m.id, platform::kMsgDeviceChange);
        posted.emplace_back(m.wParam, m.text);
    }
    const std::vector<std::pair<uint32_t, std::string>> expected = {
        {platform::kDeviceRemoveComplete, bed->BoxNode()},
        {platform::kDeviceArrival, receiver},
        {platform::kDeviceArrival, bed->BoxNode()},
    };
    EXPECT_EQ(posted, expected);
}

}  // namespace
}  // namespace zuvo::test
