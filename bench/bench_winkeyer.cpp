// The interface program's keyer path at real time: a logger writes CW text on the keyer pty,
// the main dialog runs its message loop on its own thread, and the simulated box keys the
// text at real Morse timing.
//
// Figures printed, each beside its target:
// - underruns: how often the simulated keyer ran dry between two characters of text that
//   were already in the send buffer (the logger writes each batch at once, so any idle
//   inside a batch is one); the slack is how long before it was needed each held character
//   reached the box;
// - latency from a text byte written on the pty (keyer idle) to Keyer Char written to the
//   box, beside the bare-pty floor (a byte through a pty pair of our own) measured in the
//   same run, split into its stages: pty read (the port read thread has the byte), queue
//   (the main thread has taken its message), interpreter (Keyer Char handed to the link),
//   report written (the box has it). The slowest samples are shown stage by stage, so an
//   outlier names where it was spent;
// - the reaction from a Keyer Sending Char report to the next Keyer Char.
//
// Options: --chars N (default 200), --samples N (default 200), --wpm A,B,... (default 60,99),
// --busy-cpus N (default 0): N threads at the lowest priority spin through the run, so no CPU
// sits idle. In a virtual machine an idle CPU is halted, and waking it costs the host's
// scheduler time (milliseconds here) that a bare machine does not pay; with every CPU kept
// busy the figures are the program's own, which tells the two apart.
// Exit status: 0 when every target is met, 1 when one is missed, 2 for bad options.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
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
using Micros = std::chrono::microseconds;

int64_t NowUs() {
    return std::chrono::duration_cast<Micros>(Clock::now().time_since_epoch()).count();
}

// Times of the keyer reports crossing the HID boundary, taken where the link writes and
// the device read thread reads.
struct HidTimes {
    enum Kind { kCharWritten, kSendingRead, kIdleRead };
    struct Event {
        int64_t us;
        Kind kind;
    };
    std::mutex mutex;
    std::vector<Event> events;

    void Add(Kind kind) {
        std::lock_guard lock(mutex);
        events.push_back({NowUs(), kind});
    }
    void Clear() {
        std::lock_guard lock(mutex);
        events.clear();
    }
    // The first Keyer Char written after the start, -1 for none.
    int64_t FirstCharUs() {
        std::lock_guard lock(mutex);
        for (const Event& e : events) {
            if (e.kind == kCharWritten) {
                return e.us;
            }
        }
        return -1;
    }
    // From each Keyer Sending Char read to the Keyer Char that follows it (a character
    // written after the box went idle is a fresh start, not a reaction).
    std::vector<int64_t> Reactions() {
        std::lock_guard lock(mutex);
        std::vector<int64_t> out;
        int64_t pending = -1;
        for (const Event& e : events) {
            if (e.kind == kSendingRead) {
                pending = e.us;
            } else if (e.kind == kIdleRead) {
                pending = -1;
            } else if (pending >= 0) {
                out.push_back(e.us - pending);
                pending = -1;
            }
        }
        return out;
    }
};

// The logger's end of the keyer pty.
class Logger {
  public:
    explicit Logger(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        if (fd_ >= 0) {
            MakeRaw(fd_);
        }
    }
    ~Logger() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Ok() const { return fd_ >= 0; }
    void Write(const std::string& bytes) const {
        if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            std::perror("write");
        }
    }
    // Reads until `stop` arrives after at least `after` other bytes that are not status bytes.
    bool ReadUntil(uint8_t stop, size_t after, std::chrono::seconds timeout) const {
        const auto end = Clock::now() + timeout;
        size_t echoes = 0;
        while (Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                continue;
            }
            uint8_t buf[256];
            const ssize_t n = read(fd_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] == stop && echoes >= after) {
                    return true;
                }
                if ((buf[i] & 0xC0) != 0xC0) {
                    ++echoes;
                }
            }
        }
        return false;
    }

  private:
    int fd_;
};

