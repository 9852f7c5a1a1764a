#include "ui/main_controls.h"

#include "core/host_port.h"
#include "link/box_protocol.h"
#include "switching/manual_switching.h"
#include "ui/main_ids.h"

namespace zuvo {

using namespace ids;

namespace {

constexpr int kModeButtons[] = {kModeIambic, kModeUltimatic, kModeDit, kModeDah, kModeStraight};
constexpr int kPhoneButtons[] = {kPhonesNormal, kPhonesSymmetric, kPhonesSpatial};
constexpr int kManualSwitching[] = {kTx1, kTx2, kRx1, kRx2, kStereo};

int IndexIn(const int* first, const int* last, int id) {
    for (const int* p = first; p != last; ++p) {
        if (*p == id) {
            return static_cast<int>(p - first);
        }
    }
    return -1;
}

uint8_t WithBit(uint8_t value, uint8_t bit, bool on) {
    return static_cast<uint8_t>(on ? (value | bit) : (value & ~bit));
}

int PortCheck(HostPortKind port) {
    return port == HostPortKind::kKeyer ? kKeyerPortCheck : kZuvoPortCheck;
}
int PortList(HostPortKind port) {
    return port == HostPortKind::kKeyer ? kKeyerPortList : kZuvoPortList;
}
const char* PortSection(HostPortKind port) {
    return port == HostPortKind::kKeyer ? "Keyer" : "Zuvo";
}
HostPortKind Other(HostPortKind port) {
    return port == HostPortKind::kKeyer ? HostPortKind::kSwitching : HostPortKind::kKeyer;
}

}  // namespace

MainControls::MainControls(Deps deps) : d_(std::move(deps)) {}

void MainControls::OnControlChanged(int id) {
    WindowModel& m = d_.model;
    const BoxState& s = d_.state;
    if (const int mode = IndexIn(std::begin(kModeButtons), std::end(kModeButtons), id); mode >= 0) {
        // The group reports each button; only the one now checked asks for a mode.
        if (m.Checked(id)) {
            d_.sender.SendBoxCommand(box::kKeyerConfig, (s.keyerConfig & ~0x07) | mode);
        }
        return;
    }
    if (const int phones = IndexIn(std::begin(kPhoneButtons), std::end(kPhoneButtons), id);
        phones >= 0) {
        if (m.Checked(id)) {
            d_.actions.SetHeadphoneMode(phones);
        }
        return;
    }
    const int selection = m.Has(id) ? m.Selection(id) : -1;
    switch (id) {
        case kWeightList:
            if (selection >= 0) {
                d_.sender.SendBoxCommand(box::kKeyerWeight, selection);
            }
            return;
        case kPttPreList:
            if (selection >= 0) {
                d_.sender.SendBoxCommand(box::kPttPreSend, selection);
            }
            return;
        case kPttPostList:
            if (selection >= 0) {
                d_.sender.SendBoxCommand(box::kPttPostSend, selection);
            }
            return;
        case kPotMinList:
            if (selection >= 0) {
                d_.sender.SendBoxCommand(box::kKeyerPotMin, (selection + 2) & 0x7F);
            }
            return;
        case kPotMaxList:
            if (selection >= 0) {
                d_.sender.SendBoxCommand(box::kKeyerPotMax, (selection + 2) & 0x7F);
            }
            return;
        case kLoggerControls:
            OnLoggerControls();
            return;
        case kSmartEditing:
            Persist("Keyer", "SmartEditing", id);
            return;
        case kATiming:
            SendKeyerConfigBit(id, 0x20);
            return;
        case kTightTiming:
            SendKeyerConfigBit(id, 0x40);
            return;
        case kLongWordSpace:
            SendKeyerConfigBit(id, 0x10);
            return;
        case kKeyerPtt:
            SendKeyerConfigBit(id, 0x80);
            return;
        case kReverse:
            SendKeyerConfigBit(id, 0x08);
            return;
        case kAutospace:
            d_.sender.SendBoxCommand(box::kKeyerConfig2,
                                     WithBit(s.keyerConfig2, 0x01, m.Checked(id)));
            return;
        case kBlend:
            d_.actions.SetBlendOn(m.Checked(id));
            return;
        case kMicRelays:
            d_.actions.SetMicRelays(m.Checked(id));
            return;
        case kBlendList:
            if (selection >= 0) {
                d_.actions.SetBlendLevel(selection);
            }
            return;
        case kMap1List:
        case kMap2List:
            if (selection >= 0) {
                d_.actions.SetMapIndex(id == kMap1List ? 1 : 2, selection);
            }
            return;
        case kLatch:
            d_.actions.SetLatchHeadphones(m.Checked(id));
            return;
        case kSplitStereo:
            d_.actions.SetSplitStereo(m.Checked(id));
            return;
        case kKeyerPortCheck:
            OnPortCheck(HostPortKind::kKeyer);
            return;
        case kZuvoPortCheck:
            OnPortCheck(HostPortKind::kSwitching);
            return;
        case kKeyerPortList:
            OnPortList(HostPortKind::kKeyer);
            return;
        case kZuvoPortList:
            OnPortList(HostPortKind::kSwitching);
            return;
        case kPipes:
            OnPipes();
            return;
        case kTx1:
        case kTx2:
            if (m.Checked(id)) {
                // Radio pair: the front end reports the one clicked.
                m.SetChecked(id == kTx1 ? kTx2 : kTx1, false);
                PostTxLine();
            }
            return;
        case kRx1:
        case kRx2:
            if (m.Checked(id)) {
                m.SetChecked(id == kRx1 ? kRx2 : kRx1, false);
                PostRxLine();
            }
            return;
        case kStereo:
            PostRxLine();
            return;
        case kVerboseOutput:
            Persist("Box", "Verbose", id);
            return;
        case kVerboseKeyer:
            Persist("Keyer", "Verbose", id);
            return;
        case kVerboseZuvo:
            Persist("Zuvo", "Verbose", id);
            return;
        case kVerboseRtty:
            Persist("RTTY", "Verbose", id);
            return;
        default:
            return;  // status texts, labels and the event log take no input
    }
}

void MainControls::SendKeyerConfigBit(int id, uint8_t bit) {
    // The window's own copy is left alone: the box's echo sets it.
    d_.sender.SendBoxCommand(box::kKeyerConfig,
                             WithBit(d_.state.keyerConfig, bit, d_.model.Checked(id)));
}

void MainControls::Persist(const char* section, const char* key, int id) {
    d_.settings.WriteBool(section, key, d_.model.Checked(id));
}

void MainControls::OnLoggerControls() {
    if (d_.sender.IsConnectedFlag() && d_.enableBoxControls) {
        d_.enableBoxControls();
    }
    Persist("Keyer", "LoggerControls", kLoggerControls);
    if (d_.model.Checked(kLoggerControls)) {
        d_.actions.ApplyKeyerConfig();
    }
}

// --- port rules ------------------------------------------------------------------------

void MainControls::ShowComDevices() {
    std::vector<std::string> devices;
    const size_t count = d_.model.Get(kKeyerPortList).items.size();
    devices.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        devices.push_back(HostPort::ComDevicePath(d_.settings, d_.ports, static_cast<int>(i) + 1));
    }
    d_.model.SetItemNotes(kZuvoPortList, devices);
    d_.model.SetItemNotes(kKeyerPortList, std::move(devices));
}

