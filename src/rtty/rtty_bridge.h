#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/event_log.h"
#include "link/box_sender.h"
#include "link/box_state.h"
#include "link/report_sinks.h"
#include "platform/message_queue.h"
#include "platform/rtty_channel.h"
#include "rtty/rtty_speed_bits.h"
#include "switching/switching_control.h"

namespace zuvo {

// Box commands the bridge sends.
inline constexpr int kCmdRttySpeedBits = 0x42;
inline constexpr int kCmdRttyCharacter = 0x43;

// RTTY Status bits as the box reports them.
inline constexpr uint8_t kRttyStatusReady = 0x01;     // takes another character
inline constexpr uint8_t kRttyStatusFinished = 0x02;  // nothing left to key

// RTTY message types (bits 0-7 of wParam).
enum RttyMessageType : uint8_t {
    kRttyHello = 1,
    kRttySpeed = 2,
    kRttyLength = 3,
    kRttyStopBits = 4,
    kRttyPtt = 5,
    kRttyChar = 6,
};

inline constexpr int kRttyStations = 4;

// Speeds in baud by speed code 0..9.
inline constexpr uint32_t kRttyBaudRates[] = {22, 45, 50, 56, 75, 100, 110, 150, 200, 300};

// Setting codes from the values an RTTY program sends.
uint8_t RttySpeedCode(uint32_t baud);   // 22..300 baud -> 0..9; anything else 1
uint8_t RttyLengthCode(uint32_t bits);  // 5..8 bits -> 0..3; anything else 0
uint8_t RttyStopCode(uint32_t code);    // 0..2 kept; anything else 1
constexpr uint32_t PackRttyMessage(uint8_t type, uint8_t station, uint16_t value) {
    return type | (static_cast<uint32_t>(station) << 8) | (static_cast<uint32_t>(value) << 16);
}

// The RTTY bridge: an RTTY program keys the box's FSK output for the station that belongs to
// the transmitting radio. It takes the program's messages, forwards the current station's
// characters and settings to the box one at a time, feeds its PTT into the switching logic,
// holds a PTT release until the box has finished sending, and counts each station's
// characters in the shared block so the program can pace itself. Main thread only.
class RttyBridge final : public IRttyReports, public IRttySpeedBits {
  public:
    struct Station {
        uint8_t speedCode = 1;
        uint8_t lengthCode = 0;
        uint8_t stopCode = 1;
        bool ptt = false;
        bool pending = false;
        uint8_t pendingChar = 0;
    };

    RttyBridge(ISwitchingControl& switching, BoxState& state, IBoxSender& sender, IEventLog& log,
               const IVerbose& verbose, platform::IRttySharedBlock& block,
               platform::IRttyMessageReceiver& receiver, platform::IMessagePoster& poster);

    // Start-up: the message, the shared block, the counters.
    void OpenRttyBridge();

    // The RTTY message. Returns 1, the handled result.
    int OnRttyMessage(uint32_t wParam, int32_t lParam);
    // A posted kMsgRtty: a receiver note (text) is logged, anything else is the message.
    int OnRttyMessage(const platform::Message& message);

    void CheckRttyStation() override;
    void OnRttyStatusReport(uint8_t value) override;
    void SendRttySpeedBits() override;
    void ResetRttySpeedBits() override { cachedSpeedBits_ = 0; }

    // Station index 0..3 of the transmitting radio; none while its map value is not 0..3.
    std::optional<int> CurrentStation() const;
    const Station& StationAt(int index) const { return stations_[index]; }
    uint32_t Counter(int index) const { return counters_[index]; }
    bool PttReleasePending() const { return pttReleasePending_; }

  private:
    void OnPtt(int index, uint32_t value);
    void OnChar(int index, uint8_t character);
    // Hands a character to the box (the box may be absent) and counts it.
    void SendCharacter(int index, uint8_t character);
    void CountCharacter(int index);
    void VerboseLine(std::string_view text, uint32_t value);

    ISwitchingControl& switching_;
    BoxState& state_;
    IBoxSender& sender_;
    IEventLog& log_;
    const IVerbose& verbose_;
    platform::IRttySharedBlock& block_;
    platform::IRttyMessageReceiver& receiver_;
    platform::IMessagePoster& poster_;

    std::array<Station, kRttyStations> stations_{};
    std::array<uint32_t, kRttyStations> counters_{};
    std::optional<int> lastStation_;
    bool pttReleasePending_ = false;
    uint8_t cachedSpeedBits_ = 0;
};

}  // namespace zuvo