// A pty pair of our own: the floor any pty-borne byte pays.
class BarePty {
  public:
    BarePty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        MakeRaw(master_);
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
        MakeRaw(slave_);
    }
    ~BarePty() {
        close(slave_);
        close(master_);
    }
    // One byte from the slave (the logger's side) to the master (the program's side).
    int64_t OneByteUs() const {
        const uint8_t b = 'E';
        const int64_t t0 = NowUs();
        if (write(slave_, &b, 1) != 1) {
            return -1;
        }
        pollfd p{master_, POLLIN, 0};
        poll(&p, 1, 1000);
        uint8_t in = 0;
        if (read(master_, &in, 1) != 1) {
            return -1;
        }
        return NowUs() - t0;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
};

// Threads that spin at the lowest priority until destroyed: any other thread that wakes
// takes their CPU at once, and the CPU is never halted.
class BusyCpus {
  public:
    explicit BusyCpus(size_t n) {
        for (size_t i = 0; i < n; ++i) {
            threads_.emplace_back([this] {
                setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
                while (!stop_.load(std::memory_order_relaxed)) {
                }
            });
        }
    }
    ~BusyCpus() {
        stop_.store(true);
        for (std::thread& t : threads_) {
            t.join();
        }
    }
    BusyCpus(const BusyCpus&) = delete;
    BusyCpus& operator=(const BusyCpus&) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

struct Stats {
    int64_t median = 0;
    int64_t p99 = 0;
    double mean = 0;
    size_t n = 0;
};

Stats Summarise(std::vector<int64_t> v) {
    Stats s;
    s.n = v.size();
    if (v.empty()) {
        return s;
    }
    std::sort(v.begin(), v.end());
    s.median = v[v.size() / 2];
    s.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
    for (int64_t x : v) {
        s.mean += static_cast<double>(x);
    }
    s.mean /= static_cast<double>(v.size());
    return s;
}

// Where one idle-keyer text byte spent its time: the moment each stage ended, first of each
// after the logger's write (set from the port read thread, the main thread and the link).
struct StageClock {
    static constexpr size_t kStages = 4;
    static constexpr const char* kNames[kStages] = {"pty read", "queue", "interpreter",
                                                    "report written"};
    std::atomic<int64_t> at[kStages];

    void Clear() {
        for (auto& a : at) {
            a.store(-1);
        }
    }
    void Mark(size_t stage) {
        int64_t none = -1;
        at[stage].compare_exchange_strong(none, NowUs());
    }
};

struct Sample {
    int64_t total = 0;
    int64_t stage[StageClock::kStages] = {};
};

struct Transcript {
    // One run of text as the simulator saw it.
    struct Event {
        int64_t ms;
        enum { kKeyed, kIdle, kCharIn } kind;
    };
    std::vector<Event> events;

