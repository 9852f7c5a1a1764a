#pragma once

#include <thread>

#include "platform/message_queue.h"

namespace zuvo::platform::posix {

// Turns SIGINT, SIGTERM and SIGHUP into the window's close command (kMsgClose posted to the
// main thread), so a headless run closes exactly as the window's close box would, also when
// its terminal is closed. SIGPIPE is ignored: output nobody reads any more fails quietly
// instead of ending the program.
//
// Construct it in main() before any other thread starts: it blocks the signals in the
// calling thread, and threads started later inherit the mask, so only its own thread
// (waiting on a signalfd) ever sees them. The destructor stops and joins that thread.
class SignalWatcher {
  public:
    explicit SignalWatcher(IMessagePoster& poster);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    bool Ok() const { return signalFd_ >= 0; }

  private:
    void Run(IMessagePoster* poster);

    int signalFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};

}  // namespace zuvo::platform::posix
