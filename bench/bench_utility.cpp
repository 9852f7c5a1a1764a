// The utility against the simulated box, through the real read thread and message queue:
// the multiplex test's round trips, and a full firmware update with each boot-loader answer
// held to a 1 ms USB frame.

#include <sys/prctl.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

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

struct Bench {
    zuvo::sim::SimHidSystem sim;
    zuvo::platform::MessageQueue queue;
    Dialogs dialogs;
    zuvo::UtilityDlg dlg{sim, queue, dialogs};

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

int Multiplex() {
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
    std::printf("multiplex: 10002 round trips in %.3f s: %.0f round trips/s, %.1f us each\n", s,
                10002 / s, s * 1e6 / 10002);
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

int Update() {
    Bench b;
    zuvo::sim::SimBootLoaderComponent* loader = nullptr;
    b.sim.WithBox([&](zuvo::sim::SimBox& box) {
        loader = &zuvo::sim::InstallBootLoader(box);
        box.SetReplyDelayMs(1);  // every answer waits for the next 1 ms USB frame
    });
    b.dialogs.file = "/tmp/bench_utility_firmware.hex";
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
    const double bare = BareFrames(chunks + 1);
    if (bare > 0) {
        std::printf(
            "        the simulator alone takes %.3f s for its %u answers (%.0f us each): "
            "the utility adds %+.1f%% (%.0f us per answer)\n",
            bare, chunks + 1, bare * 1e6 / (chunks + 1), (total / bare - 1) * 100,
            (total - bare) * 1e6 / (chunks + 1));
    }
    (void)loader;
    return 0;
}

}  // namespace

int main() {
    // Timers of this process (the simulator's frame timer among them) fire without the
    // default 50 us slack, so that the measured time is the host's and the frames'.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    if (Multiplex() != 0) {
        return 1;
    }
    return Update();
}
