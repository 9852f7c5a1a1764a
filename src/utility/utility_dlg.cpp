#include "utility/utility_dlg.h"

#include <cstdio>

#include "generated/version.h"
#include "link/box_protocol.h"

namespace zuvo {

using namespace utility;

namespace {

std::vector<std::string> NumberItems(const char* format, int from, int to) {
    std::vector<std::string> items;
    for (int i = from; i <= to; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, format, i);
        items.emplace_back(buf);
    }
    return items;
}

std::vector<std::string> CompItems() {
    std::vector<std::string> items;
    for (int c = -63; c <= 63; ++c) {
        char buf[16];
        if (c == 0) {
            std::snprintf(buf, sizeof buf, "0");
        } else {
            std::snprintf(buf, sizeof buf, "%+2d", c);
        }
        items.emplace_back(buf);
    }
    return items;
}

// The verbose line of each handled inbound command; nullptr for a command the utility
// does not handle.
const char* ReceivedText(uint8_t code) {
    switch (code) {
        case 0:
            return "* Received Query";
        case 1:
            return "* Received Box Patch Level";
        case 2:
            return "* Received Box Special Version";
        case 10:
            return "* Received Debug 1";
        case 11:
            return "* Received Debug 2";
        case 12:
            return "* Received Debug 3";
        case 13:
            return "* Received Debug 4";
        case 16:
            return "* Received Keyer Status";
        case 17:
            return "* Received Keyer Speed";
        case 18:
            return "* Received Keyer Config";
        case 19:
            return "* Received Keyer Char";
        case 20:
            return "* Received Keyer Overwrite";
        case 21:
            return "* Received Keyer Abort";
        case 22:
            return "* Received Keyer Control";
        case 23:
            return "* Received Keyer Event";
        case 24:
            return "* Received Keyer Speed Delta";
        case 25:
            return "* Received PTT Pre-send time";
        case 26:
            return "* Received PTT Post-send time";
        case 27:
            return "* Received Keyer Weight";
        case 28:
            return "* Received Keyer Pot Speed";
        case 29:
            return "* Received Keyer Sending Char";
        case 30:
            return "* Received Keyer Pot Min";
        case 31:
            return "* Received Keyer Pot Max";
        case 32:
            return "* Received Aux 1";
        case 33:
            return "* Received Aux 2";
        case 34:
            return "* Received Aux 3";
        case 35:
            return "* Received Aux 4";
        case 48:
            return "* Received Zuvo State";
        case 49:
            return "* Received Zuvo Config";
        case 50:
            return "* Received Zuvo Switches";
        case 51:
            return "* Received Zuvo Blend";
        case 52:
            return "* Received Zuvo Map 1";
        case 53:
            return "* Received Zuvo Map 2";
        case 64:
            return "* Received RTTY Config";
        case 80:
            return "* Received Comp1";
        case 81:
            return "* Received Comp2";
        case 82:
            return "* Received Comp3";
        case 83:
            return "* Received Comp4";
        case 84:
            return "* Received Keyer Config2";
        case 127:
            return "";
        default:
            return nullptr;
    }
}

constexpr int kDropDowns[] = {kSpeed,   kKeyerType, kWeight,        kComp1,     kComp2,
                              kComp3,   kComp4,     kPotMin,        kPotMax,    kPttPre,
                              kPttPost, kMap1,      kMap2,          kAux1,      kAux2,
                              kAux3,    kAux4,      kConfiguration, kBlendLevel};
constexpr int kChecks[] = {kATiming,   kTightTiming, kReverse,   kLongWordSpace, kKeyerPtt,
                           kAutospace, kRxRadio1,    kRxRadio2,  kStereo,        kTxRadio1,
                           kTxRadio2,  kEnableFsk,   kInvert1,   kInvert2,       kInvert3,
                           kInvert4,   kBlend,       kMicRelays, kTxOnAux3};

// Keyer Config check boxes and their bits.
struct BitControl {
    int id;
    uint8_t bit;
};
constexpr BitControl kKeyerBits[] = {{kReverse, 0x08},
                                     {kLongWordSpace, 0x10},
                                     {kATiming, 0x20},
                                     {kTightTiming, 0x40},
                                     {kKeyerPtt, 0x80}};
constexpr BitControl kConfigBits[] = {{kBlend, 0x08}, {kMicRelays, 0x10}, {kTxOnAux3, 0x20}};
constexpr BitControl kRttyBits[] = {
    {kInvert1, 0x01}, {kInvert2, 0x02}, {kInvert3, 0x04}, {kInvert4, 0x08}, {kEnableFsk, 0x10}};

}  // namespace

