// Latency of the switching port through a real pty, the real port read thread and the
// message loop, against the simulated box with no reply delay:
//   forward: a logger's "TX2\r" written on OTRSP_DEVICE -> the Zuvo State report handed to
//            the box; stages: pty read, queue, interpreter;
//   reverse: a front-panel switch change -> "$TX2\r" read by the logger; stages: box report
//            read (the device read thread has it), queue (the main thread has taken it),
//            interpreter (the line written to the pty), pty (the logger has read it);
//   floor:   the same pty write read back by a bare thread that only reads the master, one
//            sample beside each forward and reverse round.
// Then the idle load with both pipes waiting for a client, from /proc/self/stat.
//
// Options: --rounds N (default 2000), --idle-seconds S (default 10).
// Exit status: 0 when every target is met, 1 when one is missed, 2 for bad options.
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
#include "bench_options.h"
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
    double meanUs = 0;
};

Stats Summarise(std::vector<int64_t> ns) {
    std::sort(ns.begin(), ns.end());
    if (ns.empty()) {
        return {};
    }
    double sum = 0;
    for (int64_t x : ns) {
        sum += static_cast<double>(x);
    }
    return {ns[ns.size() / 2] / 1000.0, ns[std::min(ns.size() - 1, ns.size() * 99 / 100)] / 1000.0,
            sum / static_cast<double>(ns.size()) / 1000.0};
}

// The moment each stage of one round ended (first of each after the round began), set
// from the port read thread, the device read thread and the main thread.
template <size_t N>
struct StageClock {
    std::atomic<int64_t> at[N];
    void Clear() {
        for (auto& a : at) {
            a.store(-1);
        }
    }
    void Mark(size_t stage) {
        int64_t none = -1;
        at[stage].compare_exchange_strong(none, NowNs());
    }
    // Each stage's length from t0, appended to stages[k]; false when one is missing.
    bool Collect(int64_t t0, std::vector<int64_t> (&stages)[N]) const {
        int64_t last = t0;
        int64_t length[N];
        for (size_t k = 0; k < N; ++k) {
            const int64_t t = at[k].load();
            if (t < last) {
                return false;
            }
            length[k] = t - last;
            last = t;
        }
        for (size_t k = 0; k < N; ++k) {
            stages[k].push_back(length[k]);
        }
        return true;
    }
};

template <size_t N>
void PrintStages(const char* (&names)[N], std::vector<int64_t> (&stages)[N]) {
    Stats s[N];
    double all = 0;
    for (size_t k = 0; k < N; ++k) {
        s[k] = Summarise(stages[k]);
        all += s[k].meanUs;
    }
    for (size_t k = 0; k < N; ++k) {
        std::printf("    %-18s median %8.1f us  p99 %8.1f us  share %3.0f%%\n", names[k],
                    s[k].medianUs, s[k].p99Us, all > 0 ? 100.0 * s[k].meanUs / all : 0.0);
    }
}

