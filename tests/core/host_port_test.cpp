#include "core/host_port.h"

#include <gtest/gtest.h>

#include <chrono>

#include "fakes/fakes.h"
#include "platform/errors.h"
#include "platform/fake/fake_host_port.h"
#include "switching/otrsp_test_support.h"

namespace zuvo {
namespace {

using platform::Message;

class FakePortWindow : public IHostPortWindow {
  public:
    bool pipes = true;
    int keyerIndex = -1;
    int zuvoIndex = -1;
    std::vector<std::string> calls;
    bool PipeMode() const override { return pipes; }
    int SelectedComIndex(HostPortKind kind) const override {
        return kind == HostPortKind::kKeyer ? keyerIndex : zuvoIndex;
    }
    void UncheckPortBox(HostPortKind kind) override {
        calls.push_back(kind == HostPortKind::kKeyer ? "uncheck Keyer" : "uncheck Zuvo");
    }
    void UncheckPipes() override { calls.push_back("uncheck Pipes"); }
};

class RecordingHooks : public IHostPortHooks {
  public:
    std::vector<std::string> calls;
    void OnHostPortOpening(HostPortKind) override { calls.push_back("opening"); }
    void OnHostPortStarted(HostPortKind) override { calls.push_back("started"); }
    void OnHostPortClosed(HostPortKind) override { calls.push_back("closed"); }
};

class HostPortTest : public ::testing::Test {
  protected:
    HostPortTest() : settings(profile, "test.ini") {}

    std::unique_ptr<HostPort> Make(HostPortKind kind) {
        auto port = std::make_unique<HostPort>(kind, system, queue, log, verbose, settings, window);
        port->SetHooks(&hooks);
        made_.push_back(port.get());
        return port;
    }

    // The next posted message, shown to the ports as the main window's dispatch does.
    Message Next() {
        Message m;
        EXPECT_TRUE(queue.Wait(m, std::chrono::milliseconds(2000)));
        for (HostPort* port : made_) {
            port->OnPortMessage(m);
        }
        return m;
    }

    // Waits until the read thread has taken everything and waits again.
    void Settle() { ASSERT_TRUE(system.last->WaitIdle()); }

    test::MapProfile profile;
    SettingsStore settings;
    platform::fake::FakeHostPortSystem system;
    platform::MessageQueue queue;
    test::FakeEventLog log;
    test::FakeVerbose verbose;
    FakePortWindow window;
    RecordingHooks hooks;
    std::vector<HostPort*> made_;  // every port a test made lives until its end
};

TEST_F(HostPortTest, PipeClientConnectsLeavesAndReconnects) {
    verbose.zuvo = true;
    auto port = Make(HostPortKind::kSwitching);
    port->OpenHostPort();
    ASSERT_TRUE(port->IsRunning());
    EXPECT_EQ(system.opened, (std::vector<std::string>{"pipe:OTRSP_DEVICE"}));
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"opening", "started"}));
    auto* fake = system.last;

    port->WriteSwitchingText("RX1\r");  // nobody there: dropped
    EXPECT_TRUE(fake->Writes().empty());
    EXPECT_EQ(log.lines, (std::vector<std::string>{"* SE response (unsent) 'RX1'"}));

    for (int round = 0; round < 3; ++round) {
        fake->Connect();
        fake->Send("TX2\r\xE9");
        std::string got;
        for (int i = 0; i < 5; ++i) {
            const Message m = Next();
            EXPECT_EQ(m.id, platform::kMsgSwitchingPortByte);
            EXPECT_EQ(m.wParam, 0u);
            got += static_cast<char>(m.lParam);
            if (i == 4) {
                EXPECT_EQ(m.lParam, -23);  // sign-extended
            }
        }
        EXPECT_EQ(got, "TX2\r\xE9");
        Settle();
        EXPECT_TRUE(port->ClientConnected());

        fake->Disconnect();
        Message m = Next();
        EXPECT_EQ(m.wParam, platform::kErrorBrokenPipe);
        EXPECT_EQ(m.lParam, 0xFFFF);
        m = Next();
        EXPECT_EQ(m.id, platform::kMsgModemStatus);
        EXPECT_EQ(m.lParam, 8);
        Settle();
        EXPECT_FALSE(port->ClientConnected());
    }

    fake->Connect();
    Settle();
    log.Clear();
    port->WriteSwitchingText(std::string("$TX2\r\0junk", 10));
    EXPECT_EQ(fake->Writes(), (std::vector<std::string>{"$", "T", "X", "2", "\r"}));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"* SE response '$TX2'"}));

    // A pty is a byte stream: a text goes out in one write, and "$" with its report as one
    // line, so the logger is woken once for it. Each text keeps its verbose line.
    fake->SetByteStream(true);
    log.Clear();
    port->WriteSwitchingLine({"$", "RX1S\r"});
    port->WriteSwitchingText("TX1\r");
    std::vector<std::string> writes = fake->Writes();
    writes.erase(writes.begin(), writes.end() - 2);
    EXPECT_EQ(writes, (std::vector<std::string>{"$RX1S\r", "TX1\r"}));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"* SE response 'RX1S'", "* SE response 'TX1'"}));

    port->CloseHostPort();
    EXPECT_FALSE(port->IsRunning());
    EXPECT_EQ(hooks.calls.back(), "closed");
    EXPECT_EQ(queue.Size(), 0u);
}

