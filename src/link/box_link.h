#pragma once

#include <cstdint>
#include <string>

#include "core/event_log.h"
#include "link/box_sender.h"
#include "link/box_state.h"
#include "link/device_link_core.h"
#include "link/report_sinks.h"

namespace zuvo {

// The interface program's device link: finds the box at start-up and on arrival, sends the
// connect query, writes box reports and runs the disconnect sequence.
class BoxLink final : public IBoxSender {
  public:
    BoxLink(platform::IHidSystem& hid, platform::IMessagePoster& poster, IEventLog& log,
            BoxState& state, ILinkEvents& events);

    void FindBox();
    bool OpenBox(const std::string& path);
    bool SendBoxCommand(int code, int value) override;
    bool IsConnectedFlag() const override { return core_.Connected(); }
    // False also logs "Zuvo Box is not connected" and shows the disconnected view.
    bool IsBoxConnected();
    void DisconnectBox();

    // A device-change message (arrival or removal of a device interface).
    void OnDeviceChange(uint32_t event, const std::string& path);
    // A box report message carrying a read error, posted by the connection `source`.
    void OnReadError(uint32_t code, uint32_t source);

    bool RegisterDeviceNotifications(platform::IMessagePoster& poster);

    // At exit: stop the device read thread and close the handles without a log line or a
    // report, after the closing Keyer Control has gone out.
    void Shutdown();

    const std::string& DevicePath() const { return core_.DevicePath(); }

  private:
    DeviceLinkCore core_;
    IEventLog& log_;
    BoxState& state_;
    ILinkEvents& events_;
};

// Device paths compare without regard to letter case.
bool SameDevicePath(const std::string& a, const std::string& b);

}  // namespace zuvo