UtilityDlg::UtilityDlg(platform::IHidSystem& hid, platform::IMessagePoster& poster,
                       IDialogHost& dialogs, Options options)
    : dialogs_(dialogs),
      link_(hid, poster, log_, *this),
      console_(link_, log_, model_, *this, mirrors_),
      tests_(link_, log_, model_, mirrors_, std::move(options.secondsClock)),
      updater_(link_, log_, model_, *this, dialogs, std::move(options.sleep)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Zuvo Box Utility Version %u.%u.%u", kVersionMajor,
                  kVersionMinor, kVersionPatch);
    utilityVersionLine_ = buf;
    BuildControls();
    // The log list shows the lines through the observer; the model's list control holds
    // none, so a long verbose session keeps each line once.
    log_.SetObserver([this](const std::string& line) {
        if (lineObserver_) {
            lineObserver_(line);
        }
    });
    ResetControls();
}

UtilityDlg::~UtilityDlg() {
    link_.Shutdown();
}

void UtilityDlg::BuildControls() {
    auto text = [](std::string t) {
        Control c;
        c.text = std::move(t);
        return c;
    };
    auto list = [](std::vector<std::string> items) {
        Control c;
        c.items = std::move(items);
        return c;
    };
    model_.Add(kText);
    model_.Add(kSend, text("Send"));
    model_.Add(kTune, text("Tune"));
    model_.Add(kPtt, text("PTT"));
    model_.Add(kSpeed, list(NumberItems("%2d", 2, 99)));
    model_.Add(kKeyerType, list({"Iambic", "Ultimatic", "Dit", "Dah", "Straight Key"}));
    model_.Add(kATiming, text("A Timing"));
    model_.Add(kTightTiming, text("Tight Timing"));
    model_.Add(kReverse, text("Reverse"));
    model_.Add(kLongWordSpace, text("Long word space"));
    model_.Add(kKeyerPtt, text("Keyer PTT"));
    model_.Add(kAutospace, text("Autospace"));
    model_.Add(kWeight, list(NumberItems("%3d", 0, 255)));
    for (int id : {kComp1, kComp2, kComp3, kComp4}) {
        model_.Add(id, list(CompItems()));
    }
    model_.Add(kPotMin, list(NumberItems("%2d", 2, 99)));
    model_.Add(kPotMax, list(NumberItems("%2d", 2, 99)));
    model_.Add(kPttPre, list(NumberItems("%3d", 0, 255)));
    model_.Add(kPttPost, list(NumberItems("%3d", 0, 255)));
    model_.Add(kRxRadio1, text("Radio 1"));
    model_.Add(kRxRadio2, text("Radio 2"));
    model_.Add(kStereo, text("Stereo"));
    model_.Add(kTxRadio1, text("Radio 1"));
    model_.Add(kTxRadio2, text("Radio 2"));
    model_.Add(kStatusRx);
    model_.Add(kStatusTx);
    model_.Add(kMap1, list(NumberItems("%2d", 1, 4)));
    model_.Add(kMap2, list(NumberItems("%2d", 1, 4)));
    for (int id : {kAux1, kAux2, kAux3, kAux4}) {
        model_.Add(id, list(NumberItems("%2d", 0, 15)));
    }
    model_.Add(kUpdateAux, text("Update Aux outputs"));
    model_.Add(kEnableFsk, text("Enable FSK"));
    model_.Add(kInvert1, text("Invert Radio 1"));
    model_.Add(kInvert2, text("Invert Radio 2"));
    model_.Add(kInvert3, text("Invert Radio 3"));
    model_.Add(kInvert4, text("Invert Radio 4"));
    model_.Add(kConfiguration, list({"Normal", "Symmetric", "Spatial"}));
    model_.Add(kBlend, text("Blend"));
    model_.Add(kBlendLevel, list(NumberItems("%3d", 0, 255)));
    model_.Add(kMicRelays, text("Mic Relays"));
    model_.Add(kTxOnAux3, text("TX on Aux 3"));
    model_.Add(kVerbose, text("Verbose Output"));
    model_.Add(kLog);
    model_.Add(kConnect, text("Connect"));
    model_.Add(kUpdate, text("Update"));
    model_.Add(kOverwrite, text(" Overwrite"));
    model_.Add(kMultiplex, text("Multiplex"));
    model_.Add(kReset, text("Reset"));
    model_.Add(kAbout, text("&About Zuvo Box utility..."));
}

