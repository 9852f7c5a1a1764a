#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/sim_box.h"
#include "sim/sim_clock.h"

namespace zuvo::sim {

// The box's resident boot loader as the host sees it after Update Mode: a HID device of its
// own (product 0x065F) speaking 65-byte reports over a 32 KiB flash.
//
// Flash: 0x0000-0x1FFF holds the boot loader itself and is never written or erased. Erase
// sets whole 64-byte blocks to 0xFF; a write can only clear bits (1 -> 0), so writing into
// a block that was not erased leaves the AND of old and new bytes, as real flash does.
// Erase, write and restart requests get no answer; a read and the end of programming get
// one each.
//
// Version convention: the application firmware keeps its version at kVersionAddress:
// version byte (major << 4 | minor), patch level, special version. After a restart the box
// reports those bytes as its version.
//
// Single-threaded: its owner serialises every call, like SimBox.
class SimBootLoader {
  public:
    using Report = std::array<uint8_t, 65>;
    static constexpr uint32_t kFlashSize = 0x8000;
    static constexpr uint32_t kApplicationStart = 0x2000;
    static constexpr uint32_t kVersionAddress = 0x2000;
    static constexpr uint32_t kBlock = 64;
    static constexpr size_t kMaxQueued = 256;

    explicit SimBootLoader(const IClock& clock);

    // One host->boot loader report; data[0] is the report ID. Shorter reports are padded.
    void ReceiveReport(const uint8_t* data, size_t length);
    // The next answer whose time has come; false when none is due.
    bool PopReady(Report& out);
    bool HasReady() const;
    // The earliest pending answer strictly later than t, -1 for none.
    int64_t NextEventAfterMs(int64_t t) const;
    // Answers queued but not collected are lost when the device drops off USB.
    void DropAnswers() { answers_.clear(); }

    // Each answer leaves this much later (a USB frame is 1 ms); 0: at once.
    void SetAnswerDelayMs(int ms) { answerDelayMs_ = ms; }
    // Byte 6 of the end-of-programming answer: restart into the firmware (true) or ask for
    // the jumper to be removed (false).
    void SetRestartFlag(bool restart) { restartFlag_ = restart; }
    // The next read answer covering address returns that byte XOR mask (a test's fault).
    void CorruptNextReadAt(uint32_t address, uint8_t mask = 0x01);

    // A restart request (0xFF) arrived; clears the flag.
    bool TakeRestartRequest();

    const std::vector<uint8_t>& Flash() const { return flash_; }
    // Puts firmware into flash directly (what the factory programmed), version bytes included.
    void LoadFirmware(uint32_t address, const std::vector<uint8_t>& bytes);
    uint8_t VersionByte() const { return flash_[kVersionAddress]; }
    uint8_t PatchLevel() const { return flash_[kVersionAddress + 1]; }
    uint8_t SpecialVersion() const { return flash_[kVersionAddress + 2]; }
    // True when the version area was erased and never programmed (no firmware to run).
    bool FirmwareErased() const { return VersionByte() == 0xFF; }

    // Counts, for tests and benchmarks.
    int Erases() const { return erases_; }
    int Writes() const { return writes_; }
    int Reads() const { return reads_; }

  private:
    void Answer(const Report& report);

    const IClock& clock_;
    std::vector<uint8_t> flash_;
    struct Timed {
        int64_t timeMs;
        Report report;
    };
    std::deque<Timed> answers_;
    int answerDelayMs_ = 0;
    bool restartFlag_ = true;
    bool restartRequested_ = false;
    int64_t corruptAddress_ = -1;
    uint8_t corruptMask_ = 0;
    int erases_ = 0;
    int writes_ = 0;
    int reads_ = 0;
};

// The boot loader inside a simulated box. Update Mode (8, 0x21) makes the box drop off USB
// and return as product 0x065F with 65-byte reports; from then on every report goes to the
// boot loader until a restart request (0xFF) brings the application firmware back with the
// version bytes programmed at SimBootLoader::kVersionAddress. Erased firmware (version byte
// 0xFF) cannot run: the box then returns as the boot loader again. The flash survives
// unplugging, so an interrupted update can simply be repeated.
class SimBootLoaderComponent final : public ISimComponent {
  public:
    // Answers leave through the box's own queue and reply delay, so the loader's clock
    // stands still.
    SimBootLoaderComponent() : loader_(stillClock_) {}

    bool OnHostReport(uint8_t code, uint8_t value, SimBox& box) override;
    bool OnRawReport(const uint8_t* data, size_t length, SimBox& box) override;
    bool OnPaddle(SimBox& box) override;
    bool OnPot(uint8_t wpm, SimBox& box) override;

    // What Update Mode does.
    void Enter(SimBox& box);
    bool Active() const { return active_; }
    // A test's fault: the cable is pulled right after the n-th boot-loader report from now
    // (0: never).
    void UnplugAfterReports(int n) { unplugAfter_ = n; }
    SimBootLoader& Loader() { return loader_; }

  private:
    void Leave(SimBox& box);

    VirtualClock stillClock_;
    SimBootLoader loader_;
    bool active_ = false;
    bool programmed_ = false;  // the host has written flash since the box was made
    int unplugAfter_ = 0;
};

// Adds the boot loader to a box and makes Update Mode enter it. The component stays owned
// by the box; the returned reference lives as long as the box.
SimBootLoaderComponent& InstallBootLoader(SimBox& box);

}  // namespace zuvo::sim
