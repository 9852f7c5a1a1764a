#include "rtty/rtty_client.h"

#include "rtty/rtty_bridge.h"

namespace zuvo {

bool RttyClient::Connect() {
    error_.clear();
    connected_ = transport_.Open(error_);
    return connected_;
}

bool RttyClient::CheckStation(int station) {
    if (station < 1 || station > kRttyStations) {
        error_ = "station " + std::to_string(station) + " is not 1..4";
        return false;
    }
    return true;
}

bool RttyClient::Send(uint8_t type, int station, uint32_t value) {
    if (!CheckStation(station)) {
        return false;
    }
    return SendRaw(
        PackRttyMessage(type, static_cast<uint8_t>(station), static_cast<uint16_t>(value)));
}

bool RttyClient::SendRaw(uint32_t wParam) {
    if (!connected_) {
        error_ = "not connected to the interface program";
        return false;
    }
    error_.clear();
    return transport_.Send(wParam, error_);
}

bool RttyClient::Hello(int station) {
    return Send(kRttyHello, station, 0);
}

bool RttyClient::SetSpeed(int station, unsigned baud) {
    for (uint32_t rate : kRttyBaudRates) {
        if (rate == baud) {
            return Send(kRttySpeed, station, baud);
        }
    }
    error_ = "speed " + std::to_string(baud) +
             " baud is not one of 22, 45, 50, 56, 75, 100, 110, 150, 200, 300";
    return false;
}

bool RttyClient::SetLength(int station, unsigned bits) {
    if (bits < 5 || bits > 8) {
        error_ = "character length " + std::to_string(bits) + " is not 5..8 bits";
        return false;
    }
    return Send(kRttyLength, station, bits);
}

bool RttyClient::SetStopBits(int station, unsigned code) {
    if (code > 2) {
        error_ = "stop-bit code " + std::to_string(code) + " is not 0 (1), 1 (1.5) or 2 (2)";
        return false;
    }
    return Send(kRttyStopBits, station, code);
}

bool RttyClient::SetPtt(int station, bool on) {
    return Send(kRttyPtt, station, on ? 1 : 0);
}

bool RttyClient::SendChar(int station, uint8_t character) {
    return Send(kRttyChar, station, character);
}

bool RttyClient::WaitForCounter(int station, uint32_t target, std::chrono::milliseconds timeout) {
    if (!CheckStation(station)) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Signed distance, so a counter that wraps past 2^32 still compares right.
    while (static_cast<int32_t>(transport_.ReadCounter(station) - target) < 0) {
        if (stop_ != nullptr && stop_->load()) {
            error_ = "interrupted";
            return false;
        }
        if (!transport_.ProgramRunning()) {
            error_ = "the interface program has ended";
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error_ = "station " + std::to_string(station) + "'s counter stayed at " +
                     std::to_string(transport_.ReadCounter(station)) + ", waiting for " +
                     std::to_string(target);
            return false;
        }
        transport_.Pause();
    }
    return true;
}

bool RttyClient::SendText(int station, std::string_view text,
                          std::chrono::milliseconds perCharTimeout) {
    if (!CheckStation(station)) {
        return false;
    }
    uint32_t expected = transport_.ReadCounter(station);
    for (char c : text) {
        if (!SendChar(station, static_cast<uint8_t>(c))) {
            return false;
        }
        ++expected;
        if (!WaitForCounter(station, expected, perCharTimeout)) {
            return false;
        }
    }
    return true;
}

}  // namespace zuvo
