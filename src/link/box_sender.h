#pragma once

#include <cstdint>

namespace zuvo {

// The one path by which the logic writes a box report.
class IBoxSender {
  public:
    virtual ~IBoxSender() = default;
    // Writes Report(0, code, value) (low bytes of each). With no box connected it logs the
    // program's refusal line, shows the disconnected view and returns false; a failed write
    // logs, disconnects and returns false.
    virtual bool SendBoxCommand(int code, int value) = 0;
    // The connected flag, read without any side effect.
    virtual bool IsConnectedFlag() const = 0;
};

}  // namespace zuvo
