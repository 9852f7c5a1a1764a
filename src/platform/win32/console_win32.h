#pragma once

#include "platform/message_queue.h"

namespace zuvo::platform::win32 {

// Standard output and error for a program linked as a window program: handles the program
// was given (a file or a pipe) are kept; otherwise, when it was started from a console, it
// attaches to that console and writes there. False when output goes nowhere (started from
// Explorer, say).
bool AttachStandardOutput();

// Ctrl+C, Ctrl+Break and closing the console window become the close command (kMsgClose
// posted to the main thread), so a program run from a console closes the way its window
// would. When the console window is closed the system ends the process as soon as the
// handler returns, so the handler waits (at most 4 s) until Closed() says the close has
// run. One at a time; the destructor removes the handler.
class ConsoleCloseHandler {
  public:
    explicit ConsoleCloseHandler(IMessagePoster& poster);
    ~ConsoleCloseHandler();
    ConsoleCloseHandler(const ConsoleCloseHandler&) = delete;
    ConsoleCloseHandler& operator=(const ConsoleCloseHandler&) = delete;

    // The program's close has run (the last report has left).
    void Closed();
};

}  // namespace zuvo::platform::win32