    static Transcript Parse(const std::string& text, size_t from) {
        Transcript t;
        std::istringstream in(text.substr(from));
        for (std::string line; std::getline(in, line);) {
            long long ms = 0;
            unsigned code = 0, value = 0;
            char word[16] = {};
            if (std::sscanf(line.c_str(), "%lld %15s", &ms, word) != 2) {
                continue;
            }
            const std::string w = word;
            if (w == "keyed") {
                t.events.push_back({ms, Event::kKeyed});
            } else if (w == "keyer" && line.find("keyer idle") != std::string::npos) {
                t.events.push_back({ms, Event::kIdle});
            } else if (w == "host" &&
                       std::sscanf(line.c_str(), "%lld host 0x%x 0x%x", &ms, &code, &value) == 3 &&
                       code == zuvo::box::kKeyerChar) {
                t.events.push_back({ms, Event::kCharIn});
            }
        }
        return t;
    }
    int Idles() const {
        return static_cast<int>(std::count_if(
            events.begin(), events.end(), [](const Event& e) { return e.kind == Event::kIdle; }));
    }
    // How long before it was keyed each character that the keyer took while busy reached it.
    std::vector<int64_t> SlackMs() const {
        std::vector<int64_t> out;
        int64_t lastIn = -1;
        bool busy = false;
        for (const Event& e : events) {
            if (e.kind == Event::kCharIn) {
                lastIn = busy ? e.ms : -1;
            } else if (e.kind == Event::kKeyed) {
                if (lastIn >= 0) {
                    out.push_back(e.ms - lastIn);
                }
                lastIn = -1;
                busy = true;
            } else {
                busy = false;
            }
        }
        return out;
    }
};

std::string ContestText(size_t n) {
    const std::string base = "CQ TEST DE N0CALL N0CALL TEST 5NN 14 TU ";
    std::string text;
    while (text.size() < n) {
        text += base;
    }
    text.resize(n);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    zuvo::bench::Options options(argc, argv);
    const auto chars = static_cast<size_t>(options.Int("--chars", 200, 1, 100000));
    const auto samples = static_cast<size_t>(options.Int("--samples", 200, 1, 100000));
    const std::vector<long long> speeds = options.IntList("--wpm", {60, 99}, 5, 99);
    const auto busyCpus = static_cast<size_t>(options.Int("--busy-cpus", 0, 0, 64));
    if (!options.Done()) {
        return zuvo::bench::UsageError(argv[0], options,
                                       "[--chars N] [--samples N] [--wpm A,B,...] [--busy-cpus N]");
    }
    std::printf("load average at start: %s\n", zuvo::bench::LoadAverage().c_str());
    if (busyCpus > 0) {
        std::printf("%zu lowest-priority threads keep the CPUs busy\n", busyCpus);
    }
    const BusyCpus busy(busyCpus);

    char pattern[] = "/tmp/zuvo-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    const std::string ini = dir + "/ZuvoBox.ini";
    std::ofstream(ini) << "[Zuvo]\nAuto=TRUE\n[Keyer]\nUsePort=TRUE\n";

    std::ostringstream transcript;  // written under the simulator's lock, read at the end
    zuvo::sim::SimHidSystem sim;
    sim.SetTranscript(&transcript);
    HidTimes times;
    StageClock stages;
    stages.Clear();
    auto isKeyerChar = [](const uint8_t* data, size_t length) {
        return length >= 2 && data[1] == zuvo::box::kKeyerChar;
    };
    zuvo::bench::ObservedHid hid(
        sim,
        [&](const uint8_t* data, size_t length) {
            if (isKeyerChar(data, length)) {
                stages.Mark(2);
                times.Add(HidTimes::kCharWritten);
            }
        },
        [&times](const uint8_t* buf, const zuvo::platform::HidReadResult& result) {
            if (result.status != zuvo::platform::HidReadStatus::kReport || result.length < 3) {
                return;
            }
            if (buf[1] == zuvo::box::kKeyerSendingChar) {
                times.Add(HidTimes::kSendingRead);
            } else if (buf[1] == zuvo::box::kKeyerEvent && buf[2] == zuvo::box::kEventIdle) {
                times.Add(HidTimes::kIdleRead);
            }
        },
        [&](const uint8_t* data, size_t length) {
            if (isKeyerChar(data, length)) {
                stages.Mark(3);
            }
        });
    zuvo::platform::MessageQueue queue;
    zuvo::platform::posix::IniProfile profile;
    zuvo::SettingsStore settings(profile, ini);
    zuvo::bench::NoDialogs dialogs;
    zuvo::platform::posix::PosixHostPortSystem realPorts;
    zuvo::bench::ObservedHostPorts ports(realPorts,
                                         [&](const uint8_t*, size_t) { stages.Mark(0); });
    std::atomic<bool> connected{false};
    int exitCode = 0;
    {
        zuvo::CZuvoDlg dlg({hid, queue, settings, dialogs, dir + "/ZuvoBox.txt", nullptr});
        dlg.SetHostPortSystem(ports);
        dlg.Log().SetKeepLines(false);
        dlg.Log().SetObserver([&connected](const std::string& line) {
            if (line.rfind("Connected to Zuvo Box", 0) == 0) {
                connected = true;
            }
        });
        std::thread mainThread([&] {
            dlg.OnInitDialog();
            while (!dlg.Closed()) {
                zuvo::platform::Message m;
                if (queue.Wait(m, std::chrono::milliseconds(200))) {
                    if (m.id == zuvo::platform::kMsgKeyerPortByte) {
                        stages.Mark(1);
                    }
                    dlg.Dispatch(m);
                }
            }
        });

        const std::string link = dir + "/zuvobox/WINKEY_DEVICE";
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while ((!connected || !std::filesystem::exists(link)) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Logger logger(link);
        if (!connected || !logger.Ok()) {
            std::fprintf(stderr, "bench_winkeyer: no box or no keyer pty\n");
            exitCode = 1;
        } else {
            logger.Write(std::string("\x00\x02", 2));  // admin: host open
            logger.ReadUntil(0x0A, 0, std::chrono::seconds(5));
            logger.Write(std::string("\x0E\x04", 2));  // mode: echo

            zuvo::bench::Targets targets;
            std::printf("WinKeyer keyer path, simulated keyer at real time, %zu characters\n\n",
                        chars);
            std::printf("%5s %8s %9s %10s %16s %22s\n", "WPM", "batches", "underruns", "seconds",
                        "slack min ms", "reaction median/p99 us");
            const std::string text = ContestText(chars);
            constexpr size_t kBatch = 85;  // a logger waits when the buffer reports it is full
            std::vector<std::pair<int, int>> underrunsAt;
            for (const long long wpm : speeds) {
                logger.Write(std::string{'\x02', static_cast<char>(wpm)});
                sim.WithBox([](zuvo::sim::SimBox& box) { box.Note("bench start"); });
                times.Clear();
                const auto t0 = Clock::now();
                size_t batches = 0;
                for (size_t pos = 0; pos < text.size(); pos += kBatch) {
                    const std::string batch = text.substr(pos, kBatch);
                    logger.Write(batch);
                    ++batches;
                    if (!logger.ReadUntil(0xC0, batch.size(), std::chrono::seconds(120))) {
                        std::fprintf(stderr, "bench_winkeyer: no idle status after a batch\n");
                        exitCode = 1;
                        break;
                    }
                }
                const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
                const std::vector<int64_t> reaction = times.Reactions();
                std::string all;
                sim.WithBox([&](zuvo::sim::SimBox&) { all = transcript.str(); });
                const size_t mark = all.rfind(" bench start");
                const Transcript t = Transcript::Parse(all, mark == std::string::npos ? 0 : mark);
                const int underruns = t.Idles() - static_cast<int>(batches);
                const auto slack = t.SlackMs();
                const Stats r = Summarise(reaction);
                std::printf("%5lld %8zu %9d %10.1f %16lld %14lld / %lld\n", wpm, batches, underruns,
                            seconds,
                            slack.empty() ? -1LL
                                          : static_cast<long long>(
                                                *std::min_element(slack.begin(), slack.end())),
                            static_cast<long long>(r.median), static_cast<long long>(r.p99));
                underrunsAt.emplace_back(static_cast<int>(wpm), underruns);
            }

            // Latency with the keyer idle: one character at a time, a bare pty byte beside
            // each.
            logger.Write(std::string{'\x02', 99});
            BarePty bare;
            std::vector<Sample> app;
            std::vector<int64_t> floor;
            for (size_t i = 0; i < samples; ++i) {
                stages.Clear();
                const int64_t t0 = NowUs();
                logger.Write("E");
                if (!logger.ReadUntil(0xC0, 1, std::chrono::seconds(5))) {
                    continue;
                }
                Sample sample;
                int64_t last = t0;
                bool complete = true;
                for (size_t k = 0; k < StageClock::kStages; ++k) {
                    const int64_t at = stages.at[k].load();
                    complete = complete && at >= last;
                    sample.stage[k] = at - last;
                    last = at;
                }
                if (complete) {
                    // To the moment the link hands Keyer Char to the box: what the box does
                    // with a write (on USB, up to a frame) is not the host's time.
                    sample.total = stages.at[2].load() - t0;
                    app.push_back(sample);
                }
                const int64_t f = bare.OneByteUs();
                if (f >= 0) {
                    floor.push_back(f);
                }
            }
            std::vector<int64_t> totals;
            for (const Sample& x : app) {
                totals.push_back(x.total);
            }
            const Stats a = Summarise(totals);
            const Stats f = Summarise(floor);
            std::printf(
                "\nText byte on the pty -> Keyer Char to the box: median %lld us, p99 "
                "%lld us (%zu samples)\n",
                static_cast<long long>(a.median), static_cast<long long>(a.p99), a.n);
            std::printf(
                "Bare pty byte (floor):                        median %lld us, p99 "
                "%lld us (%zu samples)\n",
                static_cast<long long>(f.median), static_cast<long long>(f.p99), f.n);
            std::vector<Stats> perStage;
            double allMeans = 0;
            for (size_t k = 0; k < StageClock::kStages; ++k) {
                std::vector<int64_t> v;
                for (const Sample& x : app) {
                    v.push_back(x.stage[k]);
                }
                perStage.push_back(Summarise(v));
                allMeans += perStage.back().mean;
            }
            std::printf("%-16s %10s %10s %8s\n", "stage", "median us", "p99 us", "share");
            for (size_t k = 0; k < StageClock::kStages; ++k) {
                std::printf(
                    "%-16s %10lld %10lld %7.0f%%%s\n", StageClock::kNames[k],
                    static_cast<long long>(perStage[k].median),
                    static_cast<long long>(perStage[k].p99),
                    allMeans > 0 ? 100.0 * perStage[k].mean / allMeans : 0.0,
                    k + 1 == StageClock::kStages ? "  (the box's write, after the figure)" : "");
            }
            // The slowest samples, stage by stage: where an outlier spent its time.
            std::vector<Sample> slow = app;
            std::sort(slow.begin(), slow.end(),
                      [](const Sample& x, const Sample& y) { return x.total > y.total; });
            slow.resize(std::min<size_t>(slow.size(), 3));
            for (const Sample& x : slow) {
                std::printf("slow sample %6lld us:", static_cast<long long>(x.total));
                for (size_t k = 0; k < StageClock::kStages; ++k) {
                    std::printf("  %s %lld", StageClock::kNames[k],
                                static_cast<long long>(x.stage[k]));
                }
                std::printf("\n");
            }

            for (const auto& [wpm, underruns] : underrunsAt) {
                targets.Check("underruns at " + std::to_string(wpm) + " WPM",
                              std::to_string(underruns), "0", underruns == 0);
            }
            const double ratio =
                f.median > 0 ? static_cast<double>(a.median) / static_cast<double>(f.median) : 0;
            targets.Check("text byte -> Keyer Char, median / floor",
                          zuvo::bench::Format("%.2fx", ratio), "<= 2x", a.n > 0 && ratio <= 2.0);
            targets.Check("text byte -> Keyer Char, p99", std::to_string(a.p99) + " us",
                          "< 1000 us", a.n > 0 && a.p99 < 1000);
            if (targets.Report() != 0) {
                exitCode = 1;
            }
        }
        queue.Post({zuvo::platform::kMsgClose, 0, 0, {}, 0});
        mainThread.join();
    }
    std::filesystem::remove_all(dir);
    return exitCode;
}
