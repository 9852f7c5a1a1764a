// The utility against the simulated box, through the real read thread and message queue:
// the multiplex test's round trips, and a full firmware update with each boot-loader answer
// held to a 1 ms USB frame. Each figure is printed beside its target; the utility's own time
// per answer (from the answer read to the next request written) is shown beside them.
//
// No options. Exit status: 0 when every target is met, 1 when one is missed, 2 for bad
// options.

#include <stdlib.h>
#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "bench_options.h"

#include "sim/sim_bootloader.h"
#include "sim/sim_hid.h"
#include "utility/hex_builder.h"
#include "utility/utility_dlg.h"

namespace {

using Clock = std::chrono::steady_clock;
using zuvo::FirmwareUpdater;

class Dialogs final : public zuvo::IDialogHost {
  public:
    std::string file;
    void ShowError(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    std::optional<std::string> OpenFile(const std::string&) override { return file; }
};

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// The utility's own time for each answer: from the device read thread having the answer to
// the next request handed to the box.
class AnswerClock {
  public:
    void Read() { readAt_.store(NowNs()); }
    void Written() {
        const int64_t read = readAt_.exchange(-1);
        if (read >= 0) {
            std::lock_guard lock(mutex_);
            spans_.push_back(NowNs() - read);
        }
    }
    std::vector<int64_t> Take() {
        std::lock_guard lock(mutex_);
        return std::move(spans_);
    }

  private:
    std::atomic<int64_t> readAt_{-1};
    std::mutex mutex_;
    std::vector<int64_t> spans_;
};

int64_t Percentile(std::vector<int64_t> v, size_t pct) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * pct / 100)];
}

struct Bench {
    zuvo::sim::SimHidSystem sim;
    AnswerClock answers;
    zuvo::bench::ObservedHid hid{sim, [this](const uint8_t*, size_t) { answers.Written(); },
                                 [this](const uint8_t*, const zuvo::platform::HidReadResult& r) {
                                     if (r.status == zuvo::platform::HidReadStatus::kReport) {
                                         answers.Read();
                                     }
                                 }};
    zuvo::platform::MessageQueue queue;
    Dialogs dialogs;
    zuvo::UtilityDlg dlg{hid, queue, dialogs};

    // Dispatches what is queued now (the removal of the box must not meet the new link).
    void Drain() {
        zuvo::platform::Message m;
        while (queue.TryGet(m)) {
            dlg.Dispatch(m);
        }
    }

    // Dispatches messages until pred holds; false after 60 s.
    template <typename Pred>
    bool Pump(Pred pred) {
        const auto end = Clock::now() + std::chrono::seconds(60);
        while (!pred()) {
            zuvo::platform::Message m;
            if (queue.Wait(m, std::chrono::milliseconds(100))) {
                dlg.Dispatch(m);
            }
            if (Clock::now() > end) {
                return false;
            }
        }
        return true;
    }
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

int Multiplex(zuvo::bench::Targets& targets) {
    Bench b;
    b.dlg.OnControlChanged(zuvo::utility::kConnect);
    if (!b.Pump([&] { return b.dlg.ReportsSinceConnect() >= 28; })) {
        std::fprintf(stderr, "connect query not answered\n");
        return 1;
    }
    const uint32_t before = b.dlg.ReportsSinceConnect();
    const auto start = Clock::now();
    b.dlg.OnControlChanged(zuvo::utility::kMultiplex);
    // 10,002 commands: the run ends when the answer to the last one has been handled.
    if (!b.Pump([&] { return b.dlg.ReportsSinceConnect() - before >= 10002; })) {
        std::fprintf(stderr, "multiplex test did not finish\n");
        return 1;
    }
    const double s = Seconds(Clock::now() - start);
    const std::vector<int64_t> own = b.answers.Take();
    std::printf(
        "multiplex: 10002 round trips in %.3f s: %.0f round trips/s, %.1f us each; the "
        "utility's own time per answer median %.1f us, p99 %.1f us\n",
        s, 10002 / s, s * 1e6 / 10002, Percentile(own, 50) / 1000.0, Percentile(own, 99) / 1000.0);
    targets.Check("multiplex round trips", zuvo::bench::Format("%.0f/s", 10002 / s), ">= 20000/s",
                  10002 / s >= 20000);
    return 0;
}

// The same number of answers taken straight from the simulated boot loader on one thread,
// with no utility in between: what the simulator's 1 ms frames cost on this machine.
double BareFrames(uint32_t answers) {
    zuvo::sim::SimHidSystem sim;
    sim.WithBox([&](zuvo::sim::SimBox& box) {
        zuvo::sim::InstallBootLoader(box).Enter(box);
        box.SetReplyDelayMs(1);
    });
    std::unique_ptr<zuvo::platform::IHidHandle> write, read;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!write && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        write = sim.Open(zuvo::sim::kSimBoxPath, zuvo::platform::HidAccess::kWrite);
    }
    read = sim.Open(zuvo::sim::kSimBoxPath, zuvo::platform::HidAccess::kRead);
    if (!write || !read) {
        return -1;
    }
    const auto start = Clock::now();
    for (uint32_t i = 0; i < answers; ++i) {
        const auto request = FirmwareUpdater::Request(1, 32, 0x2000);
        uint8_t answer[65];
        if (!write->Write(request.data(), request.size()) ||
            read->Read(answer, sizeof answer).status != zuvo::platform::HidReadStatus::kReport) {
            return -1;
        }
    }
    return Seconds(Clock::now() - start);
}

