#pragma once

#include <cstdint>
#include <string>

#include "core/dialog_host.h"
#include "platform/hid.h"
#include "platform/message_queue.h"
#include "ui/event_log.h"
#include "ui/window_model.h"
#include "utility/firmware_updater.h"
#include "utility/hardware_tests.h"
#include "utility/keyer_console.h"
#include "utility/utility_ids.h"
#include "utility/utility_link.h"

namespace zuvo {

// The utility's main window and composition root: owns the log, the window model, the link
// and the pieces (console, hardware tests, firmware update), routes control changes, keys
// and posted messages to them, and shows the box's reports in the controls.
class UtilityDlg final : public IUtilityLinkEvents {
  public:
    enum class Key { kEnter, kEscape };

    struct Options {
        HardwareTests::SecondsClock secondsClock;  // empty: the system clock
        FirmwareUpdater::Sleeper sleep;            // empty: a real sleep
    };

    UtilityDlg(platform::IHidSystem& hid, platform::IMessagePoster& poster, IDialogHost& dialogs,
               Options options = {});
    ~UtilityDlg() override;

    // A user change; the model already holds the new value.
    void OnControlChanged(int id);
    void OnKey(Key key);
    void Dispatch(const platform::Message& message);

    void OnAbout();
    // The About box's two lines: the utility version and the firmware version (empty until
    // a box has reported its version).
    const std::string& UtilityVersionLine() const { return utilityVersionLine_; }
    const std::string& FirmwareVersionLine() const { return firmwareVersionLine_; }

    void ResetControls() override;
    void RefreshControls() override;

    // Each log line as it is appended, besides the log list of the model (a command line
    // prints it).
    void SetLineObserver(EventLog::LineObserver observer) { lineObserver_ = std::move(observer); }

    WindowModel& Model() { return model_; }
    EventLog& Log() { return log_; }
    UtilityLink& Link() { return link_; }
    KeyerConsole& Console() { return console_; }
    HardwareTests& Tests() { return tests_; }
    FirmwareUpdater& Updater() { return updater_; }
    const utility::UtilityMirrors& Mirrors() const { return mirrors_; }
    // Box reports handled in normal mode since the last Connect.
    uint32_t ReportsSinceConnect() const { return reportsSinceConnect_; }

    // Before the program ends: stop the read thread; nothing is sent to the box.
    void Close() { link_.Shutdown(); }

  private:
    void BuildControls();
    void OnConnectButton();
    void OnResetButton();
    void OnReport(uint8_t code, uint8_t value);
    bool SendBit(uint8_t code, uint8_t mirror, uint8_t bit, int id);
    void ShowZuvoState(uint8_t value);
    void ShowStatusTexts();
    void CheckBit(int id, uint8_t value, uint8_t bit) { model_.SetChecked(id, (value & bit) != 0); }

    // One-line error reports, no file: the utility's own form of the event log.
    EventLog log_{EventLog::ErrorStyle::kOneLine};
    WindowModel model_;
    IDialogHost& dialogs_;
    utility::UtilityMirrors mirrors_;
    UtilityLink link_;
    KeyerConsole console_;
    HardwareTests tests_;
    FirmwareUpdater updater_;
    std::string utilityVersionLine_;
    std::string firmwareVersionLine_;
    uint32_t reportsSinceConnect_ = 0;
    EventLog::LineObserver lineObserver_;
};

}  // namespace zuvo
