// A stalled, flooding client on one host port must not hold up the other. The headless
// ZuvoBox runs as its own process on the simulated box with both ports as ptys:
//   quiet: a keyer client opens and closes the host (00 02 -> 0A, 00 03) round after round;
//   flood: the same while a switching client writes 5 MB of "?TX\r" and never reads.
// Printed: the keyer reply's median and p99 in both runs (target: p99 under 5 ms in the
// flood), the program's peak memory in both runs, and how long it took to close after the
// flood.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "bench_options.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTargetP99Ms = 5.0;
constexpr auto kReplyDeadline = std::chrono::seconds(2);
constexpr auto kRoundsDeadline = std::chrono::seconds(20);
constexpr auto kFloodDeadline = std::chrono::seconds(60);
constexpr auto kCloseDeadline = std::chrono::seconds(10);

struct Options {
    int rounds = 500;
    size_t floodBytes = 5u << 20;
    std::string program = std::string(ZUVO_BIN_DIR) + "/ZuvoBox";  // another build to compare
};

struct RunResult {
    std::vector<double> replyMs;  // one per answered host open
    int timeouts = 0;
    size_t flooded = 0;   // bytes the switching client got written
    double floodS = 0;    // how long writing them took
    double closeMs = -1;  // SIGTERM -> exit; -1: killed after the deadline
    long peakKiB = 0;     // the program's peak resident size
};

