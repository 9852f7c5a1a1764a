#pragma once

#include <string>

#include "platform/host_port.h"

namespace zuvo::platform::win32 {

// Host ports on Windows: named-pipe servers and COM ports, both on overlapped handles. Each
// handle has an I/O event (manual reset, created signalled) for the read thread's
// overlapped read, connect or comm-event wait, and a stop event that Wake sets for good; a
// woken wait cancels its operation (CancelIoEx) and collects it before it returns, so no
// operation is left pending on the thread's buffers. Writes (main thread) use an event of
// their own and wait at most one second; one that has not completed by then is cancelled
// and fails with ERROR_TIMEOUT.
//
// CreatePipeServer(name): "\\.\PIPE\<name>", CreateNamedPipeA with PIPE_ACCESS_DUPLEX |
//   FILE_FLAG_OVERLAPPED, message type and read mode, waiting, one instance, 4096-byte
//   buffers each way, 5000 ms default time-out. One client at a time: a second one's open
//   fails with ERROR_PIPE_BUSY.
//   WaitForClient: overlapped ConnectNamedPipe (ERROR_PIPE_CONNECTED: a client opened
//     first). A client that opened and closed again before the pipe listened
//     (ERROR_NO_DATA) is disconnected and the pipe listens again, rather than the port
//     failing every later connect.
//   Read: overlapped ReadFile of up to `size` bytes; a message longer than that
//     (ERROR_MORE_DATA) is read on in the next call. Any failure is the loss of the client:
//     the pipe is disconnected (which discards what the client left unread, so the next
//     client never sees it) and the read fails with the system's code (109 when the
//     client closed).
//   The serial calls fail with ERROR_INVALID_FUNCTION.
//
// OpenSerialDevice(path): CreateFileA with read and write access, no sharing (a port
//   another program holds fails with ERROR_ACCESS_DENIED), overlapped. Speed, data bits,
//   parity and stop bits stay as the driver holds them; what would corrupt a binary stream
//   or hold replies back is switched off: XON/XOFF both ways, error and NUL character
//   handling, abort on error, CTS/DSR output flow control and DSR sensitivity (CTS and DSR
//   are PTT inputs here). Read time-outs: a 20 ms interval, no total, so a read waits for
//   its first byte.
//   Read: what the input queue holds (ClearCommError), at most `size` bytes, else one
//     byte, which waits for it to arrive. A read that ends with no byte (a device that has
//     gone away can look idle) pauses 20 ms before the next, instead of spinning.
//   WaitCommEvent: SetCommMask(EV_RXCHAR | EV_CTS | EV_DSR) on the first call, then
//     overlapped WaitCommEvent until a wanted event is reported; an empty mask, or a wait
//     the driver ended on its own (ERROR_OPERATION_ABORTED without a stop), is waited on
//     again. A device without modem lines (ERROR_NOT_SUPPORTED for the CTS and DSR events:
//     a pty under Wine, some virtual ports) has only received characters to wait for, and
//     waits for them with a pending one-byte read, whose byte the next Read hands out
//     first: a comm-event wait for characters alone polls under Wine.
//   InputQueueCount: ClearCommError's input queue count (plus a byte such a wait holds).
//   GetModemStatus: GetCommModemStatus (MS_CTS_ON ... are the kModem* values).
class Win32HostPortSystem final : public IHostPortSystem {
  public:
    std::unique_ptr<IHostPortHandle> CreatePipeServer(const std::string& name) override;
    std::unique_ptr<IHostPortHandle> OpenSerialDevice(const std::string& path) override;
    std::string ComDeviceName(int number) const override;
};

// "\\.\PIPE\<name>" with the object suffix of the tests (ObjectName).
std::string PipePath(const std::string& name);

}  // namespace zuvo::platform::win32