void UtilityDlg::ResetControls() {
    mirrors_.keyerStatus = 0;
    mirrors_.keyerConfig = 0;
    mirrors_.zuvoConfig = 0;
    mirrors_.zuvoState = 0;
    mirrors_.zuvoSwitches = 0;
    console_.Reset();
    tests_.ResetMultiplex();
    firmwareVersionLine_.clear();
    model_.SetText(kConnect, link_.UpdateMode() ? "Disconnect" : "Connect");
    model_.SetText(kSend, "Send");
    model_.SetText(kTune, "Tune");
    model_.SetText(kPtt, "PTT");
    model_.SetText(kStatusRx, "");
    model_.SetText(kStatusTx, "");
    for (int id : kDropDowns) {
        model_.SetSelection(id, -1);
    }
    for (int id : kChecks) {
        model_.SetChecked(id, false);
    }
}

void UtilityDlg::RefreshControls() {
    model_.Refresh();
}

bool UtilityDlg::SendBit(uint8_t code, uint8_t mirror, uint8_t bit, int id) {
    const uint8_t value = model_.Checked(id) ? (mirror | bit) : (mirror & ~bit);
    return link_.SendBoxCommand(code, value);
}

void UtilityDlg::OnControlChanged(int id) {
    const int sel = model_.Has(id) ? model_.Selection(id) : -1;
    auto sendList = [&](uint8_t code, int value) {
        if (sel >= 0) {
            link_.SendBoxCommand(code, value);
        }
    };
    for (const BitControl& b : kKeyerBits) {
        if (b.id == id) {
            SendBit(box::kKeyerConfig, mirrors_.keyerConfig, b.bit, id);
            return;
        }
    }
    for (const BitControl& b : kConfigBits) {
        if (b.id == id) {
            SendBit(box::kZuvoConfig, mirrors_.zuvoConfig, b.bit, id);
            return;
        }
    }
    for (const BitControl& b : kRttyBits) {
        if (b.id == id) {
            // The RTTY mirror alone follows the check box at once, then goes out whole.
            mirrors_.rttyConfig =
                model_.Checked(id) ? (mirrors_.rttyConfig | b.bit) : (mirrors_.rttyConfig & ~b.bit);
            link_.SendBoxCommand(box::kRttyConfig, mirrors_.rttyConfig);
            return;
        }
    }
    switch (id) {
        case kSpeed:
            sendList(box::kKeyerSpeed, sel + 2);
            break;
        case kKeyerType:
            sendList(box::kKeyerConfig, (mirrors_.keyerConfig & ~7) | sel);
            break;
        case kAutospace:
            SendBit(box::kKeyerConfig2, mirrors_.keyerConfig2, 0x01, id);
            break;
        case kWeight:
            sendList(box::kKeyerWeight, sel);
            break;
        case kComp1:
        case kComp2:
        case kComp3:
        case kComp4:
            sendList(box::kComp1 + (id - kComp1), ((sel - 63) & 0x7F) | 0x80);
            break;
        case kPotMin:
            sendList(box::kKeyerPotMin, (sel + 2) | 0x80);
            break;
        case kPotMax:
            sendList(box::kKeyerPotMax, (sel + 2) | 0x80);
            break;
        case kPttPre:
            sendList(box::kPttPreSend, sel);
            break;
        case kPttPost:
            sendList(box::kPttPostSend, sel);
            break;
        case kRxRadio1:
            link_.SendBoxCommand(box::kZuvoState, mirrors_.zuvoState & 0xFD);
            break;
        case kRxRadio2:
            link_.SendBoxCommand(box::kZuvoState, mirrors_.zuvoState | 0x02);
            break;
        case kStereo:
            SendBit(box::kZuvoState, mirrors_.zuvoState, box::kStateStereo, id);
            break;
        case kTxRadio1:
            link_.SendBoxCommand(box::kZuvoState, mirrors_.zuvoState & 0xFE);
            break;
        case kTxRadio2:
            link_.SendBoxCommand(box::kZuvoState, mirrors_.zuvoState | 0x01);
            break;
        case kMap1:
            sendList(box::kZuvoMap1, (sel & 0x0F) | 0x30);
            break;
        case kMap2:
            sendList(box::kZuvoMap2, (sel & 0x0F) | 0x30);
            break;
        case kAux1:
        case kAux2:
        case kAux3:
        case kAux4:
            sendList(box::kAux1 + (id - kAux1),
                     (sel & 0x0F) | (model_.Checked(kUpdateAux) ? 0x10 : 0));
            break;
        case kConfiguration:
            sendList(box::kZuvoConfig, (mirrors_.zuvoConfig & ~7) | sel);
            break;
        case kBlendLevel:
            sendList(box::kZuvoBlend, sel);
            break;
        case kVerbose:
            RefreshControls();
            break;
        case kSend:
            console_.OnSendButton();
            break;
        case kTune:
            console_.OnTuneButton();
            break;
        case kPtt:
            console_.OnPttButton();
            break;
        case kConnect:
            OnConnectButton();
            break;
        case kUpdate:
            updater_.OnUpdateButton();
            break;
        case kOverwrite:
            tests_.OnOverwriteButton();
            break;
        case kMultiplex:
            tests_.OnMultiplexButton();
            break;
        case kReset:
            OnResetButton();
            break;
        case kAbout:
            OnAbout();
            break;
        default:
            break;  // the Text line, "Update Aux outputs": nothing of their own
    }
}