class Program {
  public:
    Program(const std::string& binary, const std::string& folder, const std::string& name) {
        // The child inherits our unwritten output, and its freopen would write it again.
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
            setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
            setenv("ZUVOBOX_LOCK_DIR", (folder + "/lock").c_str(), 1);
            setenv("ZUVOBOX_RTTY_SHM", ("/zuvo-bench-" + std::to_string(getpid())).c_str(), 1);
            const std::string out = folder + "/" + name + ".out";
            if (!freopen(out.c_str(), "w", stdout) || !freopen("/dev/null", "w", stderr)) {
                _exit(126);
            }
            const std::string ini = folder + "/ZuvoBox.ini";
            execl(binary.c_str(), binary.c_str(), "--headless", "--simulate", "--ini", ini.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // SIGTERM, then waits for the end (SIGKILL after the deadline). Fills closeMs and peakKiB.
    void Close(RunResult& r) {
        const auto t0 = Clock::now();
        kill(pid_, SIGTERM);
        rusage usage{};
        int status = 0;
        while (wait4(pid_, &status, WNOHANG, &usage) == 0) {
            if (Clock::now() - t0 > kCloseDeadline) {
                kill(pid_, SIGKILL);
                wait4(pid_, &status, 0, &usage);
                pid_ = -1;
                r.peakKiB = usage.ru_maxrss;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        pid_ = -1;
        r.closeMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        r.peakKiB = usage.ru_maxrss;
    }

  private:
    pid_t pid_ = -1;
};

// A logger's end of a pty link: raw and locked, as serial programs open it.
int OpenClient(const std::string& link) {
    for (int i = 0; i < 500 && !std::filesystem::exists(link); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    flock(fd, LOCK_EX | LOCK_NB);
    zuvo::bench::MakeRaw(fd);
    return fd;
}

// Waits for byte want on fd; the time it arrived, or nothing after the deadline.
bool AwaitByte(int fd, uint8_t want, Clock::time_point& at) {
    const auto end = Clock::now() + kReplyDeadline;
    while (Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0 || (p.revents & POLLIN) == 0) {
            continue;
        }
        uint8_t buf[64];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0 && std::find(buf, buf + n, want) != buf + n) {
            at = Clock::now();
            return true;
        }
    }
    return false;
}

void KeyerRounds(int keyer, int rounds, RunResult& r) {
    const auto end = Clock::now() + kRoundsDeadline;
    for (int i = 0; i < rounds && Clock::now() < end; ++i) {
        const uint8_t open[] = {0x00, 0x02};   // admin: host open
        const uint8_t close[] = {0x00, 0x03};  // admin: host close
        const auto t0 = Clock::now();
        if (write(keyer, open, sizeof open) != 2) {
            break;
        }
        Clock::time_point at;
        if (AwaitByte(keyer, 0x0A, at)) {
            r.replyMs.push_back(std::chrono::duration<double, std::milli>(at - t0).count());
        } else {
            ++r.timeouts;
        }
        if (write(keyer, close, sizeof close) != 2) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        tcflush(keyer, TCIFLUSH);
    }
}

RunResult Run(const std::string& folder, const std::string& name, const Options& o, bool flood) {
    RunResult r;
    Program program(o.program, folder, name);
    const int keyer = OpenClient(folder + "/zuvobox/WINKEY_DEVICE");
    const int switching = OpenClient(folder + "/zuvobox/OTRSP_DEVICE");
    if (keyer < 0 || switching < 0) {
        std::fprintf(stderr, "bench_stall: the program's ptys did not appear\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // connect query answered

    std::atomic<size_t> written{0};
    std::atomic<bool> stop{false};
    std::thread flooder;
    const auto floodStart = Clock::now();
    if (flood) {
        flooder = std::thread([&] {
            std::string chunk;
            while (chunk.size() < 4096) {
                chunk += "?TX\r";
            }
            const auto end = Clock::now() + kFloodDeadline;
            while (written.load() < o.floodBytes && !stop.load() && Clock::now() < end) {
                pollfd p{switching, POLLOUT, 0};
                if (poll(&p, 1, 50) <= 0) {
                    continue;
                }
                const size_t left = std::min(chunk.size(), o.floodBytes - written.load());
                const ssize_t n = write(switching, chunk.data(), left);
                if (n > 0) {
                    written += static_cast<size_t>(n);
                }
            }
            r.floodS = std::chrono::duration<double>(Clock::now() - floodStart).count();
        });
        // Rounds start once the client has stalled for good: far more written than the
        // pty holds.
        while (written.load() < std::min<size_t>(o.floodBytes / 4, 512u << 10) &&
               Clock::now() - floodStart < kFloodDeadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    KeyerRounds(keyer, o.rounds, r);
    if (flood) {
        flooder.join();
        r.flooded = written.load();
    }
    stop.store(true);
    close(keyer);
    close(switching);
    program.Close(r);
    return r;
}

double Percentile(std::vector<double> v, int pct) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(pct) / 100)];
}

void PrintReplies(const char* what, const RunResult& r) {
    std::printf("  %-26s median %8.3f ms  p99 %8.3f ms  (%zu answered, %d timed out)\n", what,
                Percentile(r.replyMs, 50), Percentile(r.replyMs, 99), r.replyMs.size(), r.timeouts);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    zuvo::bench::Options options(argc, argv);
    o.rounds = static_cast<int>(options.Int("--rounds", o.rounds, 1, 1000000));
    o.floodBytes = static_cast<size_t>(options.Number("--flood-mib", 5, 0.01, 1024) * (1u << 20));
    o.program = options.Text("--program", o.program);
    if (!options.Done()) {
        return zuvo::bench::UsageError(argv[0], options,
                                       "[--rounds N] [--flood-mib M] [--program PATH]");
    }
    std::printf("load average at start: %s\n", zuvo::bench::LoadAverage().c_str());
    // Each host open and close writes a setting, and a settings write waits for the disk;
    // on a memory file system that wait is not what gets measured.
    std::string pattern =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        "zuvo-bench-XXXXXX";
    const std::string folder = mkdtemp(pattern.data());
    std::ofstream(folder + "/ZuvoBox.ini") << "[Zuvo]\nAuto=TRUE\n[Keyer]\nUsePort=TRUE\n";

    const RunResult quiet = Run(folder, "quiet", o, false);
    const RunResult flood = Run(folder, "flood", o, true);

    std::printf("keyer host open (00 02 -> 0A), %d rounds:\n", o.rounds);
    PrintReplies("quiet:", quiet);
    PrintReplies("switching client flooding:", flood);
    const double p99 = Percentile(flood.replyMs, 99);
    const bool met = flood.timeouts == 0 && !flood.replyMs.empty() && p99 < kTargetP99Ms;
    std::printf("  p99 while flooded: %.3f ms, %.1fx quiet\n", p99,
                p99 / std::max(1e-6, Percentile(quiet.replyMs, 99)));
    std::printf("flood: %.2f MiB written in %.2f s by a client that never reads\n",
                static_cast<double>(flood.flooded) / (1u << 20), flood.floodS);
    std::printf("peak memory: quiet %.1f MiB, flooded %.1f MiB (%.2fx)\n", quiet.peakKiB / 1024.0,
                flood.peakKiB / 1024.0,
                static_cast<double>(flood.peakKiB) / std::max(1L, quiet.peakKiB));
    if (flood.closeMs < 0) {
        std::printf("close after the flood: did not end within %lld s (killed)\n",
                    static_cast<long long>(kCloseDeadline.count()));
    } else {
        std::printf("close after the flood: %.0f ms (quiet: %.0f ms)\n", flood.closeMs,
                    quiet.closeMs);
    }
    std::filesystem::remove_all(folder);
    zuvo::bench::Targets targets;
    targets.Check("keyer host open reply p99, switching flooded",
                  zuvo::bench::Format("%.3f ms", p99),
                  zuvo::bench::Format("< %.0f ms", kTargetP99Ms), met);
    return targets.Report();
}
