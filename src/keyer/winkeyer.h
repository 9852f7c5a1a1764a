#pragma once

#include <array>
#include <cstdint>

#include "core/event_log.h"
#include "core/settings_store.h"
#include "keyer/keyer_options.h"
#include "keyer/keyer_port.h"
#include "keyer/send_buffer.h"
#include "keyer/smart_editor.h"
#include "link/box_sender.h"
#include "link/box_state.h"
#include "link/report_sinks.h"
#include "switching/switching_control.h"

namespace zuvo {

// Makes the box's keyer look like a WinKeyer to the logger on the keyer port: collects the
// host's bytes into commands and turns them into box reports, feeds buffered text to the box
// one character ahead of the one being keyed, and answers the host with status bytes, echo
// characters and speed-pot bytes from the box's keyer reports. Main thread only.
class WinKeyer final : public IKeyerReports {
  public:
    WinKeyer(IBoxSender& box, BoxState& state, IKeyerPort& port, ISwitchingControl& switching,
             SettingsStore& settings, IEventLog& log, const IVerbose& verbose,
             const IKeyerOptions& options);

    // One keyer port message: a read error (error not 0) or one host byte.
    void OnKeyerByte(uint32_t error, int32_t value);
    // The keyer port has just opened: forget the previous host session.
    void OnKeyerPortOpened();
    // Sends the host's keyer mode and pin configuration to the box when the logger controls
    // the keyer.
    void ApplyKeyerConfig();
    // The box link has opened: give the box everything the host has set.
    void ResendKeyerSettings();

    // Box reports, after the report handler has stored them.
    void OnBoxKeyerControl() override;
    void OnBoxKeyerAbort(uint8_t value) override;
    void OnBoxKeyerEvent(uint8_t type) override;
    bool OnBoxPotSpeed(uint8_t speed) override;
    void OnBoxSendingChar(uint8_t character) override;

    // Read-only views for tests and the fuzz target.
    const SendBuffer& Buffer() const { return buf_; }
    bool HostOpen() const { return hostOpen_; }
    bool PotFlag() const { return potFlag_; }
    uint8_t LastStatus() const { return lastStatus_; }
    bool LateEcho() const { return lateEcho_; }
    uint8_t HeldEcho() const { return heldEcho_; }
    bool EchoEnabled() const { return echoEnabled_; }
    int HostSpeed() const { return hostSpeed_; }
    int PendingSpeedDelta() const { return pendingDelta_; }
    int PotMin() const { return potMin_; }
    int PotMax() const { return potMax_; }
    int AccumulatedBytes() const { return count_; }

  private:
    enum class Parse { kIncomplete, kDone, kBad };

    Parse Interpret();
    Parse Admin();
    Parse Pointer();
    void Text(uint8_t raw);
    void SetSpeed(uint8_t speed);
    void SetWeight(uint8_t percent);
    void SetPttTimes(uint8_t lead, uint8_t tail);
    void SetPotRange(uint8_t minimum, uint8_t range);
    void SetMode(uint8_t mode);
    void SetPins(uint8_t pins);
    void LoadDefaults();
    void ClearBuffer();
    void HostOpenCommand();
    void HostCloseCommand();
    void AdminReset();
    void ReplyStatus();
    // 10xxxxxx, whatever the pot range.
    uint8_t PotByte(int speed) const;
    // Takes back the last character the box has not been handed.
    void Backspace();
    // The first buffer position not yet handed to the box.
    int FirstUnhanded() const;
    void Store(uint8_t byte, bool raiseEnd);
    void LogCommand(const char* prefix);

    void SendStatusIfChanged(uint8_t status);
    void StartSending();
    int LoadNextCharacter(int start);
    void BreakInReset();
    void ImplicitHostOpen();
    // send state 0, every pointer and the pending delta 0, alternate and edit cleared
    void StopAndReset();
    // The buffer is starting over while the box may still report characters it was handed:
    // those reports are about no character of the new buffer.
    void ForgetHandedCharacters();
    // A Keyer Sending Char about a character from before the buffer started over.
    bool IsStaleReport(uint8_t character);

    bool Connected() const { return box_.IsConnectedFlag(); }
    bool Controlled() const { return Connected() && options_.LoggerControlsKeyer(); }
    bool VerboseKeyer() const { return verbose_.IsVerbose(zuvo::Verbose::kKeyer); }
    void Send(int code, int value) { box_.SendBoxCommand(code, value); }
    void Reply(uint8_t byte) { port_.WriteKeyerByte(byte); }

    IBoxSender& box_;
    BoxState& state_;
    IKeyerPort& port_;
    ISwitchingControl& switching_;
    SettingsStore& settings_;
    IEventLog& log_;
    const IVerbose& verbose_;
    const IKeyerOptions& options_;

    std::array<uint8_t, 64> acc_{};
    int count_ = 0;

    SendBuffer buf_;
    SmartEditor editor_;

    bool hostOpen_ = false;
    bool potFlag_ = true;
    int potMin_ = 10;
    int potMax_ = 73;
    int lastPotSpeed_ = 0;
    bool potRangeHeld_ = false;

    uint8_t mode_ = 0;
    bool modeHeld_ = false;
    uint8_t pins_ = 0;
    bool pinsHeld_ = false;
    bool echoEnabled_ = false;

    int hostSpeed_ = 0;
    bool speedHeld_ = false;
    int hostWeight_ = 0;
    bool weightHeld_ = false;
    int lead_ = 0;
    int tail_ = 0;
    bool pttHeld_ = false;

    bool lateEcho_ = true;
    uint8_t heldEcho_ = 0;
    bool breakInPending_ = false;
    int pendingDelta_ = 0;

    uint8_t lastStatus_ = 0xC0;

    // Characters handed with Keyer Char whose start the box has not reported yet, the last
    // one handed, and reports still to come about characters of an earlier buffer.
    int unreported_ = 0;
    uint8_t lastHanded_ = 0;
    int staleReports_ = 0;
};

}  // namespace zuvo
