#pragma once

#include <cstdint>

namespace zuvo {

// The keyer host port as the WinKeyer interpreter sees it.
class IKeyerPort {
  public:
    virtual ~IKeyerPort() = default;
    // The port is open and its read thread is running.
    virtual bool IsKeyerPortRunning() const = 0;
    // One reply byte to the logger (dropped, with the "(unsent)" verbose line, while a pipe
    // has no client).
    virtual void WriteKeyerByte(uint8_t byte) = 0;
};

}  // namespace zuvo
