#include "link/box_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fakes/fakes.h"
#include "link/box_protocol.h"
#include "platform/errors.h"
#include "platform/fake/fake_hid.h"

namespace zuvo {
namespace {

using platform::fake::FakeHidSystem;

class RecordingLinkEvents : public ILinkEvents {
  public:
    int counted = 0, opened = 0, notConnected = 0, disconnecting = 0, disconnected = 0;
    void CountSwitchingCommand() override { ++counted; }
    void OnBoxOpened() override { ++opened; }
    void OnBoxNotConnected() override { ++notConnected; }
    void OnDisconnecting() override { ++disconnecting; }
    void OnDisconnected() override { ++disconnected; }
};

FakeHidSystem::Device Identity(uint16_t vendor, uint16_t product) {
    FakeHidSystem::Device d;
    d.attributes.vendorId = vendor;
    d.attributes.productId = product;
    return d;
}

const FakeHidSystem::Device kBox = Identity(0x16C0, 0x065E);
const FakeHidSystem::Device kKeyboard = Identity(0x046D, 0xC31C);
const std::string kBoxPath = "/dev/hidraw3";

class BoxLinkTest : public ::testing::Test {
  protected:
    FakeHidSystem hid;
    platform::MessageQueue queue;
    test::FakeEventLog log;
    BoxState state;
    RecordingLinkEvents events;
    BoxLink link{hid, queue, log, state, events};