void MainControls::OnPortCheck(HostPortKind port) {
    WindowModel& m = d_.model;
    const int check = PortCheck(port);
    if (m.Checked(check)) {
        ShowComDevices();
        m.SetEnabled(kPipes, false);
        d_.actions.OpenHostPort(port);
    } else {
        if (!m.Checked(PortCheck(Other(port)))) {
            m.SetEnabled(kPipes, true);
        }
        d_.actions.CloseHostPort(port);
    }
    Persist(PortSection(port), "UsePort", check);
    UpdateManualSwitchingVisibility();
}

void MainControls::OnPortList(HostPortKind port) {
    ShowComDevices();
    if (d_.actions.IsHostPortOpen(port)) {
        d_.actions.CloseHostPort(port);
        d_.actions.OpenHostPort(port);
    }
    d_.settings.WriteInt(PortSection(port), "Port", d_.model.Selection(PortList(port)));
    UpdateManualSwitchingVisibility();
}

void MainControls::OnPipes() {
    WindowModel& m = d_.model;
    const bool pipes = m.Checked(kPipes);
    for (int id : {kZuvoPortCheck, kKeyerPortCheck, kKeyerPortList, kZuvoPortList}) {
        m.SetEnabled(id, !pipes);
    }
    d_.actions.SetPipeMode(pipes);
    if (pipes) {
        // A COM port still open from the check boxes gives way to its pipe.
        for (HostPortKind port : {HostPortKind::kKeyer, HostPortKind::kSwitching}) {
            if (d_.actions.IsHostPortOpen(port)) {
                d_.actions.CloseHostPort(port);
            }
        }
        d_.actions.OpenHostPort(HostPortKind::kKeyer);
        d_.actions.OpenHostPort(HostPortKind::kSwitching);
    } else {
        d_.actions.CloseHostPort(HostPortKind::kKeyer);
        d_.actions.CloseHostPort(HostPortKind::kSwitching);
    }
    Persist("Zuvo", "Auto", kPipes);
    UpdateManualSwitchingVisibility();
}