// The floor: a raw pty whose master is read by a thread doing nothing else. One sample is
// taken beside each measured round, so that floor and path meet the same load.
class BareFloor {
  public:
    BareFloor() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        MakeRaw(master_);
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
        MakeRaw(slave_);
        reader_ = std::thread([this] { Read(); });
    }
    ~BareFloor() {
        stop_.store(true);
        reader_.join();
        close(slave_);
        close(master_);
    }
    // One line written to the slave until the reader has it, in ns; -1 on failure.
    int64_t Sample() {
        readAt_.store(0);
        const int64_t t0 = NowNs();
        if (write(slave_, (count_++ % 2) != 0 ? "TX1\r" : "TX2\r", 4) != 4) {
            return -1;
        }
        // The writer sleeps until the reader has the line, as the measured paths' writers do.
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(2),
                               [&] { return readAt_.load() != 0; })) {
            return -1;
        }
        return readAt_.load() - t0;
    }

  private:
    void Read() {
        size_t have = 0;
        while (!stop_.load()) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                continue;
            }
            char buf[64];
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) {
                continue;
            }
            have += static_cast<size_t>(n);
            if (have >= 4) {
                have -= 4;
                {
                    std::lock_guard lock(mutex_);
                    readAt_.store(NowNs());
                }
                arrived_.notify_one();
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    int count_ = 0;
    std::atomic<int64_t> readAt_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::thread reader_;
};

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
    zuvo::bench::Options options(argc, argv);
    const int rounds = static_cast<int>(options.Int("--rounds", 2000, 1, 1000000));
    const int idleSeconds = static_cast<int>(options.Int("--idle-seconds", 10, 1, 3600));
    if (!options.Done()) {
        return zuvo::bench::UsageError(argv[0], options, "[--rounds N] [--idle-seconds S]");
    }
    std::printf("load average at start: %s\n", zuvo::bench::LoadAverage().c_str());

    char tmpl[] = "/tmp/zuvo-bench-XXXXXX";
    const std::string folder = mkdtemp(tmpl);
    const std::string ini = folder + "/ZuvoBox.ini";
    std::ofstream(ini) << "[Zuvo]\nAuto=TRUE\n";

    zuvo::sim::SimHidSystem sim;
    StateWriteClock stateClock;
    // forward: pty read, queue, interpreter; reverse: box report read, queue, interpreter, pty
    StageClock<3> forwardStages;
    StageClock<4> reverseStages;
    forwardStages.Clear();
    reverseStages.Clear();
    zuvo::bench::ObservedHid hid(
        sim,
        [&](const uint8_t* data, size_t length) {
            if (length >= 3 && data[1] == zuvo::box::kZuvoState) {
                forwardStages.Mark(2);
                stateClock.Note();
            }
        },
        [&](const uint8_t* buf, const zuvo::platform::HidReadResult& result) {
            if (result.status == zuvo::platform::HidReadStatus::kReport && result.length >= 3 &&
                buf[1] == zuvo::box::kZuvoSwitches) {
                reverseStages.Mark(0);
            }
        });
    zuvo::platform::MessageQueue queue;
    zuvo::platform::posix::IniProfile profile;
    zuvo::SettingsStore settings(profile, ini);
    zuvo::platform::posix::PosixHostPortSystem realPorts(folder);
    zuvo::bench::ObservedHostPorts hostPorts(
        realPorts, [&](const uint8_t*, size_t) { forwardStages.Mark(0); },
        [&](const uint8_t* data, size_t length) {
            if (length > 0 && data[length - 1] == '\r') {
                reverseStages.Mark(2);
            }
        });
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
                if (m.id == zuvo::platform::kMsgSwitchingPortByte && m.lParam == '\r') {
                    forwardStages.Mark(1);
                } else if (m.id == zuvo::platform::kMsgBoxReport &&
                           (m.lParam >> 8) == zuvo::box::kZuvoSwitches) {
                    reverseStages.Mark(1);
                }
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

    BareFloor bare;
    std::vector<int64_t> floor;
    auto floorSample = [&] {
        std::this_thread::sleep_for(std::chrono::microseconds(250));
        const int64_t f = bare.Sample();
        if (f >= 0) {
            floor.push_back(f);
        }
    };

    // Forward: logger line -> Zuvo State written to the box.
    std::vector<int64_t> forward;
    std::vector<int64_t> forwardStage[3];
    for (int i = 0; i < rounds; ++i) {
        const uint64_t before = stateClock.Count();
        forwardStages.Clear();
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
        forwardStages.Collect(t0, forwardStage);
        floorSample();
        std::this_thread::sleep_for(std::chrono::microseconds(250));
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
    std::vector<int64_t> reverseStage[4];
    for (int i = 0; i < rounds; ++i) {
        const bool radio2 = i % 2 == 0;
        reverseStages.Clear();
        const int64_t t0 = NowNs();
        sim.SetSwitches(radio2 ? zuvo::box::kSwitchTx2 : zuvo::box::kSwitchTx1);
        if (!ReadUntil(logger, got, radio2 ? "$TX2\r" : "$TX1\r")) {
            std::fprintf(stderr, "bench_otrsp: no change report after a switch change\n");
            return 1;
        }
        reverseStages.Mark(3);
        reverse.push_back(NowNs() - t0);
        reverseStages.Collect(t0, reverseStage);
        floorSample();
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    sim.SetSwitches(0);
    close(logger);

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
    const char* forwardNames[3] = {"pty read", "queue", "interpreter"};
    PrintStages(forwardNames, forwardStage);
    std::printf(
        "reverse (switch -> \"$TX2\\r\" at logger):  median %8.1f us  p99 %8.1f us  "
        "median/floor %.2f\n",
        r.medianUs, r.p99Us, r.medianUs / fl.medianUs);
    const char* reverseNames[4] = {"box report read", "queue", "interpreter", "pty to logger"};
    PrintStages(reverseNames, reverseStage);

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

    zuvo::bench::Targets targets;
    const double ratio = fl.medianUs > 0 ? r.medianUs / fl.medianUs : 0;
    targets.Check("switch -> \"$TX2\\r\" readable, median / floor",
                  zuvo::bench::Format("%.2fx", ratio), "<= 1.5x", !reverse.empty() && ratio <= 1.5);

    zuvo::platform::Message close;
    close.id = zuvo::platform::kMsgClose;
    queue.Post(close);
    mainLoop.join();
    std::filesystem::remove_all(folder);
    return targets.Report();
}
