// ZuvoBox.exe with both host ports on COM ports, under Wine, where COMn is a link in the
// prefix's dosdevices folder to a Linux pty whose other end this test plays as the logger.
// A Linux program (built with the host's compiler), because only Linux can open a pty.
//
// Arguments: the paths of wine, ZuvoBox.exe and zuvo_win32_tests.exe (which closes ZuvoBox
// the way another program would). WINEPREFIX names the prefix.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "integration/child_process.h"

namespace zuvo::test {
namespace {

std::string g_wine, g_zuvoBox, g_closer;

// The Windows name of a Linux path (Wine's Z: drive is the root).
std::string WindowsPath(std::string path) {
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return "Z:" + path;
}

// The logger's end of one COM port: a pty master in raw mode, its slave linked as COMn.
class Line {
  public:
    explicit Line(int com)
        : link_(std::string(std::getenv("WINEPREFIX")) + "/dosdevices/com" + std::to_string(com)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
            tcgetattr(master_, &t) != 0) {
            return;
        }
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        std::error_code ignored;
        std::filesystem::remove(link_, ignored);
        std::filesystem::create_symlink(ptsname(master_), link_, ignored);
    }
    ~Line() {
        Close();
        std::error_code ignored;
        std::filesystem::remove(link_, ignored);
    }
    bool Ok() const { return master_ >= 0 && std::filesystem::is_symlink(link_); }
    void Close() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything received until `expected` is in it (or 10 s passed).
    std::string ReadUntil(const std::string& expected) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.find(expected) == std::string::npos && std::chrono::steady_clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            char buf[256];
            const ssize_t n = poll(&p, 1, 50) > 0 ? read(master_, buf, sizeof buf) : 0;
            got.append(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        }
        return got;
    }

  private:
    std::string link_;
    int master_ = -1;
};

// CPU time (user + system) of a process in milliseconds.
double CpuMs(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        ticks += i >= 14 ? std::stod(field) : 0;  // utime and stime
    }
    return 1000.0 * ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST(WineComPort, LoggerOnBothComPortsIsServedAndIdlePortsCostNoCpu) {
    ASSERT_NE(std::getenv("WINEPREFIX"), nullptr);
    TempFolder dir;
    // Named objects of this test only.
    const std::vector<std::string> env = {"ZUVOBOX_OBJECT_SUFFIX=-com" + std::to_string(getpid())};
    {
        // COM31 and COM32 (list entries 30 and 31): numbers no other test uses.
        Line keyer(31);
        Line switching(32);
        ASSERT_TRUE(keyer.Ok() && switching.Ok());
        std::ofstream(dir / "ZuvoBox.ini") << "[Keyer]\r\nUsePort=TRUE\r\nPort=30\r\n"
                                              "[Zuvo]\r\nUsePort=TRUE\r\nPort=31\r\n";
        ChildProcess zuvo(
            g_wine,
            {g_zuvoBox, "--headless", "--simulate", "--ini", WindowsPath(dir / "ZuvoBox.ini"),
             "--sim-transcript", WindowsPath(dir / "box.transcript")},
            env, dir / "zuvo.out", dir / "zuvo.err");
        // Windows programs end their lines with CR LF.
        ASSERT_TRUE(
            zuvo.WaitForLine("Connected to Zuvo Box version 1.0-0\r", 1, std::chrono::seconds(20)))
            << ReadFile(dir / "zuvo.err");

        keyer.Send(std::string("\x00\x02", 2));  // admin: host open
        EXPECT_EQ(keyer.ReadUntil("\x0A"), "\x0A");
        keyer.Send(std::string("\x0E\x04\x02\x3C", 4) + "CQ");  // echo on, 60 WPM
        std::string echoes = keyer.ReadUntil("Q\xC0");
        std::erase_if(echoes, [](char c) { return (c & 0xC0) == 0xC0; });  // status bytes
        EXPECT_EQ(echoes, "CQ");

        // The switching port waits on comm events; a pty has no modem lines to watch.
        switching.Send("?NAME\r");  // answered once the connect query has been
        EXPECT_EQ(switching.ReadUntil("\r").rfind("NAME", 0), 0u);
        switching.Send("TX2\r?TX\r");
        EXPECT_EQ(switching.ReadUntil("TX2\r"), "TX2\r");

        // Idle ports block in their reads: no CPU while the loggers are quiet, and none
        // once they have gone (their ports then look idle, reads end with nothing).
        auto idleCpuMs = [&] {
            const double before = CpuMs(zuvo.Pid());
            std::this_thread::sleep_for(std::chrono::seconds(1));
            return CpuMs(zuvo.Pid()) - before;
        };
        EXPECT_LT(idleCpuMs(), 100.0);
        keyer.Close();
        switching.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LT(idleCpuMs(), 100.0);

        ChildProcess closer(g_wine, {g_closer, "--close-zuvobox"}, env, dir / "closer.out",
                            dir / "closer.err");
        EXPECT_EQ(closer.Wait(std::chrono::seconds(20)), 0);
        EXPECT_EQ(zuvo.Wait(std::chrono::seconds(20)), 0);
    }
    std::string keyed;
    for (const auto& line : ReadLines(dir / "box.transcript")) {
        long ms = 0;
        unsigned c = 0;
        if (std::sscanf(line.c_str(), "%ld keyed 0x%x", &ms, &c) == 2) {
            keyed += static_cast<char>(c);
        }
    }
    EXPECT_EQ(keyed, "CQ");
}

}  // namespace
}  // namespace zuvo::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s WINE ZuvoBox.exe zuvo_win32_tests.exe\n", argv[0]);
        return 2;
    }
    zuvo::test::g_wine = argv[1];
    zuvo::test::g_zuvoBox = argv[2];
    zuvo::test::g_closer = argv[3];
    return RUN_ALL_TESTS();
}
