#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/message_queue.h"
#include "utility/utility_dlg.h"

namespace zuvo {

// Unattended work with the utility: the same window model and log, driven by a script
// instead of an operator, with a time-out on every wait for the box so a run never hangs.
class UtilityRunner {
  public:
    enum ExitCode : int {
        kOk = 0,
        kNoBox = 3,         // no box or boot loader found
        kTimeOut = 4,       // the box did not answer or return in time
        kBadFile = 5,       // the HEX file was rejected; nothing was sent
        kBoxLost = 6,       // a write failed or the box went away
        kVerifyFailed = 7,  // the read-back differed; the box stays in its boot loader
        kJumper = 8,        // programmed; the box waits for its jumper to be removed
        kInterrupted = 9,   // the close command (a signal) arrived
    };

    using Printer = std::function<void(const std::string& line)>;

    // How long a device found in the list may go without its arrival notice before it is
    // taken anyway (a system without device notifications).
    static constexpr std::chrono::milliseconds kArrivalGrace{2000};

    // errors: where the runner says what failed (the log lines go through the dialog's log).
    UtilityRunner(UtilityDlg& dlg, platform::MessageQueue& queue, platform::IHidSystem& hid,
                  Printer errors, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Connects, restarts the box into its boot loader, waits for it, updates the firmware,
    // waits for the restarted box and reads its new version. The file the update asks for
    // is `path` (the dialog host must hand it out).
    int Update(const std::string& path);
    // Connects and prints every setting the box reports.
    int Show(const Printer& out);

    // Drains posted messages into the dialog until pred holds; false on time-out or close.
    bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

  private:
    // Dispatches what is already queued: a removal that happened before a new connection
    // must be handled before it, not taken for the end of it.
    void Drain();
    // Remembers the path of a device-arrival message before it is dispatched.
    void NoteArrival(const platform::Message& message);
    void Connect();
    int Fail(int code, const std::string& text);
    // A wait that ended without what it waited for: interrupted, or a time-out.
    int Stopped(const std::string& waitingFor, const char* boxState = "");
    static constexpr const char* kInBootLoader =
        "; the box stays in its boot loader until it is updated";
    bool WaitForProduct(uint16_t productId);
    bool ConnectAndReadVersion();

    UtilityDlg& dlg_;
    platform::MessageQueue& queue_;
    platform::IHidSystem& hid_;
    Printer errors_;
    std::chrono::milliseconds timeout_;
    bool interrupted_ = false;
    std::vector<std::string> arrivals_;  // arrival notices seen while waiting for a device
};

}  // namespace zuvo
