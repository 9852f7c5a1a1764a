// Latency of the switching port through a real pty, the real port read thread and the
// message loop, against the simulated box with no reply delay:
//   forward: a logger's "TX2\r" written on OTRSP_DEVICE -> the Zuvo State report written
//            to the box;
//   reverse: a front-panel switch change -> "$TX2\r" read by the logger;
//   floor:   the same pty write read back by a bare thread that only reads the master.
// Then the idle load with both pipes waiting for a client, from /proc/self/stat.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "core/settings_store.h"
#include "link/box_protocol.h"
#include "platform/posix/host_port_posix.h"
#include "platform/posix/ini_profile.h"
#include "sim/sim_hid.h"
#include "ui/zuvo_dlg.h"

namespace {

using zuvo::bench::MakeRaw;

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Notes the moment each Zuvo State report is written to the box.
class StateWriteClock {
  public:
    void Note() {
        const int64_t t = NowNs();
        std::lock_guard lock(mutex_);
        lastNs_ = t;
        ++count_;
        changed_.notify_all();
    }
    uint64_t Count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    // The time of write number > after, or -1 on timeout.
    int64_t WaitAfter(uint64_t after) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(2), [&] { return count_ > after; })) {
            return -1;
        }
        return lastNs_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t lastNs_ = 0;
    uint64_t count_ = 0;
};

// Reads from fd until expected has arrived; false after 2 s.
bool ReadUntil(int fd, std::string& got, const std::string& expected) {
    const auto end = Clock::now() + std::chrono::seconds(2);
    while (got.find(expected) == std::string::npos) {
        if (Clock::now() > end) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0 && (p.revents & POLLIN)) {
            char buf[256];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) {
                got.append(buf, static_cast<size_t>(n));
            }
        }
    }
    got.erase(0, got.find(expected) + expected.size());
    return true;
}

struct Stats {
    double medianUs = 0;
    double p99Us = 0;
};

Stats Summarise(std::vector<int64_t> ns) {
    std::sort(ns.begin(), ns.end());
    if (ns.empty()) {
        return {};
    }
    return {ns[ns.size() / 2] / 1000.0, ns[std::min(ns.size() - 1, ns.size() * 99 / 100)] / 1000.0};
}

