#include "platform/posix/host_port_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/posix/client_lines.h"

namespace zuvo::platform::posix {
namespace {

class TempFolder {
  public:
    TempFolder() {
        char tmpl[] = "/tmp/zuvo-hostport-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string path;
};

// Reads what is readable within timeoutMs.
std::string ReadSome(int fd, int timeoutMs) {
    std::string got;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0 || (p.revents & POLLIN) == 0) {
            return got;
        }
        char buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            return got;
        }
        got.append(buf, static_cast<size_t>(n));
        timeoutMs = 20;
    }
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST(PosixPipeServerTest, ClientComesGoesAndComesBackThroughTheLink) {
    TempFolder folder;
    PosixHostPortSystem system(folder.path);
    auto server = system.CreatePipeServer("OTRSP_DEVICE");
    ASSERT_TRUE(server) << SystemErrorText(GetLastError());
    const std::string link = folder.path + "/OTRSP_DEVICE";
    ASSERT_TRUE(std::filesystem::is_symlink(link));

    // Written while nobody listens: never reaches the next client.
    const uint8_t stale[] = {'o', 'l', 'd'};
    EXPECT_TRUE(server->Write(stale, sizeof stale));

    for (int round = 0; round < 3; ++round) {
        const int client = open(link.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(client, 0);
        ASSERT_EQ(server->WaitForClient(), PortStatus::kReady);

        // Raw both ways: CR stays CR, nothing echoed, XON/XOFF bytes pass.
        const char line[] = "TX2\r\x11\x13";
        ASSERT_EQ(write(client, line, 6), 6);
        std::string got;
        while (got.size() < 6) {
            uint8_t buf[64];
            const PortReadResult r = server->Read(buf, sizeof buf);
            ASSERT_EQ(r.status, PortStatus::kReady);
            got.append(reinterpret_cast<char*>(buf), r.length);
        }
        EXPECT_EQ(got, std::string(line, 6));
        const uint8_t reply[] = {'$', 'T', 'X', '2', '\r', '\n'};
        ASSERT_TRUE(server->Write(reply, sizeof reply));
        EXPECT_EQ(ReadSome(client, 500), "$TX2\r\n");  // also: "old" was flushed

        close(client);
        uint8_t buf[8];
        const PortReadResult lost = server->Read(buf, sizeof buf);
        EXPECT_EQ(lost.status, PortStatus::kError);
        EXPECT_EQ(GetLastError(), kErrorBrokenPipe);
    }
}

// The lines a client run under zuvobox-run sets come through the socket beside the link:
// ahead of the bytes it writes after them, as a null-modem cable shows them, and they go
// with the client, even when it told them just before it went.
TEST(PosixPipeServerTest, ClientLinesComeBeforeLaterBytesAndGoWithTheClient) {
    TempFolder folder;
    PosixHostPortSystem system(folder.path);
    auto server = system.CreatePipeServer("OTRSP_DEVICE");
    ASSERT_TRUE(server);
    const std::string link = folder.path + "/OTRSP_DEVICE";
    const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::snprintf(to.sun_path, sizeof to.sun_path, "%s%s", link.c_str(), ZUVO_CLIENT_LINES_SUFFIX);
    auto tell = [&](uint32_t lines, uint64_t device) {
        const ZuvoClientLines message{ZUVO_CLIENT_LINES_MAGIC, lines, device};
        ASSERT_EQ(sendto(sender, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to),
                  static_cast<ssize_t>(sizeof message));
    };
    uint8_t buf[16];
    uint32_t status = 0;

    int client = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(client, 0);
    struct stat pty {};
    ASSERT_EQ(fstat(client, &pty), 0);
    tell(TIOCM_RTS, pty.st_rdev + 1);  // about another pty: not this client's
    tell(TIOCM_RTS, pty.st_rdev);      // told before the client is noticed: still counts
    ASSERT_EQ(server->WaitForClient(), PortStatus::kReady);
    ASSERT_EQ(write(client, "X", 1), 1);
    PortReadResult r = server->Read(buf, sizeof buf);
    EXPECT_EQ(r.status, PortStatus::kReady);
    EXPECT_EQ(r.length, 0u);
    EXPECT_EQ(r.events, kCommEventClientLines | kCommEventCts);
    ASSERT_TRUE(server->GetModemStatus(status));
    EXPECT_EQ(status, kModemCtsOn);
    r = server->Read(buf, sizeof buf);
    EXPECT_EQ(r.length, 1u);
    EXPECT_EQ(r.events, 0u);

    tell(TIOCM_RTS | TIOCM_DTR, pty.st_rdev);
    EXPECT_EQ(server->Read(buf, sizeof buf).events, kCommEventClientLines | kCommEventDsr);
    ASSERT_TRUE(server->GetModemStatus(status));
    EXPECT_EQ(status, kModemCtsOn | kModemDsrOn | kModemRlsdOn);

    tell(TIOCM_DTR, pty.st_rdev);  // its last word: RTS off...
    tell(TIOCM_RTS, pty.st_rdev);  // ...and on again, then it goes
    close(client);
    EXPECT_EQ(server->Read(buf, sizeof buf).status, PortStatus::kError);
    ASSERT_TRUE(server->GetModemStatus(status));
    EXPECT_EQ(status, 0u);

    client = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(server->WaitForClient(), PortStatus::kReady);
    ASSERT_EQ(write(client, "Y", 1), 1);
    r = server->Read(buf, sizeof buf);
    EXPECT_EQ(r.length, 1u);
    EXPECT_EQ(r.events, 0u);  // nothing of the last client's reaches the new one
    close(client);
    close(sender);
}

TEST(PosixPipeServerTest, WaitingForAClientSleepsAndWakes) {
    TempFolder folder;
    PosixHostPortSystem system(folder.path);
    auto server = system.CreatePipeServer("WINKEY_DEVICE");
    ASSERT_TRUE(server);
    // A client came and went: the master now hangs up level-triggered.
    close(open((folder.path + "/WINKEY_DEVICE").c_str(), O_RDWR | O_NOCTTY));

    PortStatus status = PortStatus::kReady;
    double cpu = 0;
    std::thread waiter([&] {
        const double start = CpuSeconds();
        status = server->WaitForClient();
        cpu = CpuSeconds() - start;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    server->Wake();
    waiter.join();
    EXPECT_EQ(status, PortStatus::kWoken);
    EXPECT_LT(cpu, 0.05);
    uint8_t buf[4];
    EXPECT_EQ(server->Read(buf, sizeof buf).status, PortStatus::kWoken);  // wake is for good
}

TEST(PosixPipeServerTest, LinkIsRemovedWithTheServerOnlyWhileItIsOurs) {
    TempFolder folder;
    PosixHostPortSystem system(folder.path);
    auto first = system.CreatePipeServer("OTRSP_DEVICE");
    auto second = system.CreatePipeServer("OTRSP_DEVICE");  // takes the link over
    ASSERT_TRUE(first && second);
    first.reset();
    EXPECT_TRUE(std::filesystem::is_symlink(folder.path + "/OTRSP_DEVICE"));
    second.reset();
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::symlink_status(folder.path + "/OTRSP_DEVICE")));
}

TEST(PosixSerialDeviceTest, MissingAndHeldDevicesFail) {
    PosixHostPortSystem system("/tmp");
    EXPECT_FALSE(system.OpenSerialDevice("/dev/ttyZuvoNoSuchDevice"));
    EXPECT_EQ(GetLastError(), FromErrno(ENOENT));

    // A pty slave stands in for a serial device; another program holds it locked.
    TempFolder folder;
    PosixHostPortSystem pipes(folder.path);
    auto server = pipes.CreatePipeServer("DEV");
    ASSERT_TRUE(server);
    const std::string path = std::filesystem::read_symlink(folder.path + "/DEV");
    auto device = system.OpenSerialDevice(path);
    ASSERT_TRUE(device) << SystemErrorText(GetLastError());
    EXPECT_FALSE(system.OpenSerialDevice(path));
    EXPECT_EQ(GetLastError(), FromErrno(EBUSY));
    uint32_t status = 0;
    EXPECT_FALSE(device->GetModemStatus(status));  // ptys have no modem lines

    // Bytes arrive as a comm event, then are read from the queue.
    ASSERT_EQ(server->WaitForClient(), PortStatus::kReady);
    const uint8_t line[] = {'R', 'X', '1', '\r'};
    ASSERT_TRUE(server->Write(line, sizeof line));
    uint32_t mask = 0;
    ASSERT_EQ(device->WaitCommEvent(mask), PortStatus::kReady);
    EXPECT_EQ(mask, kCommEventRxChar);
    size_t count = 0;
    ASSERT_TRUE(device->InputQueueCount(count));
    EXPECT_GE(count, 1u);
    device->Wake();
    EXPECT_EQ(device->WaitCommEvent(mask), PortStatus::kWoken);
}

}  // namespace
}  // namespace zuvo::platform::posix
