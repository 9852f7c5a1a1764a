#pragma once

#include <functional>
#include <string>
#include <thread>

namespace zuvo::platform::posix {

// A named pipe (FIFO) through which a shell or a test drives the simulated box, one text line
// at a time ("echo 'pot 25' > PATH").
//
// Start(path, handler): creates the FIFO with mode 0600. A FIFO left at the path by an
//   earlier run is replaced; anything else there (a file, a symlink) is refused. The FIFO is
//   opened O_RDWR, so writers may come and go without the reader ever seeing end of file.
//   A reader thread polls the FIFO and a stop eventfd and calls handler with each line,
//   without its "\n" (a trailing "\r" is also dropped); a line longer than kMaxLine
//   characters is dropped whole. The handler runs on that thread.
// Stop / destructor: signals the eventfd, joins the thread, closes and unlinks the FIFO.
//   The handler is not called any more once Stop returns.
class SimControlFifo {
  public:
    using LineHandler = std::function<void(const std::string& line)>;
    static constexpr size_t kMaxLine = 1024;

    SimControlFifo() = default;
    ~SimControlFifo();
    SimControlFifo(const SimControlFifo&) = delete;
    SimControlFifo& operator=(const SimControlFifo&) = delete;

    // False with a readable reason in error (the failing step and the system's text).
    bool Start(const std::string& path, LineHandler handler, std::string& error);
    void Stop();
    bool Running() const { return thread_.joinable(); }

  private:
    void ReadLoop();

    std::string path_;
    LineHandler handler_;
    int fd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};

}  // namespace zuvo::platform::posix
