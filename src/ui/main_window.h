#pragma once

#include <functional>
#include <string>

#include "core/event_log.h"
#include "link/box_state.h"
#include "link/report_sinks.h"
#include "ui/window_model.h"

namespace zuvo {

// The interface program's main window as data: its controls, the disconnected and
// connected looks, and the status texts. The box-bound controls follow the box reports.
class MainWindow final : public IBoxView, public IVerbose {
  public:
    explicit MainWindow(const BoxState& state);

    WindowModel& Model() { return model_; }
    const WindowModel& Model() const { return model_; }

    // IVerbose: the four verbose check boxes.
    bool IsVerbose(Verbose category) const override;

    // The window's part of the disconnected look: empty status texts (all but PTT), lists
    // without selection and disabled, box check boxes and buttons unchecked and disabled.
    void ResetBoxView();
    // The connected look; which keyer controls are enabled depends on "Logger controls keyer".
    void EnableBoxControls();

    // IBoxView
    void ShowSpeed() override;
    void ShowSwitchingStatus() override;
    void ShowKeyerConfig(uint8_t value) override;
    void ShowKeyerConfig2(uint8_t value) override;
    void ShowTune(bool on) override;
    void SelectPttPre(int index) override;
    void SelectPttPost(int index) override;
    void SelectWeight(int index) override;
    void SelectPotMin(int index) override;
    void SelectPotMax(int index) override;
    void ShowAux(int n, uint8_t value) override;
    void ShowZuvoConfig(uint8_t value) override;
    void SelectBlend(int index) override;
    void SelectMap(int n, int index) override;
    void Refresh() override { model_.Refresh(); }

    // Called by ShowSwitchingStatus so the manual switching controls follow the box.
    void SetSwitchingShownHook(std::function<void()> hook) { onSwitchingShown_ = std::move(hook); }

    // Texts shown in the About dialog.
    std::string VersionText() const;
    const std::string& FirmwareVersionText() const { return state_.firmwareVersionText; }

  private:
    void BuildControls();

    const BoxState& state_;
    WindowModel model_;
    std::function<void()> onSwitchingShown_;
};

}  // namespace zuvo
