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

// The end of a stalled client's bytes (the bytes before it are below it).
constexpr uint8_t kLastByte = 0xFF;

// The client end of a pipe, run as a separate process: `touch` opens and closes at once;
// `echo` sends "A" and expects "B" back; `stall:EVENT` reads nothing until the named event is
// set, then reads up to kLastByte and copies what it read to standard output.
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
    } else if (mode.rfind("stall:", 0) == 0) {
        HANDLE go = ::OpenEventA(SYNCHRONIZE, FALSE, mode.substr(6).c_str());
        code = go != nullptr && ::WaitForSingleObject(go, 20000) == WAIT_OBJECT_0 ? 0 : 101;
        std::string got;
        while (code == 0 && (got.empty() || static_cast<uint8_t>(got.back()) != kLastByte)) {
            char buf[4096];
            DWORD n = 0;
            code = ::ReadFile(pipe, buf, sizeof buf, &n, nullptr) ? 0 : 102;
            got.append(buf, n);
        }
        DWORD n = 0;
        ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), got.data(), static_cast<DWORD>(got.size()),
                    &n, nullptr);
        if (go != nullptr) {
            ::CloseHandle(go);
        }
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

// Wine has no HID devices; the share modes are the system's for any file, so a file stands
// in for the box's device interface.
TEST(Win32Hid, AWriteHandleKeepsEveryOtherWriterOutButNotReaders) {
    TempFolder dir;
    const std::string path = dir / "device";
    std::ofstream(path) << "";
    platform::win32::MessageWindow window;
    platform::win32::Win32HidSystem hid(window);

    auto write = hid.Open(path, platform::HidAccess::kWrite);
    ASSERT_TRUE(write) << ::GetLastError();
    EXPECT_FALSE(hid.Open(path, platform::HidAccess::kWrite));
    EXPECT_EQ(::GetLastError(), platform::kErrorSharingViolation);
    // The identity check and the read handle still open: ours, or another program's.
    EXPECT_TRUE(hid.Open(path, platform::HidAccess::kAttributes));
    EXPECT_TRUE(hid.Open(path, platform::HidAccess::kRead));
    write.reset();

    // A program that holds the device for writing, whatever it shares, keeps ours out.
    HANDLE other =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(hid.Open(path, platform::HidAccess::kWrite));
    EXPECT_EQ(::GetLastError(), platform::kErrorSharingViolation);
    ::CloseHandle(other);
    EXPECT_TRUE(hid.Open(path, platform::HidAccess::kWrite));
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

TEST_F(Win32PipeServerTest, AClientThatStopsReadingNeverHoldsUpAWriteAndGetsAllThatWasTaken) {
    const std::string goName = "ZUVO_PIPE_GO" + UniqueSuffix();
    HANDLE go = ::CreateEventA(nullptr, TRUE, FALSE, goName.c_str());
    ASSERT_NE(go, nullptr);
    TempFolder dir;
    Process peer(SelfPath(), {"--pipe-peer", path, "stall:" + goName}, {}, dir / "out",
                 dir / "err");
    ASSERT_EQ(server->WaitForClient(), PortStatus::kReady);

    // One byte per write, as replies go to a pipe, until one finds no room.
    std::string taken;
    auto slowest = Clock::duration::zero();
    for (;;) {
        const auto byte = static_cast<uint8_t>(taken.size() % 251);
        const auto start = Clock::now();
        const bool ok = server->Write(&byte, 1);
        slowest = std::max(slowest, Clock::now() - start);
        if (!ok) {
            EXPECT_EQ(::GetLastError(), platform::kErrorNoRoom);
            break;
        }
        taken += static_cast<char>(byte);
        ASSERT_LT(taken.size(), 64u * 1024) << "no write ever found the client stalled";
    }
    EXPECT_LT(slowest, std::chrono::milliseconds(500));
    // More than the pipe's buffer holds was taken: those writes wait in flight for the client.
    EXPECT_GT(taken.size(), 4096u);
    EXPECT_LE(taken.size(), 2u * 4096);

    // Reading again, the client gets every byte taken, in order, and is written to again.
    ASSERT_TRUE(::SetEvent(go));
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!server->Write(&kLastByte, 1) && Clock::now() < end) {
        ::Sleep(10);
    }
    EXPECT_EQ(peer.Wait(), 0) << ReadFile(dir / "err");
    EXPECT_EQ(ReadFile(dir / "out"), taken + static_cast<char>(kLastByte));
    ::CloseHandle(go);
}

}  // namespace
}  // namespace zuvo::test