    // Waits for the device read thread to post something.
    bool NextMessage(platform::Message& m) {
        return queue.Wait(m, std::chrono::milliseconds(2000));
    }
    void Dispatch(const platform::Message& m) {
        if (m.id == platform::kMsgBoxReport && m.wParam != 0) {
            link.OnReadError(m.wParam, m.source);
        } else if (m.id == platform::kMsgDeviceChange) {
            link.OnDeviceChange(m.wParam, m.text);
        }
    }
    int Count(const std::string& line) const {
        return static_cast<int>(std::count(log.lines.begin(), log.lines.end(), line));
    }
};

TEST_F(BoxLinkTest, FindBoxSkipsOtherDevicesSilentlyAndSendsTheConnectQueryInOrder) {
    hid.AddDevice("/dev/hidraw0", kKeyboard);
    hid.AddDevice(kBoxPath, kBox);
    link.FindBox();

    ASSERT_TRUE(link.IsConnectedFlag());
    EXPECT_TRUE(log.lines.empty());  // the keyboard was closed without a line
    EXPECT_TRUE(state.initialQuery);
    const auto written = hid.Written(kBoxPath);
    ASSERT_EQ(written.size(), box::kInterfaceConnectQuery.size());
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(written[i], (std::vector<uint8_t>{0x00, 0x00, box::kInterfaceConnectQuery[i]}))
            << "query " << i;
    }
    EXPECT_EQ(events.counted, 9);  // Zuvo Config, Blend, State, Map 1/2, Aux 1..4
    EXPECT_EQ(events.opened, 1);
    EXPECT_EQ(link.DevicePath(), kBoxPath);
}

TEST_F(BoxLinkTest, TwoBoxesOpenTheFirstAndABootLoaderIsIgnored) {
    hid.AddDevice("/dev/hidraw1", Identity(0x16C0, 0x065F));
    hid.AddDevice("/dev/hidraw2", kBox);
    hid.AddDevice("/dev/hidraw5", kBox);
    link.FindBox();
    EXPECT_EQ(link.DevicePath(), "/dev/hidraw2");
    EXPECT_TRUE(hid.Written("/dev/hidraw5").empty());
    EXPECT_TRUE(hid.Written("/dev/hidraw1").empty());
}

TEST_F(BoxLinkTest, NoBoxLeavesTheLinkDisconnectedWithoutALine) {
    hid.AddDevice("/dev/hidraw0", kKeyboard);
    link.FindBox();
    EXPECT_FALSE(link.IsConnectedFlag());
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(BoxLinkTest, OpenFailuresNameTheStepAndNeverLeaveTheLinkMarkedConnected) {
    struct Case {
        int access;
        const char* prefix;
    } cases[] = {{0, "CreateFile(DeviceHandle): "},
                 {1, "CreateFile(WriteHandle): "},
                 {2, "CreateFile(ReadHandle): "}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        FakeHidSystem::Device d = kBox;
        d.openError[c.access] = platform::kErrorAccessDenied;
        hid.AddDevice(kBoxPath, d);
        log.Clear();
        EXPECT_FALSE(link.OpenBox(kBoxPath));
        ASSERT_GE(log.lines.size(), 2u);
        EXPECT_EQ(log.lines[0], c.prefix);
        EXPECT_EQ(log.lines[1], " " + platform::SystemErrorText(platform::kErrorAccessDenied));
        EXPECT_FALSE(link.IsConnectedFlag());
        EXPECT_EQ(hid.OpenReadHandles(kBoxPath), 0);
        // Nothing counts as written: a send is refused as with no box at all.
        EXPECT_FALSE(link.SendBoxCommand(box::kKeyerSpeed, 20));
        EXPECT_EQ(log.lines.back(), "Zuvo Box is not connected");
        EXPECT_TRUE(hid.Written(kBoxPath).empty());
    }
}

TEST_F(BoxLinkTest, ABoxAnotherProgramHoldsIsNotShared) {
    hid.AddDevice(kBoxPath, kBox);
    test::FakeEventLog otherLog;
    RecordingLinkEvents otherEvents;
    BoxState otherState;
    BoxLink other{hid, queue, otherLog, otherState, otherEvents};
    ASSERT_TRUE(other.OpenBox(kBoxPath));

    link.FindBox();
    EXPECT_FALSE(link.IsConnectedFlag());
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Zuvo Box is in use by another program"}));
    EXPECT_EQ(hid.OpenReadHandles(kBoxPath), 1);  // the holder's only

    other.Shutdown();  // the holder ends: the box is free again
    EXPECT_TRUE(link.OpenBox(kBoxPath));
}

TEST_F(BoxLinkTest, AttributesFailureIsLogged) {
    FakeHidSystem::Device d = kBox;
    d.attributesError = platform::kErrorAccessDenied;
    hid.AddDevice(kBoxPath, d);
    EXPECT_FALSE(link.OpenBox(kBoxPath));
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines[0], "HidD_GetAttributes: ");
}

TEST_F(BoxLinkTest, SendWithoutABoxIsRefusedWithOneLine) {
    EXPECT_FALSE(link.SendBoxCommand(box::kKeyerControl, 8));
    EXPECT_EQ(log.lines, std::vector<std::string>{"Zuvo Box is not connected"});
    EXPECT_EQ(events.notConnected, 1);
}

TEST_F(BoxLinkTest, WriteFailureLogsAndDisconnectsOnce) {
    hid.AddDevice(kBoxPath, kBox);
    link.FindBox();
    hid.DeviceAt(kBoxPath).writeError = platform::kErrorAccessDenied;
    log.Clear();
    EXPECT_FALSE(link.SendBoxCommand(box::kKeyerSpeed, 30));
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{
                  "WriteFile: ", " " + platform::SystemErrorText(platform::kErrorAccessDenied),
                  "Can't write to device", "Zuvo Box has been disconnected"}));
    EXPECT_FALSE(link.IsConnectedFlag());
    EXPECT_EQ(hid.OpenReadHandles(kBoxPath), 0);  // the read thread has ended
    EXPECT_EQ(events.disconnecting, 1);
    EXPECT_EQ(events.disconnected, 1);
}

TEST_F(BoxLinkTest, BoxVanishingMidQueryEndsTheQueryWithOneDisconnect) {
    FakeHidSystem::Device d = kBox;
    d.writesBeforeUnplug = 5;
    hid.AddDevice(kBoxPath, d);
    link.FindBox();
    EXPECT_FALSE(link.IsConnectedFlag());
    EXPECT_EQ(hid.Written(kBoxPath).size(), 5u);
    const std::string gone = " " + platform::SystemErrorText(platform::kErrorDeviceNotConnected);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"WriteFile: ", gone, "Can't write to device",
                                                   "Zuvo Box has been disconnected"}));
    EXPECT_EQ(events.opened, 0);
    EXPECT_EQ(hid.OpenReadHandles(kBoxPath), 0);
}

