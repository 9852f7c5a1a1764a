#include "platform/posix/host_port_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/errors.h"

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
