#include "rtty/rtty_bridge.h"

namespace zuvo {

uint8_t RttySpeedCode(uint32_t baud) {
    for (uint8_t code = 0; code < std::size(kRttyBaudRates); ++code) {
        if (kRttyBaudRates[code] == baud) {
            return code;
        }
    }
    return 1;
}

uint8_t RttyLengthCode(uint32_t bits) {
    return bits >= 5 && bits <= 8 ? static_cast<uint8_t>(bits - 5) : 0;
}

uint8_t RttyStopCode(uint32_t code) {
    return code <= 2 ? static_cast<uint8_t>(code) : 1;
}

RttyBridge::RttyBridge(ISwitchingControl& switching, BoxState& state, IBoxSender& sender,
                       IEventLog& log, const IVerbose& verbose, platform::IRttySharedBlock& block,
                       platform::IRttyMessageReceiver& receiver, platform::IMessagePoster& poster)
    : switching_(switching),
      state_(state),
      sender_(sender),
      log_(log),
      verbose_(verbose),
      block_(block),
      receiver_(receiver),
      poster_(poster) {}

void RttyBridge::OpenRttyBridge() {
    // Without either, RTTY programs cannot reach this program, so it is said at once rather
    // than found out in the middle of a contest.
    if (!receiver_.Register(poster_)) {
        log_.LogLastError("RE - cannot receive RTTY messages: ");
    }
    const platform::SharedBlockOpen opened = block_.CreateOrOpen();
    if (opened == platform::SharedBlockOpen::kFailed) {
        log_.LogLastError("RE - cannot create the shared block: ");
        return;
    }
    block_.Write32(platform::kRttyOffsetTarget, receiver_.Target());
    block_.Write32(platform::kRttyOffsetMarker, 1);
    for (int i = 0; i < kRttyStations; ++i) {
        counters_[i] = 0;
        block_.Write32(platform::RttyCounterOffset(i + 1), 0);
        stations_[i].pending = false;
    }
    if (opened == platform::SharedBlockOpen::kCreated) {
        for (Station& station : stations_) {
            station.ptt = false;
            station.speedCode = 1;
            station.lengthCode = 0;
            station.stopCode = 1;
        }
    }
    pttReleasePending_ = false;
    lastStation_.reset();
}

int RttyBridge::OnRttyMessage(const platform::Message& message) {
    if (!message.text.empty()) {
        log_.LogMessage(message.text);
        return 1;
    }
    return OnRttyMessage(message.wParam, message.lParam);
}

int RttyBridge::OnRttyMessage(uint32_t wParam, int32_t /*lParam*/) {
    const uint8_t type = wParam & 0xFF;
    const uint8_t station = (wParam >> 8) & 0xFF;
    if (station == 0 || station > kRttyStations) {
        log_.LogByte("RE - bad station number", station);
        return 1;
    }
    const int index = station - 1;
    const uint32_t value = wParam >> 16;
    switch (type) {
        case kRttyHello:
            break;
        case kRttySpeed:
            VerboseLine("* RE received speed", value);
            stations_[index].speedCode = RttySpeedCode(value);
            break;
        case kRttyLength:
            VerboseLine("* RE received length", value);
            stations_[index].lengthCode = RttyLengthCode(value);
            break;
        case kRttyStopBits:
            VerboseLine("* RE received stop bits", value);
            stations_[index].stopCode = RttyStopCode(value);
            break;
        case kRttyPtt:
            VerboseLine("* RE received PTT", value);
            OnPtt(index, value);
            break;
        case kRttyChar:
            VerboseLine("* RE received Char", value);
            OnChar(index, static_cast<uint8_t>(value & 0xFF));
            break;
        default:
            break;
    }
    return 1;
}

void RttyBridge::VerboseLine(std::string_view text, uint32_t value) {
    if (verbose_.IsVerbose(Verbose::kRtty)) {
        log_.LogByte(text, static_cast<uint8_t>(value & 0xFF));
    }
}

void RttyBridge::OnPtt(int index, uint32_t value) {
    CheckRttyStation();
    const bool on = value != 0;
    stations_[index].ptt = on;
    if (CurrentStation() != index) {
        return;
    }
    switching_.SetRttyPtt(on);
    if (on || (state_.lastRttyStatus & kRttyStatusFinished) != 0) {
        switching_.UpdatePtt();
    } else {
        // The box is still keying: the release waits for its "finished" status.
        pttReleasePending_ = true;
    }
}

void RttyBridge::OnChar(int index, uint8_t character) {
    if (CurrentStation() != index) {
        CountCharacter(index);  // discarded: this station is not on the air
        return;
    }
    CheckRttyStation();
    Station& station = stations_[index];
    if (station.pending) {
        return;  // the program sent ahead of its counter; the character is lost, uncounted
    }
    if ((state_.lastRttyStatus & kRttyStatusReady) != 0) {
        SendCharacter(index, character);
        // The box has a character to key now, so it is neither ready nor finished until it
        // says so again; a stale "finished" would release PTT under the last character.
        state_.lastRttyStatus &= static_cast<uint8_t>(~(kRttyStatusReady | kRttyStatusFinished));
    } else {
        station.pending = true;
        station.pendingChar = character;
    }
}

void RttyBridge::SendCharacter(int index, uint8_t character) {
    SendRttySpeedBits();
    sender_.SendBoxCommand(kCmdRttyCharacter, character);
    CountCharacter(index);
}

void RttyBridge::CountCharacter(int index) {
    ++counters_[index];
    block_.Write32(platform::RttyCounterOffset(index + 1), counters_[index]);
}

std::optional<int> RttyBridge::CurrentStation() const {
    const int tx = switching_.CurrentTxIndex() == 1 ? 1 : 0;
    const uint8_t requested = switching_.RequestedMap(tx + 1);
    const uint8_t map = (requested != 0 ? requested : state_.map[tx]) & 0x0F;
    // Map values are 0..3; the box could report more, which names no station.
    if (map >= kRttyStations) {
        return std::nullopt;
    }
    return map;
}

void RttyBridge::CheckRttyStation() {
    const std::optional<int> current = CurrentStation();
    if (current == lastStation_) {
        return;
    }
    if (lastStation_) {
        if (switching_.RttyPtt()) {
            switching_.SetRttyPtt(false);
            switching_.UpdatePtt();
        }
        Station& last = stations_[*lastStation_];
        if (last.pending) {
            last.pending = false;
            CountCharacter(*lastStation_);
        }
        pttReleasePending_ = false;
    }
    lastStation_ = current;
}

void RttyBridge::SendRttySpeedBits() {
    const std::optional<int> current = CurrentStation();
    if (!current) {
        return;
    }
    const Station& station = stations_[*current];
    const uint8_t bits =
        static_cast<uint8_t>((station.speedCode & 0x0F) | ((station.lengthCode & 0x03) << 4) |
                             ((station.stopCode & 0x03) << 6));
    if (bits == cachedSpeedBits_) {
        return;
    }
    cachedSpeedBits_ = bits;
    sender_.SendBoxCommand(kCmdRttySpeedBits, bits);
}

void RttyBridge::OnRttyStatusReport(uint8_t value) {
    const std::optional<int> current = CurrentStation();
    if ((value & kRttyStatusReady) != 0 && (state_.lastRttyStatus & kRttyStatusReady) == 0 &&
        current && stations_[*current].pending) {
        Station& station = stations_[*current];
        station.pending = false;
        SendCharacter(*current, station.pendingChar);
        value &= static_cast<uint8_t>(~(kRttyStatusReady | kRttyStatusFinished));
    }
    state_.lastRttyStatus = value;
    if ((value & kRttyStatusFinished) != 0 && pttReleasePending_) {
        pttReleasePending_ = false;
        switching_.UpdatePtt();
    }
}

}  // namespace zuvo
