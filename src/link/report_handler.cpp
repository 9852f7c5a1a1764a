#include "link/report_handler.h"

#include <string>

#include "link/box_protocol.h"

namespace zuvo {

using namespace box;

ReportHandler::ReportHandler(BoxState& state, BoxLink& link, IEventLog& log,
                             const IVerbose& verbose, Sinks sinks)
    : state_(state), link_(link), log_(log), verbose_(verbose), sinks_(sinks) {}

void ReportHandler::OnBoxReportMessage(uint32_t wParam, uint32_t lParam, uint32_t source) {
    if (wParam != 0) {
        link_.OnReadError(wParam, source);
        return;
    }
    HandleReport(static_cast<uint16_t>(lParam));
}

void ReportHandler::Verbose(uint8_t code, uint8_t value) {
    if (verbose_.IsVerbose(zuvo::Verbose::kBox)) {
        log_.LogByte(std::string("* Received ") + CommandName(code), value);
    }
}

void ReportHandler::CountedSwitchingReport() {
    sinks_.switching.CountBoxReply();
}

void ReportHandler::HandleReport(uint16_t word) {
    const uint8_t code = WordCode(word);
    const uint8_t v = WordValue(word);
    switch (code) {
        case kQuery:
            Verbose(code, v);
            state_.versionByte = v;
            break;
        case kPatchLevel:
            Verbose(code, v);
            state_.patchLevel = v;
            break;
        case kSpecialVersion: {
            Verbose(code, v);
            state_.specialVersion = v;
            const std::string numbers = VersionNumbers(state_.versionByte, state_.patchLevel, v);
            log_.LogMessage("Connected to Zuvo Box version " + numbers);
            state_.firmwareVersionText = "Firmware Version " + numbers;
            break;
        }
        case kDebug1:
        case kDebug2:
        case kDebug3:
        case kDebug4:
        case kKeyerChar:
        case kKeyerOverwrite:
        case kRttySpeedBits:
        case kRttyCharacter:
            Verbose(code, v);
            break;
        case kKeyerStatus:
            Verbose(code, v);
            state_.keyerStatus = v;
            state_.initialQuery = false;
            break;
        case kKeyerSpeed:
            Verbose(code, v);
            state_.keyerSpeed = v;
            sinks_.view.ShowSpeed();
            break;
        case kKeyerConfig:
            Verbose(code, v);
            state_.keyerConfig = v;
            sinks_.view.ShowKeyerConfig(v);
            sinks_.view.Refresh();
            break;
        case kKeyerAbort:
            Verbose(code, v);
            state_.tune = false;
            sinks_.view.ShowTune(false);
            sinks_.keyer.OnBoxKeyerAbort(v);
            state_.speedOffset = 0;
            sinks_.view.ShowSpeed();
            break;
        case kKeyerControl:
            Verbose(code, v);
            state_.keyerControl = v;
            state_.tune = (v & kControlBitTuning) != 0;
            sinks_.view.ShowTune(state_.tune);
            sinks_.keyer.OnBoxKeyerControl();
            sinks_.view.ShowSpeed();  // the pot's speed or the box's own
            sinks_.view.Refresh();
            break;
        case kKeyerEvent: {
            Verbose(code, v);
            const bool verbose = verbose_.IsVerbose(zuvo::Verbose::kBox);
            switch (v) {
                case kEventNone:
                    break;
                case kEventEndOfCharacter:
                    if (verbose) {
                        log_.LogMessage("*    Event: End of Character");
                    }
                    break;
                case kEventIdle:
                    if (verbose) {
                        log_.LogMessage("*    Event: Idle");
                    }
                    state_.speedOffset = 0;
                    sinks_.view.ShowSpeed();
                    break;
                case kEventClear:
                    if (verbose) {
                        log_.LogMessage("*    Event: Clear");
                    }
                    break;
                case kEventPaddlePressed:
                    if (verbose) {
                        log_.LogMessage("*    Event: Paddle Pressed");
                    }
                    state_.tune = false;
                    sinks_.view.ShowTune(false);
                    state_.speedOffset = 0;
                    sinks_.view.ShowSpeed();
                    break;
                default:
                    log_.LogMessage("Unknown event " + Hex2(v));
                    break;
            }
            sinks_.keyer.OnBoxKeyerEvent(v);
            break;
        }
        case kKeyerSpeedDelta:
            Verbose(code, v);
            state_.speedOffset = static_cast<int8_t>(v);
            sinks_.view.ShowSpeed();
            break;
        case kPttPreSend:
            Verbose(code, v);
            sinks_.view.SelectPttPre(v);
            sinks_.view.Refresh();
            break;
        case kPttPostSend:
            Verbose(code, v);
            sinks_.view.SelectPttPost(v);
            sinks_.view.Refresh();
            break;
        case kKeyerWeight:
            Verbose(code, v);
            sinks_.view.SelectWeight(v);
            sinks_.view.Refresh();
            break;
        case kKeyerPotSpeed:
            Verbose(code, v);
            state_.potSpeed = v;
            state_.potSpeedKnown = true;
            if (!sinks_.keyer.OnBoxPotSpeed(v)) {
                link_.SendBoxCommand(kKeyerSpeed, v);
            }
            // While the box follows its pot no Keyer Speed may come: show the pot itself.
            sinks_.view.ShowSpeed();
            break;
        case kKeyerSendingChar:
            Verbose(code, v);
            if (!state_.initialQuery) {
                sinks_.keyer.OnBoxSendingChar(v);
            }
            break;
        case kKeyerPotMin:
            Verbose(code, v);
            sinks_.view.SelectPotMin(v - 2);
            sinks_.view.Refresh();
            break;
        case kKeyerPotMax:
            Verbose(code, v);
            sinks_.view.SelectPotMax(v - 2);
            sinks_.view.Refresh();
            break;
        case kAux1:
        case kAux2:
        case kAux3:
        case kAux4: {
            Verbose(code, v);
            const int n = code - kAux1 + 1;
            CountedSwitchingReport();
            state_.aux[n - 1] = v;
            sinks_.switching.ProcessDeferredCommands();
            sinks_.view.ShowAux(n, v);
            sinks_.view.Refresh();
            break;
        }
        case kZuvoState:
            Verbose(code, v);
            CountedSwitchingReport();
            state_.switchingState = v;
            sinks_.switching.ProcessDeferredCommands();
            sinks_.switching.OnSwitchingStateReport();
            sinks_.rtty.CheckRttyStation();
            sinks_.view.ShowSwitchingStatus();
            break;
        case kZuvoConfig:
            Verbose(code, v);
            CountedSwitchingReport();
            state_.switchingConfig = v;
            sinks_.switching.ProcessDeferredCommands();
            sinks_.view.ShowZuvoConfig(v);
            sinks_.view.Refresh();
            break;
        case kZuvoSwitches:
            Verbose(code, v);
            state_.switchingSwitches = v;
            sinks_.switching.ReportSwitchingChanges();
            sinks_.view.ShowSwitchingStatus();
            break;
        case kZuvoBlend:
            Verbose(code, v);
            CountedSwitchingReport();
            sinks_.switching.ProcessDeferredCommands();
            sinks_.view.SelectBlend(v);
            sinks_.view.Refresh();
            break;
        case kZuvoMap1:
        case kZuvoMap2: {
            Verbose(code, v);
            const int n = code - kZuvoMap1 + 1;
            CountedSwitchingReport();
            state_.map[n - 1] = v;
            sinks_.switching.ProcessDeferredCommands();
            sinks_.view.SelectMap(n, v & 0x0F);
            break;
        }
        case kRttyConfig:
            Verbose(code, v);
            state_.rttyConfig = v;
            break;
        case kRttyStatus:
            Verbose(code, v);
            sinks_.rtty.OnRttyStatusReport(v);
            break;
        case kKeyerConfig2:
            Verbose(code, v);
            state_.keyerConfig2 = v;
            sinks_.view.ShowKeyerConfig2(v);
            break;
        case kNotRecognized:
            if (v != kNotRecognizedNothing) {
                log_.LogMessage("Zuvo Box does not recognize command " + Hex2(v));
            }
            break;
        default:
            log_.LogMessage("Unknown command " + Hex2(code) + ", value " + Hex2(v));
            break;
    }
}

}  // namespace zuvo
