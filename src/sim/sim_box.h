#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <string_view>
#include <vector>

#include "sim/sim_clock.h"

namespace zuvo::sim {

// One box->host report with the moment it may leave the box.
struct SimReport {
    int64_t timeMs = 0;
    uint8_t code = 0;
    uint8_t value = 0;
    // A report of another size (the boot loader's), report ID first; empty for the usual
    // 3-byte report made of code and value.
    std::vector<uint8_t> raw;
};

class SimBox;

// A timed part of the firmware (keyer, FSK, boot loader) plugged into the box. The box calls
// every hook, so hooks run under whatever serialises the box (SimHidSystem's lock): a
// component locks nothing itself and never calls into SimHidSystem.
class ISimComponent {
  public:
    virtual ~ISimComponent() = default;

    // Every host->box report reaches the components first, in the order they were added.
    // True = handled; the box then does nothing more with it (the transcript line is
    // already written).
    virtual bool OnHostReport(uint8_t code, uint8_t value, SimBox& box) = 0;

    // A host->box report whose size is not 3 bytes (report ID first): the boot loader's.
    // True = handled; otherwise it is dropped.
    virtual bool OnRawReport(const uint8_t* data, size_t length, SimBox& box) {
        (void)data;
        (void)length;
        (void)box;
        return false;
    }

    // The front-panel inputs. True = handled; the box's own reaction is skipped.
    virtual bool OnPaddle(SimBox& box) {
        (void)box;
        return false;
    }
    virtual bool OnPot(uint8_t wpm, SimBox& box) {
        (void)wpm;
        (void)box;
        return false;
    }

    // The firmware restarts (power-up, Reset Defaults, Update Mode): drop anything in flight.
    // The box's settings are already at the values the restart leaves.
    virtual void OnRestart(SimBox& box) { (void)box; }

    // Advance to box.Now(): emit whatever became due.
    virtual void Tick(SimBox& box) { (void)box; }

    // The next moment Tick has something to do (box clock), -1 for none. After Tick(now)
    // it must be later than now or -1.
    virtual int64_t NextEventMs() const { return -1; }
};

// The box's application firmware: settings, answers to queries, echoes of "both" commands,
// Not Recognized for codes it does not take, front-panel inputs and USB presence.
// Single-threaded: its owner serialises every call. Time comes from the clock only.
class SimBox {
  public:
    static constexpr int64_t kRestartOfflineMs = 300;  // off USB during a restart
    static constexpr size_t kMaxQueuedReports = 4096;  // like a device ring: oldest dropped

    explicit SimBox(const IClock& clock);
    ~SimBox();
    SimBox(const SimBox&) = delete;
    SimBox& operator=(const SimBox&) = delete;

    // --- host side ---------------------------------------------------------------------
    // One host->box report. Ignored while the box is off USB.
    void ReceiveReport(uint8_t code, uint8_t value);
    // A whole output report as written, report ID first. 3 bytes go to ReceiveReport;
    // other sizes only to the components.
    void ReceiveRawReport(const uint8_t* data, size_t length);

    // How the box shows itself on USB: product ID and report size (report ID included).
    // A boot loader changes both, then restarts so that the host sees it return.
    void SetUsbIdentity(uint16_t productId, size_t reportSize) {
        usbProductId_ = productId;
        usbReportSize_ = reportSize;
    }
    uint16_t UsbProductId() const { return usbProductId_; }
    size_t UsbReportSize() const { return usbReportSize_; }

    // The next report whose time has come, oldest first; false when none is due.
    bool PopReady(SimReport& out);
    // Some report is due now.
    bool HasReady() const;
    // Forgets every queued report (nobody was listening when they were sent).
    void DropOutput() { output_.clear(); }
    // The earliest pending output, component event or USB return, -1 for none. An output
    // that is due but not yet collected counts, so it may lie in the past.
    int64_t NextEventMs() const;
    // The earliest of those strictly later than t, -1 for none (what a timer waits for).
    int64_t NextEventAfterMs(int64_t t) const;
    // Lets the components advance to the clock's now.
    void Tick();

