#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zuvo::platform {

// Modem status bits (the values the Windows build reads).
inline constexpr uint32_t kModemCtsOn = 0x0010;
inline constexpr uint32_t kModemDsrOn = 0x0020;
inline constexpr uint32_t kModemRingOn = 0x0040;
inline constexpr uint32_t kModemRlsdOn = 0x0080;

// Comm event bits, as the modem status message carries them.
inline constexpr uint32_t kCommEventRxChar = 0x0001;
inline constexpr uint32_t kCommEventCts = 0x0008;
inline constexpr uint32_t kCommEventDsr = 0x0010;
// Pipe servers only, with kCommEventCts or kCommEventDsr: the client changed the modem lines
// it drives (RTS, DTR), which only a serial port has; a lost client never carries it.
inline constexpr uint32_t kCommEventClientLines = 0x10000;

enum class PortStatus {
    kReady,  // what was waited for has happened (bytes read, client connected, comm event)
    kWoken,  // Wake() was called
    kError,  // failed; the calling thread's last error is set
};

struct PortReadResult {
    PortStatus status = PortStatus::kError;
    size_t length = 0;    // bytes placed in the buffer for kReady
    uint32_t events = 0;  // pipe servers: comm events of the client's modem lines, or 0
};

// One open host port: a pipe server (on Linux a pty whose slave the logger opens through
// a link in the runtime folder) or a serial device opened exclusively. The port read
// thread blocks in the waiting calls; the main thread writes and finally wakes the thread,
// joins it and destroys the handle.
class IHostPortHandle {
  public:
    virtual ~IHostPortHandle() = default;

    // --- port read thread --------------------------------------------------------------

    // Pipe servers only. Blocks until a client has the port open (kReady), Wake() (kWoken)
    // or a failure (kError). Returns kReady at once while a client is connected. Output
    // written while no client was connected is discarded before kReady, so a new client
    // never reads what was meant for the previous one. Never spins: while no client is
    // there it sleeps until the port is opened, re-checking at most every 200 ms.
    virtual PortStatus WaitForClient() = 0;

    // Blocks until at least one byte has been read into buf, Wake(), or a failure. For a
    // pipe server a lost client is a failure with kErrorBrokenPipe; the next WaitForClient
    // waits for a new one. A pipe server whose client changed its modem lines (a logger
    // run under zuvobox-run) also returns kReady, possibly with no byte, with events =
    // kCommEventClientLines | kCommEventCts and/or kCommEventDsr for the lines that changed;
    // a change the client made before its bytes is returned before them.
    virtual PortReadResult Read(uint8_t* buf, size_t size) = 0;

    // Serial devices only. Blocks until received bytes are waiting (kCommEventRxChar), CTS
    // or DSR changed (kCommEventCts, kCommEventDsr), Wake() or a failure. mask holds the
    // events that happened. Modem lines are sampled every 10 ms while waiting: TIOCMIWAIT
    // cannot be interrupted by Wake(), and a read thread stuck in it would hold up the
    // port's close; devices without modem lines (ENOTTY) are not sampled at all.
    virtual PortStatus WaitCommEvent(uint32_t& mask) = 0;

    // Serial devices only. Bytes waiting to be read. False with the last error set.
    virtual bool InputQueueCount(size_t& count) = 0;

    // --- main thread -------------------------------------------------------------------

    // Writes the bytes without ever waiting: the main thread must not stall behind a client
    // that has stopped reading. Bytes the system has taken are written, even while they are
    // still on their way (Windows keeps a bounded amount in flight while a COM port sends it
    // at the line's speed); they reach the client in the order of the calls. When not all of
    // them can be taken now, what was not taken is dropped and the call fails with
    // kErrorNoRoom (a part may have been written). Other failures: false with the last
    // error set.
    virtual bool Write(const uint8_t* data, size_t length) = 0;

    // Modem lines as kModemCtsOn | kModemDsrOn | ... False with the last error set (a
    // serial device without modem lines). A pipe server shows its client's lines as a
    // null-modem cable would (RTS as CTS, DTR as DSR and RLSD); all off while none are set.
    virtual bool GetModemStatus(uint32_t& status) = 0;

    // True when the client receives each Write as a message of its own (a message-mode named
    // pipe). On a byte stream (a pty, a serial device) the client gets the bytes alone, so
    // a text written at once reads exactly as one written a byte at a time.
    virtual bool KeepsWriteBoundaries() const { return false; }

    // --- any thread --------------------------------------------------------------------

    // Makes the blocked and every later waiting call return kWoken. Used once, to stop.
    virtual void Wake() = 0;
};

// Opens host ports. Main thread.
class IHostPortSystem {
  public:
    virtual ~IHostPortSystem() = default;

    // A pipe server named name ("WINKEY_DEVICE", "OTRSP_DEVICE"): on Linux a raw pty (no
    // echo, no CR/LF translation, no flow-control characters taken) with a link of that
    // name in the runtime folder pointing at its slave. Only one client is served at a
    // time. nullptr with the last error set on failure.
    virtual std::unique_ptr<IHostPortHandle> CreatePipeServer(const std::string& name) = 0;

    // A serial device by path, held exclusively (a second open, ours or another
    // program's, fails) and put into raw mode at its current speed. nullptr with the last
    // error set on failure.
    virtual std::unique_ptr<IHostPortHandle> OpenSerialDevice(const std::string& path) = 0;

    // The device that COM port `number` (1..32) opens when the settings name none for it:
    // "\\.\COMn" on Windows, /dev/ttyS{n-1} on Linux.
    virtual std::string ComDeviceName(int number) const = 0;
};

}  // namespace zuvo::platform
