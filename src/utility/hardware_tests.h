#pragma once

#include <cstdint>
#include <functional>

#include "core/event_log.h"
#include "ui/window_model.h"
#include "utility/utility_ids.h"
#include "utility/utility_sender.h"

namespace zuvo {

// The two hardware tests: " Overwrite" counts how often the keyer's pending character can
// be overwritten while it sends; "Multiplex" switches the receive audio 10,000 times as fast
// as the box answers. Each keeps exactly one command outstanding. Main thread only.
class HardwareTests {
  public:
    using SecondsClock = std::function<int64_t()>;
    static constexpr uint32_t kMultiplexStart = 10001;

    HardwareTests(IUtilitySender& sender, IEventLog& log, const WindowModel& model,
                  const utility::UtilityMirrors& mirrors, SecondsClock now = {});

    void OnOverwriteButton();
    void OnMultiplexButton();

    // A Keyer Overwrite report.
    void OnKeyerOverwrite(uint8_t value);
    // A Zuvo State report (the mirror already holds it). True when the multiplex test took
    // it, so the window leaves its radio buttons and status texts alone.
    bool OnZuvoState(uint8_t value);

    // Resetting the controls ends a multiplex test without a result.
    void ResetMultiplex() { multiplexCounter_ = 0; }

    bool OverwriteRunning() const { return overwriteRunning_; }
    uint32_t MultiplexCounter() const { return multiplexCounter_; }

  private:
    static uint8_t MultiplexValue(uint8_t state, uint32_t counter);

    IUtilitySender& sender_;
    IEventLog& log_;
    const WindowModel& model_;
    const utility::UtilityMirrors& mirrors_;
    SecondsClock now_;

    bool overwriteRunning_ = false;
    int overwriteCount_ = 0;
    uint32_t multiplexCounter_ = 0;
    int64_t multiplexStart_ = 0;
};

}  // namespace zuvo
