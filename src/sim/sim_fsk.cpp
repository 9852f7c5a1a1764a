#include "sim/sim_fsk.h"

#include <cstdio>
#include <memory>

#include "link/box_protocol.h"

namespace zuvo::sim {

namespace {
constexpr int kBaud[] = {22, 45, 50, 56, 75, 100, 110, 150, 200, 300};

int BaudFromCode(uint8_t speedBits) {
    const int code = speedBits & 0x0F;
    return code < 10 ? kBaud[code] : kBaud[1];  // codes 10..15 mean nothing: the default
}
int DataBits(uint8_t speedBits) {
    return 5 + ((speedBits >> 4) & 0x03);
}
// Stop bits in halves: code 0 = 1, 1 = 1.5, 2 (and the unused 3) = 2.
int StopHalves(uint8_t speedBits) {
    const int code = (speedBits >> 6) & 0x03;
    return code == 0 ? 2 : code == 1 ? 3 : 4;
}
}  // namespace

void SimFsk::Install(SimBox& box) {
    auto fsk = std::make_unique<SimFsk>();
    box.SetSetting(box::kRttyStatus, fsk->Status());
    box.AddComponent(std::move(fsk));
}

int64_t SimFsk::CharacterMicros(uint8_t speedBits) {
    // One start bit, the data bits and the stop bits, counted in half bits.
    const int64_t halves = 2 + 2 * DataBits(speedBits) + StopHalves(speedBits);
    return halves * 1000000 / (2 * BaudFromCode(speedBits));
}

uint8_t SimFsk::Status() const {
    uint8_t status = 0;
    if (!holding_) {
        status |= kReady;
        if (!keying_) {
            status |= kFinished;
        }
    }
    return status;
}

bool SimFsk::OnHostReport(uint8_t code, uint8_t value, SimBox& box) {
    if (code != box::kRttyCharacter) {
        return false;  // speed bits and config are stored by the box itself
    }
    box.SetSetting(code, value);
    if (holding_) {
        char line[48];
        std::snprintf(line, sizeof line, "fsk busy 0x%.2x lost", value);
        box.Note(line);
        return true;
    }
    if (!keying_) {
        StartKeying(box, value, box.Now() * 1000);
    } else {
        holding_ = value;
    }
    ReportStatus(box);
    return true;
}

void SimFsk::StartKeying(SimBox& box, uint8_t character, int64_t startUs) {
    const uint8_t bits = box.Setting(box::kRttySpeedBits);
    keying_ = character;
    keyingEndUs_ = startUs + CharacterMicros(bits);
    const int stop = StopHalves(bits);
    char line[80];
    std::snprintf(line, sizeof line, "fsk key 0x%.2x %d baud %dN%s", character, BaudFromCode(bits),
                  DataBits(bits),
                  stop == 2   ? "1"
                  : stop == 3 ? "1.5"
                              : "2");
    box.Note(line);
}

void SimFsk::Tick(SimBox& box) {
    while (keying_ && box.Now() * 1000 >= keyingEndUs_) {
        keying_.reset();
        if (holding_) {
            // The next character follows without a gap: its start bit begins at the end
            // of the last stop bit.
            const uint8_t next = *holding_;
            holding_.reset();
            StartKeying(box, next, keyingEndUs_);
        } else {
            box.Note("fsk idle");
        }
        ReportStatus(box);
    }
}

int64_t SimFsk::NextEventMs() const {
    if (!keying_) {
        return -1;
    }
    return (keyingEndUs_ + 999) / 1000;
}

void SimFsk::OnRestart(SimBox& box) {
    holding_.reset();
    keying_.reset();
    reported_ = Status();
    box.SetSetting(box::kRttyStatus, reported_);
}

void SimFsk::ReportStatus(SimBox& box) {
    const uint8_t status = Status();
    box.SetSetting(box::kRttyStatus, status);
    if (status != reported_) {
        reported_ = status;
        box.Emit(box::kRttyStatus, status);
    }
}

}  // namespace zuvo::sim
