#pragma once

#include <cstdint>

#include "core/event_log.h"
#include "link/box_link.h"
#include "link/box_state.h"
#include "link/report_sinks.h"

namespace zuvo {

// The interface program's handling of every inbound box report: decode, log (verbose),
// store in the box state, then tell the piece that reacts, in a fixed order.
class ReportHandler {
  public:
    struct Sinks {
        IKeyerReports& keyer;
        ISwitchingReports& switching;
        IRttyReports& rtty;
        IBoxView& view;
    };

    ReportHandler(BoxState& state, BoxLink& link, IEventLog& log, const IVerbose& verbose,
                  Sinks sinks);

    // A box report message. wParam not 0 is a read error of connection `source`.
    void OnBoxReportMessage(uint32_t wParam, uint32_t lParam, uint32_t source);

    // One report word (code * 256 + value).
    void HandleReport(uint16_t word);

  private:
    void Verbose(uint8_t code, uint8_t value);
    void CountedSwitchingReport();

    BoxState& state_;
    BoxLink& link_;
    IEventLog& log_;
    const IVerbose& verbose_;
    Sinks sinks_;
};

}  // namespace zuvo
