#pragma once

namespace zuvo {

// The RTTY bridge's part in a transmit-radio change and in a new connection.
class IRttySpeedBits {
  public:
    virtual ~IRttySpeedBits() = default;
    // Brings the box's RTTY Speed Bits in line with the station of the transmitting radio.
    virtual void SendRttySpeedBits() = 0;
    // Forgets the cached speed bits (a new connection).
    virtual void ResetRttySpeedBits() = 0;
};

}  // namespace zuvo
