// The Win32 platform layer against the real system objects under Wine: error texts, the
// private-profile calls, Ctrl+C, device broadcasts reaching the link, and the pipe server
// with a client in another process (this test program, started with --pipe-peer).

#include <windows.h>

#include <dbt.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "core/settings_store.h"
#include "fakes/fakes.h"
#include "link/box_link.h"
#include "platform/errors.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/hid_win32.h"
#include "platform/win32/host_port_win32.h"
#include "platform/win32/ini_profile_win32.h"
#include "platform/win32/message_window.h"
#include "ui/event_log.h"
#include "win32/win32_process.h"

namespace zuvo::test {

// The client end of a pipe, run as a separate process: `touch` opens and closes at once;
// `echo` sends "A" and expects "B" back; `hold` opens and reads nothing for three seconds.
int RunPipePeer(const std::string& path, const std::string& mode) {
    HANDLE pipe = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        return static_cast<int>(::GetLastError());
    }
    int code = 0;
    if (mode == "echo") {
        DWORD n = 0;
        char reply = 0;
        code = ::WriteFile(pipe, "A", 1, &n, nullptr) && ::ReadFile(pipe, &reply, 1, &n, nullptr) &&
                       reply == 'B'
                   ? 0
                   : 100;
    } else if (mode == "hold") {
        ::Sleep(3000);
    }
    ::CloseHandle(pipe);
    return code;
}

namespace {

using platform::PortStatus;

std::string SelfPath() {
    char self[MAX_PATH];
    return std::string(self, ::GetModuleFileNameA(nullptr, self, MAX_PATH));
}

int RunPeer(const std::string& pipe, const std::string& mode) {
    TempFolder dir;
    Process peer(SelfPath(), {"--pipe-peer", pipe, mode}, {}, dir / "out", dir / "err");
    return peer.Wait();
}

TEST(Win32Errors, FailureTextsComeFromTheSystem) {
    const std::string text = platform::SystemErrorText(ERROR_BROKEN_PIPE);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find_last_not_of(" \t\r\n"), text.size() - 1);  // no CR LF at its end
    EXPECT_NE(text, "Unknown error 109");
    // No text for the code, and a C library error the logic reports by its errno value.
    EXPECT_EQ(platform::SystemErrorText(0x0ABCDEF0), "Unknown error 180150000");
    EXPECT_EQ(platform::SystemErrorText(platform::FromErrno(EBADF)), std::strerror(EBADF));

    // A failing call, reported the way every open failure is.
    EventLog log;
    HANDLE h = ::CreateFileA("Z:\\no such folder\\no such device", 0, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_EQ(h, INVALID_HANDLE_VALUE);
    const DWORD code = ::GetLastError();
    log.LogLastError("CreateFile(DeviceHandle): ");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"CreateFile(DeviceHandle): ",
                                                     " " + platform::SystemErrorText(code)}));
}

TEST(Win32Profile, OddValuesReadBackAsWrittenAndNeverAddLines) {
    TempFolder dir;
    const std::string path = dir / "ZuvoBox.ini";
    platform::win32::Win32Profile profile;
    SettingsStore settings(profile, path);
    auto read = [&](const char* section, const char* key) {
        char buf[64] = {};
        settings.ReadString(section, key, "(default)", buf, sizeof buf);
        return std::string(buf);
    };
    settings.WriteString("Keyer", "Padded", "  two words  ");
    settings.WriteString("Keyer", "Quoted", "\"quoted\"");
    settings.WriteString("Keyer", "Symbols", "a=b;c[d]");
    settings.WriteString("Keyer", "Port", "");
    settings.WriteString("Keyer", "Evil", "1\r\n[Box]\r\nLogToFile=TRUE");
    settings.WriteString("Keyer", "Bad=Key", "x");
    EXPECT_EQ(read("Keyer", "Padded"), "two words");
    EXPECT_EQ(read("keyer", "QUOTED"), "quoted");
    EXPECT_EQ(read("Keyer", "Symbols"), "a=b;c[d]");
    // Present but empty is not missing.
    EXPECT_EQ(settings.ReadInt("Keyer", "Port", -1), 0);
    EXPECT_EQ(settings.ReadInt("Zuvo", "Port", -1), -1);
    EXPECT_EQ(read("Keyer", "Evil"), "1");
    EXPECT_FALSE(settings.ReadBool("Box", "LogToFile", false));
    EXPECT_EQ(read("Keyer", "Bad"), "(default)");
    EXPECT_EQ(ReadFile(path).find("[Box]"), std::string::npos);
    EXPECT_EQ(ReadFile(path).find("Bad"), std::string::npos);
}

TEST(Win32Console, CtrlCInTheConsoleBecomesTheCloseCommand) {
    // A console of this test's own, so the event reaches no other process.
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole()) << ::GetLastError();
    ::SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl+C may come in switched off
    platform::MessageQueue queue;
    {
        platform::win32::ConsoleCloseHandler handler(queue);
        ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        platform::Message message;
        ASSERT_TRUE(queue.Wait(message, std::chrono::seconds(5)));
        EXPECT_EQ(message.id, platform::kMsgClose);
    }
    ::FreeConsole();
}