TEST_F(BoxLinkTest, ReadThreadPostsEachReportAsItsWord) {
    hid.AddDevice(kBoxPath, kBox);
    link.FindBox();
    hid.PushReport(kBoxPath, {0x00, 0x11, 0x19});
    hid.PushReport(kBoxPath, {0x00, 0x80, 0x12});
    platform::Message m;
    ASSERT_TRUE(NextMessage(m));
    EXPECT_EQ(m.id, platform::kMsgBoxReport);
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(m.lParam, 0x1119);
    ASSERT_TRUE(NextMessage(m));
    EXPECT_EQ(m.lParam, 0x8012);
}

TEST_F(BoxLinkTest, UnplugDisconnectsOnceWhicheverNoticeComesFirst) {
    for (bool removalFirst : {true, false}) {
        SCOPED_TRACE(removalFirst ? "removal first" : "read error first");
        hid.SetPresent(kBoxPath, true);
        hid.AddDevice(kBoxPath, kBox);
        link.FindBox();
        ASSERT_TRUE(link.IsConnectedFlag());
        log.Clear();

        hid.SetPresent(kBoxPath, false);
        platform::Message readError;
        ASSERT_TRUE(NextMessage(readError));
        EXPECT_EQ(readError.wParam, platform::kErrorDeviceNotConnected);
        EXPECT_EQ(static_cast<uint32_t>(readError.lParam), 0xFFFFu);
        const platform::Message removal{platform::kMsgDeviceChange, platform::kDeviceRemoveComplete,
                                        0, "/DEV/HIDRAW3", 0};
        if (removalFirst) {
            Dispatch(removal);
            Dispatch(readError);
        } else {
            Dispatch(readError);
            Dispatch(removal);
        }
        EXPECT_EQ(Count("Zuvo Box has been disconnected"), 1);
        EXPECT_EQ(Count("Read Thread: "), 0);
        EXPECT_FALSE(link.IsConnectedFlag());
    }
}

TEST_F(BoxLinkTest, OtherReadErrorsAreLoggedBeforeTheDisconnect) {
    hid.AddDevice(kBoxPath, kBox);
    link.FindBox();
    log.Clear();
    link.OnReadError(platform::kErrorAccessDenied, 1);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "Read Thread: ");
    EXPECT_EQ(log.lines[2], "Zuvo Box has been disconnected");
}

TEST_F(BoxLinkTest, ArrivalOpensWhileDisconnectedAndOtherRemovalsChangeNothing) {
    link.FindBox();
    EXPECT_FALSE(link.IsConnectedFlag());
    hid.AddDevice("/dev/hidraw0", kKeyboard);
    link.OnDeviceChange(platform::kDeviceArrival, "/dev/hidraw0");
    EXPECT_FALSE(link.IsConnectedFlag());
    EXPECT_TRUE(log.lines.empty());

    hid.AddDevice(kBoxPath, kBox);
    link.OnDeviceChange(platform::kDeviceArrival, kBoxPath);
    EXPECT_TRUE(link.IsConnectedFlag());
    link.OnDeviceChange(platform::kDeviceRemoveComplete, "/dev/hidraw0");
    EXPECT_TRUE(link.IsConnectedFlag());
    // A second arrival while connected is not tried.
    hid.ClearWritten(kBoxPath);
    link.OnDeviceChange(platform::kDeviceArrival, kBoxPath);
    EXPECT_TRUE(hid.Written(kBoxPath).empty());
}

TEST_F(BoxLinkTest, ReconnectStartsAFreshReadThreadAfterTheOldOneEnded) {
    hid.AddDevice(kBoxPath, kBox);
    for (int i = 0; i < 20; ++i) {
        link.FindBox();
        ASSERT_TRUE(link.IsConnectedFlag());
        EXPECT_EQ(hid.OpenReadHandles(kBoxPath), 1);
        link.DisconnectBox();
        EXPECT_EQ(hid.OpenReadHandles(kBoxPath), 0);
    }
    // A late error from an ended connection does not end the next one.
    link.FindBox();
    link.OnReadError(platform::kErrorAccessDenied, 1);
    EXPECT_TRUE(link.IsConnectedFlag());
}

}  // namespace
}  // namespace zuvo