int Update(zuvo::bench::Targets& targets, const std::string& folder) {
    Bench b;
    zuvo::sim::SimBootLoaderComponent* loader = nullptr;
    b.sim.WithBox([&](zuvo::sim::SimBox& box) {
        loader = &zuvo::sim::InstallBootLoader(box);
        box.SetReplyDelayMs(1);  // every answer waits for the next 1 ms USB frame
    });
    b.dialogs.file = folder + "/firmware.hex";
    std::ofstream(b.dialogs.file) << zuvo::test::HexData(
                                         0x2000, zuvo::test::FirmwareBytes(0x5FC0, 0x21, 0, 0))
                                  << zuvo::test::EndRecord();
    b.dlg.OnControlChanged(zuvo::utility::kConnect);
    b.dlg.OnControlChanged(zuvo::utility::kUpdate);  // into the boot loader
    const auto returned = Clock::now() + std::chrono::seconds(10);
    while (!b.dlg.Link().IsConnectedFlag() && Clock::now() < returned) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.Drain();
        b.dlg.OnControlChanged(zuvo::utility::kConnect);
    }
    if (!b.dlg.Link().UpdateMode()) {
        std::fprintf(stderr, "boot loader did not come back\n");
        return 1;
    }
    FirmwareUpdater& u = b.dlg.Updater();
    b.answers.Take();
    const auto start = Clock::now();
    b.dlg.OnControlChanged(zuvo::utility::kUpdate);
    const auto uploaded = Clock::now();
    const bool done = b.Pump([&] {
        return u.CurrentStage() == FirmwareUpdater::Stage::kRestarted ||
               u.CurrentStage() == FirmwareUpdater::Stage::kFailed;
    });
    const double total = Seconds(Clock::now() - start);
    if (!done || u.CurrentStage() != FirmwareUpdater::Stage::kRestarted) {
        std::fprintf(stderr, "update failed\n");
        return 1;
    }
    // Only answers wait for frames: one per read request and one for the end of programming.
    const uint32_t chunks = (u.Highest() - u.Lowest()) / 32 + 1;
    const double minimum = (chunks + 1) * 1e-3;
    std::printf(
        "update: %u bytes (0x%04x-0x%04x), read + erase + upload %.3f s, total %.3f s; "
        "frame-limited minimum %.3f s (%+.1f%%)\n",
        u.Highest() - u.Lowest() + 32, u.Lowest(), u.Highest() + 31, Seconds(uploaded - start),
        total, minimum, (total / minimum - 1) * 100);
    const std::vector<int64_t> own = b.answers.Take();
    std::printf(
        "        the utility's own time per answer (answer read -> next request written): "
        "median %.1f us, p99 %.1f us\n",
        Percentile(own, 50) / 1000.0, Percentile(own, 99) / 1000.0);
    const double bare = BareFrames(chunks + 1);
    if (bare > 0) {
        std::printf(
            "        the simulator alone takes %.3f s for its %u answers (%.0f us each): "
            "the utility adds %+.1f%% (%.0f us per answer)\n",
            bare, chunks + 1, bare * 1e6 / (chunks + 1), (total / bare - 1) * 100,
            (total - bare) * 1e6 / (chunks + 1));
    }
    const double over = (total / minimum - 1) * 100;
    targets.Check("24 KiB update over the frame-limited minimum",
                  zuvo::bench::Format("%+.1f%%", over), "<= +10%", over <= 10.0);
    (void)loader;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    zuvo::bench::Options options(argc, argv);
    if (!options.Done()) {
        return zuvo::bench::UsageError(argv[0], options, "(no options)");
    }
    std::printf("load average at start: %s\n", zuvo::bench::LoadAverage().c_str());
    // Timers of this process (the simulator's frame timer among them) fire without the
    // default 50 us slack, so that the measured time is the host's and the frames'.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::string pattern = (std::filesystem::temp_directory_path() / "zuvo-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = pattern;
    zuvo::bench::Targets targets;
    int failed = Multiplex(targets);
    if (failed == 0) {
        failed = Update(targets, folder);
    }
    std::filesystem::remove_all(folder);
    if (failed != 0) {
        return failed;
    }
    return targets.Report();
}
