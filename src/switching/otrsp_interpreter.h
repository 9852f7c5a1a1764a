#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "core/event_log.h"
#include "core/settings_store.h"
#include "link/box_sender.h"
#include "link/box_state.h"
#include "link/report_sinks.h"
#include "rtty/rtty_speed_bits.h"
#include "switching/switching_control.h"
#include "switching/switching_port.h"

namespace zuvo {

// The OTRSP command interpreter of the switching port: turns the logger's lines into box
// commands and replies, keeps the requested switching state, combines the PTT sources,
// holds the headphone latch and writes change reports. Main thread only.
class OtrspInterpreter final : public ISwitchingControl, public ISwitchingReports {
  public:
    // Command table indexes (searched in this order; kNotFound when nothing matches).
    enum Command : int {
        kRx,
        kTx,
        kAux1,
        kAux2,
        kAux3,
        kAux4,
        kBand1,
        kBand2,
        kMode1,
        kMode2,
        kCr0,
        kMap1,
        kMap2,
        kName,
        kX,
        kErx,
        kEtx,
        kEab,
        kEcr0,
        kVLatch,
        kVSplitStereo,
        kVPhone,
        kVBlend,
        kVBval,
        kNotFound
    };
    static constexpr size_t kLineMax = 64;

    struct Deps {
        IBoxSender& sender;
        const BoxState& state;
        IEventLog& log;
        const IVerbose& verbose;
        SettingsStore& settings;
        IRttySpeedBits& rtty;
        ISwitchingPort& port;
        ISwitchingWindow& window;
    };

    explicit OtrspInterpreter(Deps deps);

    // The first table entry that is a prefix of text, kNotFound if none.
    static int FindCommand(std::string_view text);

    // --- switching port messages -------------------------------------------------------
    // error: 0 or a read error code; value: the posted character (0xFFFF carries none).
    void OnSwitchingPortByte(uint32_t error, int32_t value);
    // The modem status message (comm event mask, or 8 after a pipe client was lost). In
    // pipe mode a mask with kCommEventClientLines is the client's RTS, read as CTS.
    void OnModemStatus(uint32_t mask);

    // --- port and link life cycle ------------------------------------------------------
    void OnPortOpened() { length_ = 0; }
    // Closing the switching port turns the change reports off; the last values stay.
    void OnPortClosed();
    void RequestResync() { resyncPending_ = true; }
    bool ResyncPending() const { return resyncPending_; }
    // The box went away (or a send found none): counters, PTT sources and queue cleared.
    void ClearOnDisconnect();
    // Start-up: the options from the settings, the requested values zeroed.
    void LoadOptions();
    void ResetRequested();

    // --- counters ----------------------------------------------------------------------
    // A counted command was written elsewhere (the connect query): one more reply pending.
    void CountBoxCommand();
    // Sends a counted switching command; counts it only when it was written.
    bool SendCounted(int code, int value);

    // --- main window controls ----------------------------------------------------------
    void SetHeadphoneMode(int index);    // "Normal", "Symmetric", "Spatial"
    void SetBlendOn(bool on);            // "Blend"
    void SetMicRelays(bool on);          // "Mic Relays"
    void SetBlendLevel(int index);       // blend level list
    void SetMapIndex(int n, int index);  // radio 1/2 map lists
    void SetLatchHeadphones(bool on);    // "Latch" (persisted)
    void SetSplitStereo(bool on);        // "Split Stereo" (persisted)

    // ISwitchingReports
    void CountBoxReply() override;
    void ProcessDeferredCommands() override;
    void OnSwitchingStateReport() override;
    void ReportSwitchingChanges() override;

    // ISwitchingControl
    void BeginHeadphoneLatch(int reason) override;
    void EndHeadphoneLatch(int reasons) override;
    void SetKeyerPtt(bool on) override { keyerPtt_ = on; }
    void SetRttyPtt(bool on) override { rttyPtt_ = on; }
    bool RttyPtt() const override { return rttyPtt_; }
    void UpdatePtt() override;
    int CurrentTxIndex() const override;
    uint8_t RequestedMap(int n) const override;

    // Read-outs for the window and tests.
    int CurrentRxIndex() const;
    uint8_t RequestedState() const { return requested_; }
    uint8_t RequestedConfig() const { return config_; }
    uint8_t RequestedBlend() const { return blend_; }
    uint8_t RequestedAux(int n) const { return aux_[static_cast<size_t>(n - 1) & 3]; }
    bool LatchHeadphones() const { return latchHeadphones_; }
    bool SplitStereo() const { return splitStereo_; }
    int LatchReasons() const { return latch_; }
    bool PortPtt() const { return portPtt_; }
    int PendingReplies() const { return pending_; }
    int CommandsSent() const { return sent_; }
    int RepliesReceived() const { return received_; }
    size_t QueuedCount() const { return queue_.size(); }
    size_t LineLength() const { return length_; }

  private:
    struct Entry {
        int index = kNotFound;
        bool query = false;
        int sentAt = 0;
        std::string line;
    };

    void RunLine();
    void RunCommand(int index, const std::string& line);
    void RunQuery(int index, const std::string& line);
    void TxSteps();
    void GuardedSend(int code, int value);
    bool Guarded() const;
    void Write(std::string_view text) { deps_.port.WriteSwitchingText(text); }
    // The report text alone (a query's answer), or as a change report after "$".
    void WriteReport(const char* report, bool change);
    void WriteRxReport(int rxIndex, bool change = false);
    void WriteTxReport(int txIndex, bool change = false);
    void SetOption(bool& option, bool value, const char* key);

    Deps deps_;

    std::array<char, kLineMax + 1> buffer_{};
    size_t length_ = 0;

    uint8_t requested_ = 0;
    bool stereoRequested_ = false;
    uint8_t config_ = 0;
    uint8_t blend_ = 0;
    std::array<uint8_t, 4> aux_{};
    std::array<uint8_t, 2> map_{};
    std::array<std::string, 2> band_;
    std::array<std::string, 2> mode_;

    bool latchHeadphones_ = false;
    bool splitStereo_ = false;
    int latch_ = 0;

    bool portPtt_ = false;
    bool keyerPtt_ = false;
    bool rttyPtt_ = false;

    int pending_ = 0;
    int sent_ = 0;
    int received_ = 0;
    std::deque<Entry> queue_;

    bool erx_ = false;
    bool etx_ = false;
    bool eab_ = false;
    bool ecr0_ = false;
    int lastRx_ = 0;
    int lastTx_ = 0;
    int lastCr0_ = 0;

    bool resyncPending_ = false;
};

// The standard string-to-integer reading the OTRSP numbers use: leading blanks, an optional
// sign, then digits; no digits reads 0. Values beyond int are held at its limits.
int OtrspNumber(std::string_view text);

}  // namespace zuvo