TEST_F(HostPortTest, KeyerPipeLossPostsOnlyTheError) {
    verbose.keyer = true;
    auto port = Make(HostPortKind::kKeyer);
    port->OpenHostPort();
    EXPECT_EQ(system.opened.back(), "pipe:WINKEY_DEVICE");
    port->WriteKeyerByte(0xC0);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"* KE response (unsent) 0xc0"}));
    system.last->Connect();
    system.last->Disconnect();
    EXPECT_EQ(Next().wParam, platform::kErrorBrokenPipe);
    Settle();
    EXPECT_EQ(queue.Size(), 0u);
    system.last->Connect();
    Settle();
    port->WriteKeyerByte('A');
    EXPECT_EQ(system.last->Writes(), (std::vector<std::string>{"A"}));
    EXPECT_TRUE(log.Contains("* KE response 0x41('A')"));
}

TEST_F(HostPortTest, ReplyToALoggerThatHasGoneNeverReachesTheNextOne) {
    auto port = Make(HostPortKind::kSwitching);
    port->OpenHostPort();
    auto* fake = system.last;
    fake->Connect();
    fake->Send("?");  // a query; the logger leaves before it is answered
    fake->Disconnect();
    Settle();
    fake->Connect();  // the next logger, connected before the main thread got to the query
    Settle();

    ASSERT_EQ(Next().lParam, '?');
    port->WriteSwitchingText("RX1\r");  // the answer to the logger that has gone
    EXPECT_EQ(Next().wParam, platform::kErrorBrokenPipe);
    EXPECT_EQ(Next().id, platform::kMsgModemStatus);
    port->WriteSwitchingText("TX2\r");
    EXPECT_EQ(fake->Writes(), (std::vector<std::string>{"T", "X", "2", "\r"}));
}

TEST_F(HostPortTest, OpenFailures) {
    window.pipes = false;
    auto keyer = Make(HostPortKind::kKeyer);
    keyer->OpenHostPort();
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Please select a COM port"}));
    EXPECT_EQ(window.calls, (std::vector<std::string>{"uncheck Keyer"}));
    EXPECT_FALSE(keyer->IsRunning());
    EXPECT_TRUE(hooks.calls.empty());

    log.Clear();
    window.keyerIndex = 2;
    system.failOpen = platform::FromErrno(16);  // held by another program
    keyer->OpenHostPort();
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "Cannot open keyer port: ");
    EXPECT_EQ(log.lines[1], " " + platform::SystemErrorText(platform::FromErrno(16)));
    EXPECT_EQ(log.lines[2],
              "COM3 is /dev/ttyS2 ([Ports] COM3= in the settings file can name another device)");

    log.Clear();
    window.calls.clear();
    window.pipes = true;
    auto zuvo = Make(HostPortKind::kSwitching);
    zuvo->OpenHostPort();
    EXPECT_EQ(log.lines[0], "Cannot open Zuvo pipe:");
    EXPECT_EQ(window.calls, (std::vector<std::string>{"uncheck Pipes"}));

    log.Clear();
    window.pipes = false;
    window.zuvoIndex = 0;
    zuvo->OpenHostPort();
    EXPECT_EQ(log.lines[0], "Cannot open Zuvo port:");
}

