#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace zuvo {

// How an RTTY program reaches the interface program: the shared block it reads and the
// message it sends. The system implementation lives in the platform layer.
class IRttyTransport {
  public:
    virtual ~IRttyTransport() = default;
    // Finds the running interface program through its shared block. False, with a sentence
    // for the user in error, when no interface program is running.
    virtual bool Open(std::string& error) = 0;
    // Sends one RTTY message (wParam; the second parameter is always 0). False with error set
    // when it could not be delivered.
    virtual bool Send(uint32_t wParam, std::string& error) = 0;
    // Station 1..4's character counter as the interface program last wrote it.
    virtual uint32_t ReadCounter(int station) const = 0;
    // Whether the interface program found by Open still runs.
    virtual bool ProgramRunning() const = 0;
    // Waits briefly before the counters are read again.
    virtual void Pause() = 0;
};

// What an RTTY program does with the bridge: per-station settings, PTT and characters, and
// the flow control on the station's counter. Each call returns false with Error() set when
// the message could not be sent or an argument is out of range.
class RttyClient {
  public:
    explicit RttyClient(IRttyTransport& transport) : transport_(transport) {}

    bool Connect();
    bool Hello(int station);
    bool SetSpeed(int station, unsigned baud);     // 22, 45, 50, 56, 75, 100, 110, 150, 200, 300
    bool SetLength(int station, unsigned bits);    // 5..8
    bool SetStopBits(int station, unsigned code);  // 0 = 1, 1 = 1.5, 2 = 2 stop bits
    bool SetPtt(int station, bool on);
    // Sends one character at once; the caller keeps at most one outstanding (see SendText).
    bool SendChar(int station, uint8_t character);
    // Sends text one character at a time: each goes only when the counter shows that the one
    // before it has been taken, since the bridge holds one character per station and drops
    // a second. Returns when the counter shows the last one taken.
    bool SendText(int station, std::string_view text, std::chrono::milliseconds perCharTimeout);
    // Waits until the station's counter has reached target (counters wrap at 2^32).
    bool WaitForCounter(int station, uint32_t target, std::chrono::milliseconds timeout);
    // Sends a message exactly as given (for tests and tools).
    bool SendRaw(uint32_t wParam);
    // A flag (set from a signal handler, say) that ends any wait with "interrupted", so the
    // caller can still release PTT.
    void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

    uint32_t Counter(int station) const { return transport_.ReadCounter(station); }
    const std::string& Error() const { return error_; }

  private:
    bool Send(uint8_t type, int station, uint32_t value);
    bool CheckStation(int station);

    IRttyTransport& transport_;
    bool connected_ = false;
    const std::atomic<bool>* stop_ = nullptr;
    std::string error_;
};

}  // namespace zuvo
