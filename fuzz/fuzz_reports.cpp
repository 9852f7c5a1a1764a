// Feeds arbitrary report words (and read errors) to the interface program's report handler
// with every verbose category on; nothing may crash, read out of bounds or hang.

#include <cstddef>
#include <cstdint>

#include "link/box_link.h"
#include "link/report_handler.h"
#include "platform/fake/fake_hid.h"
#include "ui/event_log.h"
#include "ui/main_window.h"

namespace {

struct Harness {
    Harness() {
        zuvo::platform::fake::FakeHidSystem::Device box;
        box.attributes.vendorId = 0x16C0;
        box.attributes.productId = 0x065E;
        hid.AddDevice("/dev/hidraw0", box);
        log.SetKeepLines(false);
        for (int id : {1025, 1038, 1037, 1065}) {
            window.Model().SetChecked(id, true);
        }
    }
    zuvo::platform::fake::FakeHidSystem hid;
    zuvo::platform::MessageQueue queue;
    zuvo::EventLog log;
    zuvo::BoxState state;
    zuvo::MainWindow window{state};
    zuvo::ILinkEvents events;
    zuvo::IKeyerReports keyer;
    zuvo::ISwitchingReports switching;
    zuvo::IRttyReports rtty;
    zuvo::BoxLink link{hid, queue, log, state, events};
    zuvo::ReportHandler handler{state, link, log, window, {keyer, switching, rtty, window}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness h;
    if (size > 0 && (data[0] & 1) != 0) {
        h.link.FindBox();
    }
    for (size_t i = 1; i + 2 < size; i += 3) {
        const uint16_t word = static_cast<uint16_t>(data[i] << 8 | data[i + 1]);
        if (data[i + 2] == 0xEE) {
            h.handler.OnBoxReportMessage(word, 0xFFFF, 1);  // a read error
        } else {
            h.handler.HandleReport(word);
        }
        zuvo::platform::Message m;
        while (h.queue.TryGet(m)) {
        }
    }
    h.link.Shutdown();
    return 0;
}
