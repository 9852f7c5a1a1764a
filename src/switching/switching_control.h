#pragma once

namespace zuvo {

// Headphone latch reasons.
inline constexpr int kLatchPtt = 1;
inline constexpr int kLatchKeyer = 2;

// What the keyer emulation and the RTTY bridge drive in the switching logic.
class ISwitchingControl {
public:
    virtual ~ISwitchingControl() = default;
    virtual void BeginHeadphoneLatch(int reason) = 0;
    virtual void EndHeadphoneLatch(int reasons) = 0;
    virtual void SetKeyerPtt(bool on) = 0;
    virtual void SetRttyPtt(bool on) = 0;
    virtual bool RttyPtt() const = 0;
    // Combines the three PTT sources into the requested switching state and sends it.
    virtual void UpdatePtt() = 0;
    // 0 = radio 1, 1 = radio 2, from the box state (front-panel switches first).
    virtual int CurrentTxIndex() const = 0;
    // Requested map value n (1, 2); 0 until the logger or the window set it.
    virtual uint8_t RequestedMap(int n) const = 0;
};

}  // namespace zuvo