TEST_F(HostPortTest, ComPathsComeFromThePortsSection) {
    profile.values["Ports/COM3"] = "/dev/ttyUSB0";
    EXPECT_EQ(HostPort::ComDevicePath(settings, system, 3), "/dev/ttyUSB0");
    EXPECT_EQ(HostPort::ComDevicePath(settings, system, 5), "/dev/ttyS4");
    window.pipes = false;
    window.zuvoIndex = 2;
    auto port = Make(HostPortKind::kSwitching);
    port->OpenHostPort();
    EXPECT_EQ(system.opened, (std::vector<std::string>{"serial:/dev/ttyUSB0"}));
}

TEST_F(HostPortTest, SwitchingComThreadPostsModemEventsBytesAndOneError) {
    window.pipes = false;
    window.zuvoIndex = 0;
    auto port = Make(HostPortKind::kSwitching);
    port->OpenHostPort();
    auto* fake = system.last;
    fake->ModemChange(platform::kCommEventCts, platform::kModemCtsOn);
    Message m = Next();
    EXPECT_EQ(m.id, platform::kMsgModemStatus);
    EXPECT_EQ(m.lParam, static_cast<int32_t>(platform::kCommEventCts));
    uint32_t status = 0;
    EXPECT_TRUE(port->GetSwitchingModemStatus(status));
    EXPECT_EQ(status, platform::kModemCtsOn);

    fake->Send("RX2\r");
    std::string got;
    for (int i = 0; i < 4; ++i) {
        got += static_cast<char>(Next().lParam);
    }
    EXPECT_EQ(got, "RX2\r");

    fake->FailRead(platform::FromErrno(5));
    fake->FailRead(platform::FromErrno(5));
    fake->Send("X");
    m = Next();
    EXPECT_EQ(m.wParam, platform::FromErrno(5));
    EXPECT_EQ(Next().lParam, 'X');  // the second error was not posted
    Settle();
    EXPECT_EQ(queue.Size(), 0u);

    // COM replies go out in one write; a failed write is logged.
    port->WriteSwitchingText("TX1\r");
    EXPECT_EQ(fake->Writes(), (std::vector<std::string>{"TX1\r"}));
    fake->SetWriteError(platform::FromErrno(5));
    port->WriteSwitchingText("TX1\r");
    EXPECT_EQ(log.lines.front(), "SE Write: ");
    port->CloseHostPort();
    EXPECT_FALSE(port->GetSwitchingModemStatus(status));
}

TEST_F(HostPortTest, PipeWriteFailureDropsTheRestOfTheText) {
    auto port = Make(HostPortKind::kSwitching);
    port->OpenHostPort();
    system.last->Connect();
    Settle();
    system.last->SetWriteError(platform::kErrorBrokenPipe);
    port->WriteSwitchingText("RX1S\r");
    EXPECT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "SE Write: ");
}

TEST_F(HostPortTest, AClientThatStopsReadingLosesRepliesWithOneLinePerStall) {
    auto port = Make(HostPortKind::kKeyer);
    port->OpenHostPort();
    auto* fake = system.last;
    fake->Connect();
    Settle();
    fake->SetWriteError(platform::kErrorNoRoom);
    for (uint8_t reply : {0x0A, 0xC0, 0xC0}) {
        port->WriteKeyerByte(reply);
    }
    EXPECT_EQ(log.lines, (std::vector<std::string>{"KE port is not reading, replies dropped"}));
    fake->SetWriteError(0);  // the client reads again
    port->WriteKeyerByte('A');
    EXPECT_EQ(fake->Writes(), (std::vector<std::string>{"A"}));
    fake->SetWriteError(platform::kErrorNoRoom);
    port->WriteKeyerByte('B');
    EXPECT_EQ(log.lines.size(), 2u);  // a new stall is told again

    // A new client that stalls at once is told about too.
    fake->Disconnect();
    Settle();
    EXPECT_EQ(Next().lParam, 0xFFFF);  // the main thread has handled the loss
    fake->Connect();
    Settle();
    port->WriteKeyerByte('C');
    EXPECT_EQ(log.lines, std::vector<std::string>(3, "KE port is not reading, replies dropped"));
}

TEST_F(HostPortTest, ReopenClosesTheRunningPortFirst) {
    auto port = Make(HostPortKind::kKeyer);
    port->OpenHostPort();
    port->OpenHostPort();
    EXPECT_EQ(hooks.calls,
              (std::vector<std::string>{"opening", "started", "closed", "opening", "started"}));
    EXPECT_EQ(system.opened.size(), 2u);
    port.reset();  // the destructor joins the thread
}

}  // namespace
}  // namespace zuvo
