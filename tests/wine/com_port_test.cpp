// ZuvoBox.exe with both host ports on COM ports, under Wine, where COMn is a link in the
// prefix's dosdevices folder to a Linux pty whose other end this test plays as the logger.
// A Linux program (built with the host's compiler), because only Linux can open a pty.
//
// Arguments: the paths of ZuvoBox.exe and zuvo_win32_tests.exe (which closes ZuvoBox the
// way another program would). WINEPREFIX names the prefix.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::string g_zuvoBox;
std::string g_closer;

// The Windows name of a Linux path (Wine's Z: drive is the root).
std::string WindowsPath(const std::string& path) {
    std::string out = "Z:" + path;
    for (char& c : out) {
        c = c == '/' ? '\\' : c;
    }
    return out;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The logger's end of one COM port: a pty master in raw mode, its slave linked as COMn.
class Line {
  public:
    Line(const std::string& dosdevices, int com) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        link_ = dosdevices + "/com" + std::to_string(com);
        std::error_code ignored;
        fs::remove(link_, ignored);
        fs::create_symlink(ptsname(master_), link_, ignored);
    }
    ~Line() {
        Close();
        std::error_code ignored;
        fs::remove(link_, ignored);
    }
    bool Ok() const { return master_ >= 0 && fs::is_symlink(link_); }
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
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (got_.find(expected) == std::string::npos && Clock::now() < end) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
                char buf[256];
                const ssize_t n = read(master_, buf, sizeof buf);
                if (n > 0) {
                    got_.append(buf, static_cast<size_t>(n));
                }
            }
        }
        return std::exchange(got_, {});
    }

  private:
    int master_ = -1;
    std::string link_;
    std::string got_;
};

// A Windows program under Wine, with its output in files.
class WineProcess {
  public:
    WineProcess(const std::vector<std::string>& args, const std::string& suffix,
                const std::string& out, const std::string& err) {
        pid_ = fork();
        if (pid_ == 0) {
            setenv("ZUVOBOX_OBJECT_SUFFIX", suffix.c_str(), 1);
            std::freopen("/dev/null", "r", stdin);
            std::freopen(out.c_str(), "w", stdout);
            std::freopen(err.c_str(), "w", stderr);
            std::vector<char*> argv{const_cast<char*>("wine")};
            for (const auto& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execvp("wine", argv.data());
            _exit(127);
        }
    }
    ~WineProcess() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }
    // The exit code, or -1 when it has not ended in time.
    int Wait(std::chrono::seconds timeout) {
        const auto end = Clock::now() + timeout;
        while (Clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    bool ended_ = false;
};

// CPU time (user + system) of a process in milliseconds.
double CpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoul(field);
        } else if (i == 15) {
            stime = std::stoul(field);
        }
    }
    return 1000.0 * static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST(WineComPort, LoggerOnBothComPortsIsServedAndIdlePortsCostNoCpu) {
    const char* prefix = std::getenv("WINEPREFIX");
    ASSERT_NE(prefix, nullptr);
    char pattern[] = "/tmp/zuvo-wine-com-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string suffix = "-com" + std::to_string(getpid());
    {
        // COM31 and COM32: list entries 30 and 31, numbers no other test uses.
        Line keyer(std::string(prefix) + "/dosdevices", 31);
        Line switching(std::string(prefix) + "/dosdevices", 32);
        ASSERT_TRUE(keyer.Ok() && switching.Ok());
        std::ofstream(dir + "/ZuvoBox.ini") << "[Keyer]\r\nUsePort=TRUE\r\nPort=30\r\n"
                                               "[Zuvo]\r\nUsePort=TRUE\r\nPort=31\r\n";
        WineProcess zuvo(
            {g_zuvoBox, "--headless", "--simulate", "--ini", WindowsPath(dir + "/ZuvoBox.ini"),
             "--sim-transcript", WindowsPath(dir + "/box.transcript")},
            suffix, dir + "/zuvo.out", dir + "/zuvo.err");
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (ReadText(dir + "/zuvo.out").find("Connected to Zuvo Box") == std::string::npos &&
               Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(ReadText(dir + "/zuvo.out").find("Connected to Zuvo Box version 1.0-0"),
                  std::string::npos)
            << ReadText(dir + "/zuvo.err");

        keyer.Send(std::string("\x00\x02", 2));  // admin: host open
        EXPECT_EQ(keyer.ReadUntil("\x0A"), "\x0A");
        keyer.Send(std::string("\x0E\x04\x02\x3C", 4) + "CQ");  // echo on, 60 WPM
        std::string echoes;
        for (char c : keyer.ReadUntil("Q\xC0")) {
            if ((c & 0xC0) != 0xC0) {  // status bytes aside
                echoes += c;
            }
        }
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

        WineProcess closer({g_closer, "--close-zuvobox"}, suffix, dir + "/closer.out",
                           dir + "/closer.err");
        EXPECT_EQ(closer.Wait(std::chrono::seconds(20)), 0);
        EXPECT_EQ(zuvo.Wait(std::chrono::seconds(20)), 0) << ReadText(dir + "/zuvo.out");
    }
    std::string keyed;
    std::istringstream transcript(ReadText(dir + "/box.transcript"));
    for (std::string line; std::getline(transcript, line);) {
        long ms = 0;
        unsigned c = 0;
        if (std::sscanf(line.c_str(), "%ld keyed 0x%x", &ms, &c) == 2) {
            keyed += static_cast<char>(c);
        }
    }
    EXPECT_EQ(keyed, "CQ");
    fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ZuvoBox.exe zuvo_win32_tests.exe\n", argv[0]);
        return 2;
    }
    g_zuvoBox = argv[1];
    g_closer = argv[2];
    return RUN_ALL_TESTS();
}