class NoLinkEvents final : public ILinkEvents {
  public:
    void CountSwitchingCommand() override {}
    void OnBoxOpened() override {}
    void OnBoxNotConnected() override {}
    void OnDisconnecting() override {}
    void OnDisconnected() override {}
};

TEST(Win32Hid, DeviceBroadcastsReachTheLinkWhichTriesTheArrivedDevice) {
    platform::MessageQueue queue;
    platform::win32::MessageWindow window;
    ASSERT_TRUE(window.Create());
    platform::win32::Win32HidSystem hid(window);
    FakeEventLog log;
    BoxState state;
    NoLinkEvents events;
    BoxLink link(hid, queue, log, state, events);
    link.FindBox();  // no HID device here: an empty search is no failure
    EXPECT_TRUE(log.lines.empty());
    ASSERT_TRUE(link.RegisterDeviceNotifications(queue));

    const std::string path =
        "\\\\?\\hid#vid_16c0&pid_065e#gone#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    std::vector<uint8_t> record(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + path.size());
    auto* device = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(record.data());
    device->dbcc_size = static_cast<DWORD>(record.size());
    device->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(device->dbcc_name, path.c_str(), path.size() + 1);
    DEV_BROADCAST_HDR volume{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
    // Every broadcast is answered as handled; only device interfaces become messages.
    EXPECT_EQ(::SendMessageA(window.Handle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                             reinterpret_cast<LPARAM>(&volume)),
              TRUE);
    EXPECT_EQ(::SendMessageA(window.Handle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                             reinterpret_cast<LPARAM>(record.data())),
              TRUE);
    platform::Message message;
    ASSERT_TRUE(queue.TryGet(message));
    EXPECT_EQ(message.id, platform::kMsgDeviceChange);
    EXPECT_EQ(message.wParam, platform::kDeviceArrival);
    EXPECT_EQ(message.text, path);
    EXPECT_FALSE(queue.TryGet(message));

    // The link tries the arrived device and says why it could not open it.
    link.OnDeviceChange(message.wParam, message.text);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "CreateFile(DeviceHandle): ");
    EXPECT_EQ(log.lines[1].rfind(' ', 0), 0u);
    EXPECT_FALSE(link.IsConnectedFlag());
}

class Win32PipeServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server = system.CreatePipeServer(name);
        ASSERT_TRUE(server) << ::GetLastError();
    }
    // The read thread's side: a client, one byte from it, and "B" back.
    void ServeOne() {
        served = server->WaitForClient();
        if (served == PortStatus::kReady) {
            uint8_t byte = 0;
            const auto r = server->Read(&byte, 1);
            got = r.status == PortStatus::kReady ? static_cast<char>(byte) : '?';
            server->Write(reinterpret_cast<const uint8_t*>("B"), 1);
            uint8_t more = 0;
            lost = server->Read(&more, 1).status;  // the client closes after the reply
            lostError = ::GetLastError();
            waitingAgain = server->WaitForClient();  // blocks until Wake
        }
    }

    platform::win32::Win32HostPortSystem system;
    std::string name = "ZUVO_PIPE_TEST" + UniqueSuffix();
    std::string path = platform::win32::PipePath(name);
    std::unique_ptr<platform::IHostPortHandle> server;
    PortStatus served = PortStatus::kError;
    PortStatus lost = PortStatus::kReady;
    DWORD lostError = 0;
    PortStatus waitingAgain = PortStatus::kError;
    char got = 0;
};

TEST_F(Win32PipeServerTest, AClientGoneBeforeThePipeListenedDoesNotStopTheNextOne) {
    ASSERT_EQ(RunPeer(path, "touch"), 0);
    std::thread thread([this] { ServeOne(); });
    const int echo = RunPeer(path, "echo");
    // The pipe waits for the next client; Wake ends the wait, so closing a port never hangs.
    ::Sleep(100);
    server->Wake();
    thread.join();
    EXPECT_EQ(echo, 0);
    EXPECT_EQ(served, PortStatus::kReady);
    EXPECT_EQ(got, 'A');
    EXPECT_EQ(lost, PortStatus::kError);
    EXPECT_EQ(lostError, static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_EQ(waitingAgain, PortStatus::kWoken);
}

TEST_F(Win32PipeServerTest, ReplyToAClientThatStopsReadingGivesUpWithinASecond) {
    TempFolder dir;
    Process peer(SelfPath(), {"--pipe-peer", path, "hold"}, {}, dir / "out", dir / "err");
    ASSERT_EQ(server->WaitForClient(), PortStatus::kReady);
    const std::vector<uint8_t> reply(64 * 1024, 0x55);
    const auto start = Clock::now();
    EXPECT_FALSE(server->Write(reply.data(), reply.size()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(peer.Wait(), 0);
}

}  // namespace
}  // namespace zuvo::test