void MainControls::OpenPortsAtStartup() {
    WindowModel& m = d_.model;
    const bool pipes = m.Checked(kPipes);
    if (pipes) {
        for (int id : {kZuvoPortCheck, kKeyerPortCheck, kKeyerPortList, kZuvoPortList}) {
            m.SetEnabled(id, false);
        }
        d_.actions.SetPipeMode(true);
        d_.actions.OpenHostPort(HostPortKind::kSwitching);
    } else {
        if (m.Checked(kZuvoPortCheck) || m.Checked(kKeyerPortCheck)) {
            m.SetEnabled(kPipes, false);
        }
        d_.actions.SetPipeMode(false);
        if (m.Checked(kZuvoPortCheck)) {
            d_.actions.OpenHostPort(HostPortKind::kSwitching);
        }
    }
    if (pipes || m.Checked(kKeyerPortCheck)) {
        d_.actions.OpenHostPort(HostPortKind::kKeyer);
    }
    UpdateManualSwitchingVisibility();
}

void MainControls::OnPortOpenFailed(HostPortKind port, bool pipeMode) {
    WindowModel& m = d_.model;
    if (pipeMode) {
        m.SetChecked(kPipes, false);
    } else {
        m.SetChecked(PortCheck(port), false);
        if (!m.Checked(kKeyerPortCheck) && !m.Checked(kZuvoPortCheck)) {
            m.SetEnabled(kPipes, true);
        }
    }
}

// --- manual switching --------------------------------------------------------------------

void MainControls::UpdateManualSwitchingVisibility() {
    const bool show = !d_.actions.IsHostPortOpen(HostPortKind::kSwitching);
    const bool wasShown = d_.model.Visible(kTx1);
    for (int id : kManualSwitching) {
        d_.model.SetVisible(id, show);
    }
    if (show && !wasShown) {
        SyncManualSwitching();
        d_.model.Refresh();
    }
}

void MainControls::PostLine(const std::string& line) {
    PostSwitchingLine(d_.poster, line);
}

void MainControls::PostTxLine() {
    ManualSwitchingControls c;
    c.tx1 = d_.model.Checked(kTx1);
    PostLine(ManualTxLine(c));
}

void MainControls::PostRxLine() {
    ManualSwitchingControls c;
    c.rx1 = d_.model.Checked(kRx1);
    c.stereo = d_.model.Checked(kStereo);
    PostLine(ManualRxLine(c));
}

void MainControls::SyncManualSwitching() {
    if (d_.actions.IsHostPortOpen(HostPortKind::kSwitching)) {
        return;
    }
    WindowModel& m = d_.model;
    const uint8_t s = d_.state.switchingState;
    const uint8_t w = d_.state.switchingSwitches;
    constexpr uint8_t kRxBits = box::kStateRxRadio2 | box::kStateStereo | box::kStateReverse;
    // What the plain RX line for radio rx2 makes of the headphone bits. With "Split Stereo"
    // the switching logic adds stereo while TX and RX differ; comparing against that (and
    // not against "no stereo") keeps the box's echo from asking for the same line again at
    // every report.
    auto rxLineResult = [&](bool rx2) {
        const bool tx2 = (s & box::kStateTxRadio2) != 0;
        uint8_t bits = rx2 ? box::kStateRxRadio2 : 0;
        if (m.Checked(kSplitStereo) && tx2 != rx2) {
            bits |= box::kStateStereo;
        }
        return bits;
    };
    bool postRx = false;
    if ((w & box::kSwitchRx1) != 0) {
        m.SetChecked(kRx1, true);
        m.SetChecked(kRx2, false);
        m.SetChecked(kStereo, false);
        postRx = (s & kRxBits) != rxLineResult(false);
    } else if ((w & box::kSwitchRx2) != 0) {
        m.SetChecked(kRx2, true);
        m.SetChecked(kRx1, false);
        m.SetChecked(kStereo, false);
        postRx = (s & kRxBits) != rxLineResult(true);
    } else {
        m.SetChecked(kRx1, (s & box::kStateRxRadio2) == 0);
        m.SetChecked(kRx2, (s & box::kStateRxRadio2) != 0);
    }
    if (postRx) {
        PostRxLine();  // before "Stereo" follows the box: the line is the plain RX line
    }
    m.SetChecked(kStereo, (s & (box::kStateStereo | box::kStateReverse)) != 0);
    if ((w & box::kSwitchTx1) != 0) {
        m.SetChecked(kTx1, true);
        m.SetChecked(kTx2, false);
        if ((s & box::kStateTxRadio2) != 0) {
            PostTxLine();
        }
    } else if ((w & box::kSwitchTx2) != 0) {
        m.SetChecked(kTx2, true);
        m.SetChecked(kTx1, false);
        if ((s & box::kStateTxRadio2) == 0) {
            PostTxLine();
        }
    } else {
        m.SetChecked(kTx1, (s & box::kStateTxRadio2) == 0);
        m.SetChecked(kTx2, (s & box::kStateTxRadio2) != 0);
    }
}

}  // namespace zuvo
