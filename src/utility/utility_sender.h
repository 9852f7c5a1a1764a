#pragma once

#include <array>
#include <cstdint>

#include "link/box_sender.h"

namespace zuvo {

// The utility's link as its pieces see it: box commands (refused when not connected or in
// update mode), boot-loader reports, and the disconnect.
class IUtilitySender : public IBoxSender {
  public:
    using BootReport = std::array<uint8_t, 65>;
    virtual bool UpdateMode() const = 0;
    // Not connected: the connect-first handling. A failed write logs and disconnects.
    virtual bool WriteBootReport(const BootReport& report) = 0;
    virtual void DisconnectBox() = 0;
};

}  // namespace zuvo
