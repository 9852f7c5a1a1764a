#include "ui/main_window.h"

#include <cstdio>
#include <vector>

#include "generated/version.h"
#include "link/box_protocol.h"
#include "ui/main_ids.h"

namespace zuvo {

using namespace ids;

namespace {

std::vector<std::string> NumberItems(const char* format, int first, int last) {
    std::vector<std::string> items;
    char buf[16];
    for (int i = first; i <= last; ++i) {
        std::snprintf(buf, sizeof buf, format, i);
        items.emplace_back(buf);
    }
    return items;
}

Control Captioned(const char* text) {
    Control c;
    c.text = text;
    return c;
}

Control List(std::vector<std::string> items) {
    Control c;
    c.items = std::move(items);
    return c;
}

constexpr int kModeButtons[] = {kModeIambic, kModeUltimatic, kModeDit, kModeDah, kModeStraight};
constexpr int kPhoneButtons[] = {kPhonesNormal, kPhonesSymmetric, kPhonesSpatial};
constexpr int kBoxLists[] = {kWeightList, kPttPreList, kPttPostList, kPotMinList,
                             kPotMaxList, kBlendList,  kMap1List,    kMap2List};
constexpr int kBoxChecks[] = {kBlend,     kMicRelays, kTightTiming, kLongWordSpace,
                              kAutospace, kReverse,   kATiming,     kKeyerPtt};
constexpr int kLabels[] = {kWeightLabel, kPttPostLabel, kPttPreLabel, kPotMinLabel, kPotMaxLabel};
// Enabled only while the operator, not the logger, sets the keyer.
constexpr int kManualKeyerControls[] = {kWeightList,  kPttPreList,  kPttPostList,   kPotMinList,
                                        kPotMaxList,  kWeightLabel, kPttPreLabel,   kPttPostLabel,
                                        kPotMinLabel, kPotMaxLabel, kLongWordSpace, kReverse,
                                        kATiming,     kAutospace,   kModeIambic,    kModeUltimatic,
                                        kModeDit,     kModeDah,     kModeStraight};
constexpr int kAlwaysBoxControls[] = {kBlendList,       kMap1List,     kMap2List, kBlend,
                                      kMicRelays,       kTightTiming,  kKeyerPtt, kPhonesNormal,
                                      kPhonesSymmetric, kPhonesSpatial};

}  // namespace

MainWindow::MainWindow(const BoxState& state) : state_(state) {
    BuildControls();
}

void MainWindow::BuildControls() {
    const auto byteItems = NumberItems("%3d", 0, 255);
    const auto comItems = NumberItems("COM%d", 1, 32);
    const auto speedItems = NumberItems("%2d", 2, 99);
    const auto mapItems = NumberItems("%2d", 1, 4);

    const char* modeCaptions[] = {"Iambic", "Ultimatic", "Dit", "Dah", "Straight"};
    for (int i = 0; i < 5; ++i) {
        model_.Add(kModeButtons[i], Captioned(modeCaptions[i]));
    }
    const char* phoneCaptions[] = {"Normal", "Symmetric", "Spatial"};
    for (int i = 0; i < 3; ++i) {
        model_.Add(kPhoneButtons[i], Captioned(phoneCaptions[i]));
    }
    model_.Add(kWeightList, List(byteItems));
    model_.Add(kPttPreList, List(byteItems));
    model_.Add(kPttPostList, List(byteItems));
    model_.Add(kBlendList, List(byteItems));
    model_.Add(kPotMinList, List(speedItems));
    model_.Add(kPotMaxList, List(speedItems));
    model_.Add(kMap1List, List(mapItems));
    model_.Add(kMap2List, List(mapItems));
    model_.Add(kKeyerPortList, List(comItems));
    model_.Add(kZuvoPortList, List(comItems));
    model_.Add(kWeightLabel, Captioned("Weight"));
    model_.Add(kPttPreLabel, Captioned("PTT Pre (ms)"));
    model_.Add(kPttPostLabel, Captioned("PTT Post (ms)"));
    model_.Add(kPotMinLabel, Captioned("Min Speed"));
    model_.Add(kPotMaxLabel, Captioned("Max Speed"));
    model_.Add(kLoggerControls, Captioned("Logger controls keyer"));
    model_.Add(kSmartEditing, Captioned("Smart keyer editing"));
    model_.Add(kATiming, Captioned("A timing"));
    model_.Add(kTightTiming, Captioned("Tight timing"));
    model_.Add(kLongWordSpace, Captioned("Long word space"));
    model_.Add(kKeyerPtt, Captioned("Keyer PTT"));
    model_.Add(kReverse, Captioned("Reverse"));
    model_.Add(kAutospace, Captioned("Autospace"));
    model_.Add(kBlend, Captioned("Blend"));
    model_.Add(kLatch, Captioned("Latch"));
    model_.Add(kSplitStereo, Captioned("Split Stereo"));
    model_.Add(kKeyerPortCheck, Captioned("Keyer"));
    model_.Add(kZuvoPortCheck, Captioned("Zuvo"));
    model_.Add(kPipes, Captioned("Pipes"));
    model_.Add(kMicRelays, Captioned("Mic Relays"));
    model_.Add(kTx1, Captioned("TX 1"));
    model_.Add(kTx2, Captioned("TX 2"));
    model_.Add(kRx1, Captioned("RX 1"));
    model_.Add(kRx2, Captioned("RX 2"));
    model_.Add(kStereo, Captioned("Stereo"));
    model_.Add(kVerboseOutput, Captioned("Verbose Output"));
    model_.Add(kVerboseKeyer, Captioned("Verbose Keyer"));
    model_.Add(kVerboseZuvo, Captioned("Verbose Zuvo"));
    model_.Add(kVerboseRtty, Captioned("Verbose RTTY"));
    model_.Add(kEventLogList);
    for (int id : {kRxText, kTxText, kStereoText, kSpeedText, kAntennas1Text, kAntennas2Text,
                   kTuneText, kPttText}) {
        model_.Add(id);  // the status texts are empty until first set
    }
}

bool MainWindow::IsVerbose(Verbose category) const {
    switch (category) {
        case Verbose::kBox:
            return model_.Checked(kVerboseOutput);
        case Verbose::kKeyer:
            return model_.Checked(kVerboseKeyer);
        case Verbose::kZuvo:
            return model_.Checked(kVerboseZuvo);
        case Verbose::kRtty:
            return model_.Checked(kVerboseRtty);
    }
    return false;
}

void MainWindow::ResetBoxView() {
    for (int id :
         {kRxText, kTxText, kStereoText, kSpeedText, kAntennas1Text, kAntennas2Text, kTuneText}) {
        model_.SetText(id, "");
    }
    for (int id : kBoxLists) {
        model_.SetSelection(id, -1);
        model_.SetEnabled(id, false);
    }
    for (int id : kBoxChecks) {
        model_.SetChecked(id, false);
        model_.SetEnabled(id, false);
    }
    for (int id : kModeButtons) {
        model_.SetChecked(id, false);
        model_.SetEnabled(id, false);
    }
    for (int id : kPhoneButtons) {
        model_.SetChecked(id, false);
        model_.SetEnabled(id, false);
    }
    for (int id : kLabels) {
        model_.SetEnabled(id, false);
    }
    model_.Refresh();
}

void MainWindow::EnableBoxControls() {
    const bool manual = !model_.Checked(kLoggerControls);
    for (int id : kAlwaysBoxControls) {
        model_.SetEnabled(id, true);
    }
    for (int id : kManualKeyerControls) {
        model_.SetEnabled(id, manual);
    }
}

void MainWindow::ShowSpeed() {
    char buf[32];
    // While the box follows its pot it keys at the pot's speed, which no Keyer Speed reports.
    const bool followsPot = (state_.keyerControl & box::kControlBitPot) != 0;
    const int speed = followsPot && state_.potSpeedKnown ? state_.potSpeed : state_.keyerSpeed;
    if (state_.speedOffset != 0) {
        std::snprintf(buf, sizeof buf, "%d %+d WPM", speed, state_.speedOffset);
    } else {
        std::snprintf(buf, sizeof buf, "%d WPM", speed);
    }
    model_.SetText(kSpeedText, buf);
    model_.Refresh();
}

void MainWindow::ShowSwitchingStatus() {
    const uint8_t s = state_.switchingState;
    const uint8_t w = state_.switchingSwitches;
    const bool tx2 = (s & box::kStateTxRadio2) != 0;
    std::string rx;
    if ((w & box::kSwitchRx1) != 0) {
        rx = "RX1 *";
    } else if ((w & box::kSwitchRx2) != 0) {
        rx = "RX2 *";
    } else {
        rx = (s & box::kStateRxRadio2) != 0 ? "RX2" : "RX1";
    }
    std::string tx;
    if ((w & box::kSwitchTx1) != 0) {
        tx = tx2 ? "TX1 (Inhibit)" : "TX1 *";
    } else if ((w & box::kSwitchTx2) != 0) {
        tx = tx2 ? "TX2 *" : "TX2 (Inhibit)";
    } else {
        tx = tx2 ? "TX2" : "TX1";
    }
    std::string stereo;
    if ((s & box::kStateStereo) != 0) {
        stereo = "Stereo";
    } else if ((s & box::kStateReverse) != 0) {
        stereo = "Reverse";
    }
    const bool ptt = (s & box::kStatePtt) != 0 || (w & box::kSwitchPttInput) != 0;
    model_.SetText(kRxText, rx);
    model_.SetText(kTxText, tx);
    model_.SetText(kStereoText, stereo);
    model_.SetText(kPttText, ptt ? "PTT" : "");
    if (onSwitchingShown_) {
        onSwitchingShown_();
    }
    model_.Refresh();
}

void MainWindow::ShowKeyerConfig(uint8_t value) {
    model_.SetChecked(kTightTiming, (value & 0x40) != 0);
    model_.SetChecked(kATiming, (value & 0x20) != 0);
    model_.SetChecked(kReverse, (value & 0x08) != 0);
    model_.SetChecked(kLongWordSpace, (value & 0x10) != 0);
    model_.SetChecked(kKeyerPtt, (value & 0x80) != 0);
    const int mode = value & 0x07;
    for (int i = 0; i < 5; ++i) {
        model_.SetChecked(kModeButtons[i], i == mode);
    }
}

void MainWindow::ShowKeyerConfig2(uint8_t value) {
    model_.SetChecked(kAutospace, (value & 0x01) != 0);
}

void MainWindow::ShowTune(bool on) {
    model_.SetText(kTuneText, on ? "Tune" : "");
}

void MainWindow::SelectPttPre(int index) {
    model_.SetSelection(kPttPreList, index);
}
void MainWindow::SelectPttPost(int index) {
    model_.SetSelection(kPttPostList, index);
}
void MainWindow::SelectWeight(int index) {
    model_.SetSelection(kWeightList, index);
}
void MainWindow::SelectPotMin(int index) {
    model_.SetSelection(kPotMinList, index);
}
void MainWindow::SelectPotMax(int index) {
    model_.SetSelection(kPotMaxList, index);
}
void MainWindow::SelectBlend(int index) {
    model_.SetSelection(kBlendList, index);
}

void MainWindow::SelectMap(int n, int index) {
    model_.SetSelection(n == 1 ? kMap1List : kMap2List, index);
}

void MainWindow::ShowAux(int n, uint8_t value) {
    if (n == 1 || n == 2) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "Ant%d  %d", n, value & 0x0F);
        model_.SetText(n == 1 ? kAntennas1Text : kAntennas2Text, buf);
    }
}

void MainWindow::ShowZuvoConfig(uint8_t value) {
    const int mode = value & 0x07;
    for (int i = 0; i < 3; ++i) {
        model_.SetChecked(kPhoneButtons[i], i == mode);
    }
    const bool symmetric = mode == 1;
    model_.SetEnabled(kBlend, !symmetric);
    model_.SetEnabled(kBlendList, !symmetric);
    model_.SetChecked(kBlend, (value & 0x08) != 0);
    model_.SetChecked(kMicRelays, (value & 0x10) != 0);
}

std::string MainWindow::VersionText() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Zuvo Box Version %u.%u.%u", kVersionMajor, kVersionMinor,
                  kVersionPatch);
    return buf;
}

}  // namespace zuvo