void UtilityDlg::OnKey(Key key) {
    if (key == Key::kEnter) {
        console_.OnEnter();
    } else {
        console_.OnEscape();  // Escape never closes the window
    }
}

void UtilityDlg::OnConnectButton() {
    if (link_.IsConnectedFlag()) {
        link_.DisconnectBox();
        log_.LogMessage("Disconnected");
        return;
    }
    if (!link_.FindBox()) {
        log_.LogMessage("Not connected");
        return;
    }
    reportsSinceConnect_ = 0;
    log_.LogMessage("Connected");
    model_.SetText(kConnect, "Disconnect");
    if (link_.UpdateMode()) {
        log_.LogMessage("Zuvo Box is in firmware update mode");
        return;
    }
    console_.OnConnectQuery();
    for (uint8_t code : box::kUtilityConnectQuery) {
        if (!link_.SendBoxCommand(box::kQuery, code)) {
            return;  // the failed write has disconnected
        }
    }
}

void UtilityDlg::OnResetButton() {
    if (dialogs_.AskYesNo("This will reset the Zuvo Box to the default values.\nThe Zuvo Box "
                          "will disconnect during the reset\nAre you sure you want to do thi?")) {
        link_.SendBoxCommand(box::kResetDefaults, box::kResetDefaultsValue);
    }
}

void UtilityDlg::OnAbout() {
    dialogs_.ShowMessage("About Zuvo Box utility\n" + utilityVersionLine_ + "\n" +
                         firmwareVersionLine_);
}

void UtilityDlg::Dispatch(const platform::Message& message) {
    switch (message.id) {
        case platform::kMsgBoxReport:
            if (message.wParam != 0) {
                link_.OnReadError(message.wParam, message.source);
                return;
            }
            // A report still queued from a connection that has ended is not the box's answer
            // to anything the current connection asked.
            if (!link_.IsConnectedFlag() || message.source != link_.Generation()) {
                return;
            }
            if (link_.UpdateMode()) {
                updater_.OnBootReport(box::WordCode(message.lParam), box::WordValue(message.lParam),
                                      link_.LastBootReport());
                return;
            }
            OnReport(box::WordCode(message.lParam), box::WordValue(message.lParam));
            return;
        case platform::kMsgDeviceChange:
            link_.OnDeviceChange(message.wParam, message.text);
            return;
        default:
            return;
    }
}

