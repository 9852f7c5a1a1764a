#pragma once

#include <cstdint>
#include <vector>

#include "link/box_state.h"
#include "switching/switching_control.h"

namespace zuvo::test {

// The switching logic as the RTTY bridge sees it: the TX radio comes from the box state,
// the requested maps are set by the test, and every UpdatePtt records the PTT it combined.
class RttySwitchingStub : public ISwitchingControl {
  public:
    explicit RttySwitchingStub(const BoxState& state) : state_(state) {}

    uint8_t requestedMap[2] = {0, 0};
    bool rttyPtt = false;
    std::vector<bool> updates;  // the RTTY PTT at each UpdatePtt

    void BeginHeadphoneLatch(int) override {}
    void EndHeadphoneLatch(int) override {}
    void SetKeyerPtt(bool) override {}
    void SetRttyPtt(bool on) override { rttyPtt = on; }
    bool RttyPtt() const override { return rttyPtt; }
    void UpdatePtt() override { updates.push_back(rttyPtt); }
    int CurrentTxIndex() const override {
        if (state_.switchingSwitches & 0x01) {
            return 0;
        }
        if (state_.switchingSwitches & 0x02) {
            return 1;
        }
        return state_.switchingState & 0x01;
    }
    uint8_t RequestedMap(int n) const override { return requestedMap[n - 1]; }

  private:
    const BoxState& state_;
};

}  // namespace zuvo::test
