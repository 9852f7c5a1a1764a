#include "utility/hardware_tests.h"

#include <chrono>
#include <cstdio>

#include "link/box_protocol.h"

namespace zuvo {

using namespace utility;

HardwareTests::HardwareTests(IUtilitySender& sender, IEventLog& log, const WindowModel& model,
                             const UtilityMirrors& mirrors, SecondsClock now)
    : sender_(sender), log_(log), model_(model), mirrors_(mirrors), now_(std::move(now)) {
    if (!now_) {
        now_ = [] {
            return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count());
        };
    }
}

void HardwareTests::OnOverwriteButton() {
    if (model_.Selection(kPttPre) != 0) {
        log_.LogMessage("Pre PTT must be zero for overwrite test");
        return;
    }
    const std::string& text = model_.Text(kText);
    uint8_t c = text.empty() ? 'X' : static_cast<uint8_t>(text[0]);
    if (c >= 'a' && c <= 'z') {
        c = static_cast<uint8_t>(c - 'a' + 'A');
    }
    overwriteRunning_ = true;
    overwriteCount_ = 0;
    sender_.SendBoxCommand(box::kKeyerChar, c);
    sender_.SendBoxCommand(box::kKeyerChar, c);
    sender_.SendBoxCommand(box::kKeyerOverwrite, 'E');
}

void HardwareTests::OnKeyerOverwrite(uint8_t value) {
    if (!overwriteRunning_) {
        return;
    }
    if (value == 0) {
        sender_.SendBoxCommand(box::kKeyerOverwrite, 'E');
        ++overwriteCount_;
        return;
    }
    char line[64];
    std::snprintf(line, sizeof line, "There were %d succesful overwrites", overwriteCount_);
    log_.LogMessage(line);
    overwriteRunning_ = false;
}

uint8_t HardwareTests::MultiplexValue(uint8_t state, uint32_t counter) {
    return static_cast<uint8_t>((state & 0xF9) | (counter & 3) << 1);
}

void HardwareTests::OnMultiplexButton() {
    log_.LogMessage("Starting MUX test, please wait");
    multiplexCounter_ = kMultiplexStart;
    multiplexStart_ = now_();
    sender_.SendBoxCommand(box::kZuvoState, MultiplexValue(mirrors_.zuvoState, multiplexCounter_));
}

bool HardwareTests::OnZuvoState(uint8_t value) {
    if (multiplexCounter_ == 0) {
        return false;
    }
    const uint32_t left = --multiplexCounter_;
    // A refused send resets the controls, which zeroes the counter: that is no result.
    sender_.SendBoxCommand(box::kZuvoState, MultiplexValue(value, left));
    if (left == 0) {
        char line[80];
        std::snprintf(line, sizeof line, "Mux test completed 10000 changes in %d seconds",
                      static_cast<int>(now_() - multiplexStart_));
        log_.LogMessage(line);
    }
    return true;
}

}  // namespace zuvo
