#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "core/event_log.h"
#include "link/device_link_core.h"
#include "utility/utility_sender.h"

namespace zuvo {

// What the utility's link needs from its window: the controls reset after a refusal or a
// disconnect, and refreshed.
class IUtilityLinkEvents {
  public:
    virtual ~IUtilityLinkEvents() = default;
    virtual void ResetControls() = 0;
    virtual void RefreshControls() = 0;
};

// The utility's device link. It connects only when asked (Connect), accepts the box and its
// boot loader (update mode), refuses ordinary commands in update mode, and writes the
// boot loader's 65-byte reports.
class UtilityLink final : public IUtilitySender {
  public:
    UtilityLink(platform::IHidSystem& hid, platform::IMessagePoster& poster, IEventLog& log,
                IUtilityLinkEvents& events);

    // Searches the HID devices and opens the first box or boot loader. True when connected.
    bool FindBox();

    // The utility's form: "Connect to Zuvo Box first!" when not connected, "Command not
    // allowed in firmware update mode" in update mode; otherwise writes the 3-byte report.
    bool SendBoxCommand(int code, int value) override;
    bool IsConnectedFlag() const override { return core_.Connected(); }

    // Writes one boot-loader report (no update-mode refusal). Not connected: the connect-first
    // handling. A failed write logs and disconnects.
    bool WriteBootReport(const BootReport& report) override;

    // Clears the connected and update-mode flags, closes the device, resets the controls.
    void DisconnectBox() override;

    void OnDeviceChange(uint32_t event, const std::string& path);
    // A box report message carrying a read error, posted by the connection `source`.
    void OnReadError(uint32_t code, uint32_t source);

    bool UpdateMode() const override { return updateMode_.load(); }
    uint32_t Generation() const { return core_.Generation(); }
    const std::string& DevicePath() const { return core_.DevicePath(); }
    // The 65-byte report the read thread stored before posting its command and value bytes.
    BootReport LastBootReport() const { return lastReport_.Load(); }

    // At exit: stops the read thread and closes the handles without a line.
    void Shutdown();

  private:
    bool Open(const std::string& path, uint16_t productId);
    bool Write(const uint8_t* data, size_t length);
    void ConnectFirst();

    DeviceLinkCore core_;
    IEventLog& log_;
    IUtilityLinkEvents& events_;
    platform::IMessagePoster& poster_;
    std::atomic<bool> updateMode_{false};
    zuvo::LastBootReport lastReport_;
    bool attached_ = false;
    bool registered_ = false;
};

}  // namespace zuvo