    // --- front panel and test inputs ---------------------------------------------------
    // Zuvo Switches bits (0..4). Reports Zuvo Switches when they change.
    void SetSwitches(uint8_t switches);
    // Speed pot position in WPM. Reports Keyer Pot Speed when it changes.
    void SetPot(uint8_t wpm);
    // Keyer Event 4 (Paddle Pressed); ends tuning.
    void PressPaddle();
    // Every report the box sends leaves this much later (0: at once).
    void SetReplyDelayMs(int ms);
    int ReplyDelayMs() const { return replyDelayMs_; }
    void SetVersion(uint8_t major, uint8_t minor, uint8_t patch, uint8_t special);
    // Also send an unasked Zuvo State when a switch change alters the state in force. Off by
    // default: hosts count every Zuvo State as the answer to a command of theirs.
    void SetReportForcedState(bool on) { reportForcedState_ = on; }

    // USB cable. Unplugging drops everything queued; plugging in powers the box up again
    // (settings kept, as in its non-volatile memory).
    void Unplug();
    void Replug();
    // On USB now: cable in and not in the middle of a restart.
    bool UsbAttached() const;

    // The firmware restarts: queued reports are dropped, tuning ends, components restart,
    // and the box is off USB for offlineMs.
    void Restart(int64_t offlineMs = kRestartOfflineMs);

    // What Update Mode (8, 0x21) does. Default: a plain restart.
    void SetUpdateModeHandler(std::function<void(SimBox&)> handler) {
        updateModeHandler_ = std::move(handler);
    }

    // --- for components ----------------------------------------------------------------
    void AddComponent(std::unique_ptr<ISimComponent> component);
    // Queues a box->host report at now + the reply delay (never ahead of an earlier one).
    void Emit(uint8_t code, uint8_t value);
    // The same for a report of another size, report ID first.
    void EmitRaw(std::vector<uint8_t> report);
    // The value the box holds (and answers a Query with) for a code.
    uint8_t Setting(uint8_t code) const { return settings_[code & 0x7F]; }
    void SetSetting(uint8_t code, uint8_t value) { settings_[code & 0x7F] = value; }
    int64_t Now() const { return clock_.NowMs(); }

    // Transcript: "<ms> host 0xcc 0xvv" per received report, "<ms> box 0xcc 0xvv" per report
    // handed to the host; Note adds "<ms> <text>". nullptr turns it off.
    void SetTranscript(std::ostream* out) { transcript_ = out; }
    void Note(std::string_view text);

    // The Zuvo State the host asked for, before the front panel's forcing.
    uint8_t RequestedState() const { return requestedState_; }
    // A Zuvo State with the forcing of Zuvo Switches bits applied.
    static uint8_t ApplyForcing(uint8_t state, uint8_t switches);

  private:
    void RestoreDefaults();
    void Queue(SimReport report);
    void HandleQuery(uint8_t code);
    void HandleKeyerControl(uint8_t action);
    bool StoreAndEcho(uint8_t code, uint8_t value);
    void WriteReportLine(int64_t timeMs, const char* who, uint8_t code, uint8_t value);

    const IClock& clock_;
    std::array<uint8_t, 128> settings_{};
    uint8_t requestedState_ = 0;
    std::deque<SimReport> output_;
    int replyDelayMs_ = 0;
    bool cable_ = true;
    int64_t backOnUsbMs_ = -1;  // end of a restart's time off USB; -1 for none
    bool reportForcedState_ = false;
    uint16_t usbProductId_ = 0x065E;
    size_t usbReportSize_ = 3;
    std::vector<std::unique_ptr<ISimComponent>> components_;
    std::function<void(SimBox&)> updateModeHandler_;
    std::ostream* transcript_ = nullptr;
};

}  // namespace zuvo::sim