// The floor: a raw pty whose master is read by a thread doing nothing else.
std::vector<int64_t> MeasureFloor(int rounds) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    MakeRaw(master);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    MakeRaw(slave);
    std::atomic<int64_t> readAt{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        size_t have = 0;
        while (!stop.load()) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                continue;
            }
            char buf[64];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) {
                have += static_cast<size_t>(n);
                if (have >= 4) {
                    have -= 4;
                    readAt.store(NowNs());
                }
            }
        }
    });
    std::vector<int64_t> out;
    for (int i = 0; i < rounds; ++i) {
        readAt.store(0);
        const int64_t t0 = NowNs();
        if (write(slave, i % 2 ? "TX1\r" : "TX2\r", 4) != 4) {
            break;
        }
        while (readAt.load() == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        out.push_back(readAt.load() - t0);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    stop.store(true);
    reader.join();
    close(slave);
    close(master);
    return out;
}

// utime + stime of this process, in clock ticks.
long long ProcessTicks() {
    std::ifstream in("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string f;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) {
            utime = std::stoll(f);
        } else if (i == 15) {
            stime = std::stoll(f);
        }
    }
    return utime + stime;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

    char tmpl[] = "/tmp/zuvo-bench-XXXXXX";
    const std::string folder = mkdtemp(tmpl);
    const std::string ini = folder + "/ZuvoBox.ini";
    std::ofstream(ini) << "[Zuvo]\nAuto=TRUE\n";

    zuvo::sim::SimHidSystem sim;
    StateWriteClock stateClock;
    zuvo::bench::ObservedHid hid(sim, [&stateClock](const uint8_t* data, size_t length) {
        if (length >= 3 && data[1] == zuvo::box::kZuvoState) {
            stateClock.Note();
        }
    });
    zuvo::platform::MessageQueue queue;
    zuvo::platform::posix::IniProfile profile;
    zuvo::SettingsStore settings(profile, ini);
    zuvo::platform::posix::PosixHostPortSystem hostPorts(folder);
    zuvo::bench::NoDialogs dialogs;

    // The program's main thread: the dialog and its message loop, as the headless front end.
    std::atomic<bool> ready{false};
    std::thread mainLoop([&] {
        zuvo::CZuvoDlg dlg({hid, queue, settings, dialogs, "", nullptr});
        dlg.SetHostPortSystem(hostPorts);
        dlg.OnInitDialog();
        ready.store(true);
        while (!dlg.Closed()) {
            zuvo::platform::Message m;
            if (queue.Wait(m, std::chrono::seconds(1))) {
                dlg.Dispatch(m);
            }
        }
    });
    while (!ready.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // connect query answered

    const int logger = open((folder + "/OTRSP_DEVICE").c_str(), O_RDWR | O_NOCTTY);
    if (logger < 0) {
        std::fprintf(stderr, "bench_otrsp: cannot open the switching pty\n");
        return 1;
    }
    MakeRaw(logger);
    std::string got;
    if (write(logger, "?NAME\r", 6) != 6 || !ReadUntil(logger, got, "(plus)\r")) {
        std::fprintf(stderr, "bench_otrsp: no answer on the switching pty\n");
        return 1;
    }

    // Forward: logger line -> Zuvo State written to the box.
    std::vector<int64_t> forward;
    for (int i = 0; i < rounds; ++i) {
        const uint64_t before = stateClock.Count();
        const int64_t t0 = NowNs();
        if (write(logger, i % 2 ? "TX1\r" : "TX2\r", 4) != 4) {
            break;
        }
        const int64_t t1 = stateClock.WaitAfter(before);
        if (t1 < 0) {
            std::fprintf(stderr, "bench_otrsp: no Zuvo State after a TX line\n");
            return 1;
        }
        forward.push_back(t1 - t0);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }

    // Reverse: front-panel switch -> "$TXn\r" at the logger.
    got.clear();
    if (write(logger, "ETX1\r", 5) != 5 || !ReadUntil(logger, got, "\r")) {
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tcflush(logger, TCIFLUSH);
    got.clear();
    std::vector<int64_t> reverse;
    for (int i = 0; i < rounds; ++i) {
        const bool radio2 = i % 2 == 0;
        const int64_t t0 = NowNs();
        sim.SetSwitches(radio2 ? zuvo::box::kSwitchTx2 : zuvo::box::kSwitchTx1);
        if (!ReadUntil(logger, got, radio2 ? "$TX2\r" : "$TX1\r")) {
            std::fprintf(stderr, "bench_otrsp: no change report after a switch change\n");
            return 1;
        }
        reverse.push_back(NowNs() - t0);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    sim.SetSwitches(0);
    close(logger);

    const std::vector<int64_t> floor = MeasureFloor(rounds);

    const Stats f = Summarise(forward);
    const Stats r = Summarise(reverse);
    const Stats fl = Summarise(floor);
    std::printf("rounds: %d\n", rounds);
    std::printf("floor   (pty write -> bare reader):        median %8.1f us  p99 %8.1f us\n",
                fl.medianUs, fl.p99Us);
    std::printf(
        "forward (\"TX2\\r\" -> Zuvo State to box):   median %8.1f us  p99 %8.1f us  "
        "median/floor %.2f\n",
        f.medianUs, f.p99Us, f.medianUs / fl.medianUs);
    std::printf(
        "reverse (switch -> \"$TX2\\r\" at logger):  median %8.1f us  p99 %8.1f us  "
        "median/floor %.2f\n",
        r.medianUs, r.p99Us, r.medianUs / fl.medianUs);

    // Idle: the logger has come and gone, both pipes wait for a client.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long long t0 = ProcessTicks();
    const auto w0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const long long t1 = ProcessTicks();
    const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
    const double cpu = static_cast<double>(t1 - t0) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::printf("idle    (both pipes waiting, %.1f s):       %.3f %% of one core\n", wall,
                100.0 * cpu / wall);

    zuvo::platform::Message close;
    close.id = zuvo::platform::kMsgClose;
    queue.Post(close);
    mainLoop.join();
    std::filesystem::remove_all(folder);
    return 0;
}