void UtilityDlg::OnReport(uint8_t code, uint8_t value) {
    ++reportsSinceConnect_;
    const char* received = code < 0x80 ? ReceivedText(code) : nullptr;
    if (received == nullptr) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "Unknown command 0x%.2x, value 0x%.2x", code, value);
        log_.LogMessage(buf);
        return;
    }
    if (model_.Checked(kVerbose) && code != box::kNotRecognized) {
        log_.LogByte(received, value);
    }
    switch (code) {
        case box::kQuery:
            mirrors_.version = value;
            break;
        case box::kPatchLevel:
            mirrors_.patch = value;
            break;
        case box::kSpecialVersion: {
            mirrors_.special = value;
            const std::string numbers =
                box::VersionNumbers(mirrors_.version, mirrors_.patch, mirrors_.special);
            log_.LogMessage("Zuvo Box version " + numbers);
            firmwareVersionLine_ = "Firmware Version " + numbers;
            break;
        }
        case box::kKeyerStatus:
            mirrors_.keyerStatus = value;
            console_.OnKeyerStatus(value);
            break;
        case box::kKeyerSpeed:
            model_.SetSelection(kSpeed, value - 2);
            RefreshControls();
            break;
        case box::kKeyerConfig:
            mirrors_.keyerConfig = value;
            model_.SetSelection(kKeyerType, value & 7);
            for (const BitControl& b : kKeyerBits) {
                CheckBit(b.id, value, b.bit);
            }
            break;
        case box::kKeyerChar:
            console_.OnKeyerChar(value);
            break;
        case box::kKeyerOverwrite:
            tests_.OnKeyerOverwrite(value);
            break;
        case box::kKeyerAbort:
            console_.OnKeyerAbort();
            break;
        case box::kKeyerControl:
            console_.OnKeyerControl(value);
            break;
        case box::kKeyerEvent:
            console_.OnKeyerEvent(value);
            break;
        case box::kPttPreSend:
            model_.SetSelection(kPttPre, value);
            RefreshControls();
            break;
        case box::kPttPostSend:
            model_.SetSelection(kPttPost, value);
            RefreshControls();
            break;
        case box::kKeyerWeight:
            model_.SetSelection(kWeight, value);
            RefreshControls();
            break;
        case box::kKeyerPotSpeed:
            link_.SendBoxCommand(box::kKeyerSpeed, value);
            break;
        case box::kKeyerSendingChar:
            console_.OnSendingChar();
            break;
        case box::kKeyerPotMin:
            model_.SetSelection(kPotMin, value - 2);
            RefreshControls();
            break;
        case box::kKeyerPotMax:
            model_.SetSelection(kPotMax, value - 2);
            RefreshControls();
            break;
        case box::kAux1:
        case box::kAux2:
        case box::kAux3:
        case box::kAux4:
            model_.SetSelection(kAux1 + (code - box::kAux1), value);
            break;
        case box::kZuvoState:
            mirrors_.zuvoState = value;
            if (!tests_.OnZuvoState(value)) {
                ShowZuvoState(value);
            }
            break;
        case box::kZuvoConfig:
            mirrors_.zuvoConfig = value;
            model_.SetSelection(kConfiguration, value & 7);
            for (const BitControl& b : kConfigBits) {
                CheckBit(b.id, value, b.bit);
            }
            break;
        case box::kZuvoSwitches:
            mirrors_.zuvoSwitches = value;
            ShowStatusTexts();
            break;
        case box::kZuvoBlend:
            model_.SetSelection(kBlendLevel, value);
            RefreshControls();
            break;
        case box::kZuvoMap1:
            model_.SetSelection(kMap1, value & 0x0F);
            break;
        case box::kZuvoMap2:
            model_.SetSelection(kMap2, value & 0x0F);
            break;
        case box::kRttyConfig:
            for (const BitControl& b : kRttyBits) {
                CheckBit(b.id, value, b.bit);
            }
            mirrors_.rttyConfig = value;
            break;
        case box::kComp1:
        case box::kComp2:
        case box::kComp3:
        case box::kComp4:
            model_.SetSelection(kComp1 + (code - box::kComp1), box::CompFromByte(value) + 63);
            RefreshControls();
            break;
        case box::kKeyerConfig2:
            mirrors_.keyerConfig2 = value;
            CheckBit(kAutospace, value, 0x01);
            break;
        case box::kNotRecognized:
            if (value != box::kNotRecognizedNothing) {
                log_.LogMessage("Zuvo Box does not recognize command " + Hex2(value));
            }
            break;
        default:
            break;  // Debug 1..4, Keyer Speed Delta: the verbose line only
    }
}

void UtilityDlg::ShowZuvoState(uint8_t value) {
    model_.SetChecked(kRxRadio2, (value & box::kStateRxRadio2) != 0);
    model_.SetChecked(kRxRadio1, (value & box::kStateRxRadio2) == 0);
    model_.SetChecked(kStereo, (value & box::kStateStereo) != 0);
    model_.SetChecked(kTxRadio2, (value & box::kStateTxRadio2) != 0);
    model_.SetChecked(kTxRadio1, (value & box::kStateTxRadio2) == 0);
    model_.SetText(kPtt, (value & box::kStatePtt) != 0 ? "Stop PTT" : "PTT");
    ShowStatusTexts();
}

void UtilityDlg::ShowStatusTexts() {
    const uint8_t sw = mirrors_.zuvoSwitches;
    const bool tx2 = (mirrors_.zuvoState & box::kStateTxRadio2) != 0;
    std::string rx;
    if ((sw & box::kSwitchRx1) != 0) {
        rx = "RX1";
    } else if ((sw & box::kSwitchRx2) != 0) {
        rx = "RX2";
    }
    std::string tx;
    if ((sw & box::kSwitchTx1) != 0) {
        tx = tx2 ? "TX1 (Inhibit)" : "TX1";
    } else if ((sw & box::kSwitchTx2) != 0) {
        tx = tx2 ? "TX2" : "TX2 (Inhibit)";
    }
    model_.SetText(kStatusRx, rx);
    model_.SetText(kStatusTx, tx);
    RefreshControls();
}

}  // namespace zuvo
