#include "platform/win32/host_port_win32.h"

#include <windows.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

#include "platform/errors.h"
#include "platform/win32/object_names.h"

namespace zuvo::platform::win32 {

namespace {

constexpr DWORD kPipeBufferSize = 4096;
constexpr DWORD kPipeDefaultTimeoutMs = 5000;
// Replies the system has taken but not yet sent, at most: a stalled pipe client fills the
// pipe's own buffer first, and a COM port at 1200 baud sends this much in about 34 s.
constexpr size_t kMaxBytesInFlight = kPipeBufferSize;
// Writes kept for reuse once they have completed, so a reply does not cost a new event.
constexpr size_t kSpareWrites = 16;
// How long closing waits for cancelled writes; a driver that never ends one costs a leak of
// that write instead of a hung close.
constexpr DWORD kCloseWaitMs = 1000;
constexpr DWORD kReadIntervalMs = 20;
constexpr DWORD kIdlePauseMs = 20;
constexpr DWORD kCommEvents = EV_RXCHAR | EV_CTS | EV_DSR;

// The parts both kinds of port share: the handle, the read thread's I/O and stop events,
// and the write path.
class OverlappedPort : public IHostPortHandle {
  public:
    explicit OverlappedPort(HANDLE handle) : handle_(handle) {}
    ~OverlappedPort() override {
        EndWrites();
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
        for (HANDLE event : {ioEvent_, stop_}) {
            if (event != nullptr) {
                ::CloseHandle(event);
            }
        }
    }
    OverlappedPort(const OverlappedPort&) = delete;
    OverlappedPort& operator=(const OverlappedPort&) = delete;

    // False with the last error set.
    bool CreateEvents() {
        ioEvent_ = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        stop_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        return ioEvent_ != nullptr && stop_ != nullptr;
    }

    void Wake() override { ::SetEvent(stop_); }

    bool Write(const uint8_t* data, size_t length) override {
        ReapWrites();
        if (length == 0) {
            return true;  // an empty write would be an empty message on a pipe
        }
        if (bytesInFlight_ + length > kMaxBytesInFlight) {
            ::SetLastError(kErrorNoRoom);
            return false;
        }
        std::unique_ptr<PendingWrite> write = TakeSpareWrite();
        if (!write) {
            return false;
        }
        write->bytes.assign(data, data + length);
        write->overlapped = OVERLAPPED{};
        write->overlapped.hEvent = write->event;
        if (::WriteFile(handle_, write->bytes.data(), static_cast<DWORD>(length), nullptr,
                        &write->overlapped)) {
            DWORD written = 0;
            ::GetOverlappedResult(handle_, &write->overlapped, &written, FALSE);
            PutSpareWrite(std::move(write));
            if (written != length) {
                ::SetLastError(ERROR_WRITE_FAULT);
                return false;
            }
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            PutSpareWrite(std::move(write));
            ::SetLastError(error);
            return false;
        }
        // On its way: a COM port sends it at the line's speed, a pipe once the client reads.
        bytesInFlight_ += length;
        inFlight_.push_back(std::move(write));
        return true;
    }

  protected:
    bool Stopped() const { return ::WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }

    // An OVERLAPPED on the I/O event, which is reset for the operation about to start.
    OVERLAPPED Fresh() {
        ::ResetEvent(ioEvent_);
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent_;
        return overlapped;
    }

    // Collects an operation that started: kReady (error 0) when it succeeded, kReady with
    // the failure's code in error, or kWoken once the stop event was set (the operation is
    // cancelled and collected first).
    PortStatus Finish(OVERLAPPED& overlapped, BOOL started, DWORD& transferred, DWORD& error) {
        error = started ? ERROR_SUCCESS : ::GetLastError();
        if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) {
            // Done at once. The count comes from the OVERLAPPED: the call's own count is not
            // to be relied on for overlapped I/O, and Wine leaves it 0 when part of a longer
            // pipe message was read, which would lose those bytes.
            ::GetOverlappedResult(handle_, &overlapped, &transferred, FALSE);
            return PortStatus::kReady;
        }
        if (error != ERROR_IO_PENDING) {
            return PortStatus::kReady;
        }
        HANDLE waits[2] = {stop_, ioEvent_};
        const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            ::CancelIoEx(handle_, &overlapped);
            ::GetOverlappedResult(handle_, &overlapped, &transferred, TRUE);
            return PortStatus::kWoken;
        }
        error = ::GetOverlappedResult(handle_, &overlapped, &transferred, TRUE) ? ERROR_SUCCESS
                                                                                : ::GetLastError();
        return PortStatus::kReady;
    }

    HANDLE handle_;
    HANDLE ioEvent_ = nullptr;
    HANDLE stop_ = nullptr;

  private:
    // One write the system has taken: its OVERLAPPED, event and bytes must stay where they
    // are until it completes.
    struct PendingWrite {
        OVERLAPPED overlapped{};
        HANDLE event = nullptr;
        std::vector<uint8_t> bytes;
        ~PendingWrite() {
            if (event != nullptr) {
                ::CloseHandle(event);
            }
        }
    };

    // Completed writes leave in the order they were made, as a pipe or a COM port completes
    // them; whatever their result (a failed one means the client has gone, which the read
    // thread reports). The event is checked as well as the OVERLAPPED, so it is never reused
    // while the system may still set it for the old write.
    void ReapWrites() {
        while (!inFlight_.empty()) {
            PendingWrite& write = *inFlight_.front();
            if (!HasOverlappedIoCompleted(&write.overlapped) ||
                ::WaitForSingleObject(write.event, 0) != WAIT_OBJECT_0) {
                return;
            }
            bytesInFlight_ -= write.bytes.size();
            PutSpareWrite(std::move(inFlight_.front()));
            inFlight_.pop_front();
        }
    }

    // nullptr with the last error set when no event can be made.
    std::unique_ptr<PendingWrite> TakeSpareWrite() {
        if (!spare_.empty()) {
            std::unique_ptr<PendingWrite> write = std::move(spare_.back());
            spare_.pop_back();
            return write;
        }
        auto write = std::make_unique<PendingWrite>();
        write->event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (write->event == nullptr) {
            return nullptr;
        }
        return write;
    }

    void PutSpareWrite(std::unique_ptr<PendingWrite> write) {
        if (spare_.size() < kSpareWrites) {
            spare_.push_back(std::move(write));
        }
    }

    // Cancels what is still in flight and waits until the system is done with each write
    // before its memory goes.
    void EndWrites() {
        for (const auto& write : inFlight_) {
            ::CancelIoEx(handle_, &write->overlapped);
        }
        const ULONGLONG deadline = ::GetTickCount64() + kCloseWaitMs;
        for (auto& write : inFlight_) {
            const ULONGLONG now = ::GetTickCount64();
            const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
            if (::WaitForSingleObject(write->event, left) != WAIT_OBJECT_0 ||
                !HasOverlappedIoCompleted(&write->overlapped)) {
                // The driver may still write to it: leave it to the process.
                static_cast<void>(write.release());
            }
        }
        inFlight_.clear();
    }

    std::deque<std::unique_ptr<PendingWrite>> inFlight_;  // main thread, as is all below
    std::vector<std::unique_ptr<PendingWrite>> spare_;
    size_t bytesInFlight_ = 0;
};

class PipeServer final : public OverlappedPort {
  public:
    using OverlappedPort::OverlappedPort;
    ~PipeServer() override { ::DisconnectNamedPipe(handle_); }

    PortStatus WaitForClient() override {
        while (!connected_) {
            if (Stopped()) {
                return PortStatus::kWoken;
            }
            OVERLAPPED overlapped = Fresh();
            DWORD unused = 0;
            DWORD error = ERROR_SUCCESS;
            const PortStatus st =
                Finish(overlapped, ::ConnectNamedPipe(handle_, &overlapped), unused, error);
            if (st != PortStatus::kReady) {
                return st;
            }
            if (error == ERROR_SUCCESS || error == ERROR_PIPE_CONNECTED) {
                connected_ = true;
            } else if (error == ERROR_NO_DATA) {
                ::DisconnectNamedPipe(handle_);  // a client that has already gone again
            } else {
                ::SetLastError(error);
                return PortStatus::kError;
            }
        }
        return PortStatus::kReady;
    }

    PortReadResult Read(uint8_t* buf, size_t size) override {
        for (;;) {
            if (!connected_) {
                ::SetLastError(ERROR_PIPE_LISTENING);
                return {PortStatus::kError, 0};
            }
            OVERLAPPED overlapped = Fresh();
            DWORD got = 0;
            DWORD error = ERROR_SUCCESS;
            const BOOL started =
                ::ReadFile(handle_, buf, static_cast<DWORD>(std::min<size_t>(size, MAXDWORD)), &got,
                           &overlapped);
            const PortStatus st = Finish(overlapped, started, got, error);
            if (st != PortStatus::kReady) {
                return {st, 0};
            }
            if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) {
                if (got > 0) {
                    return {PortStatus::kReady, got};
                }
                continue;  // an empty message
            }
            ::DisconnectNamedPipe(handle_);
            connected_ = false;
            ::SetLastError(error);
            return {PortStatus::kError, 0};
        }
    }

    PortStatus WaitCommEvent(uint32_t&) override {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return PortStatus::kError;
    }
    bool InputQueueCount(size_t&) override {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    bool GetModemStatus(uint32_t&) override {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    // A message-mode pipe: its client reads each write as a message of its own.
    bool KeepsWriteBoundaries() const override { return true; }

  private:
    bool connected_ = false;  // read thread only
};

class ComPort final : public OverlappedPort {
  public:
    using OverlappedPort::OverlappedPort;

    // Leaves the line settings alone and takes out what corrupts or holds back bytes.
    void Configure() {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (::GetCommState(handle_, &dcb)) {
            dcb.fBinary = TRUE;
            dcb.fOutxCtsFlow = FALSE;
            dcb.fOutxDsrFlow = FALSE;
            dcb.fDsrSensitivity = FALSE;
            dcb.fOutX = FALSE;
            dcb.fInX = FALSE;
            dcb.fErrorChar = FALSE;
            dcb.fNull = FALSE;
            dcb.fAbortOnError = FALSE;
            if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) {
                dcb.fDtrControl = DTR_CONTROL_ENABLE;
            }
            if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
                dcb.fRtsControl = RTS_CONTROL_ENABLE;
            }
            ::SetCommState(handle_, &dcb);
        }
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = kReadIntervalMs;
        ::SetCommTimeouts(handle_, &timeouts);
    }

    PortStatus WaitForClient() override { return PortStatus::kReady; }

    PortReadResult Read(uint8_t* buf, size_t size) override {
        if (size == 0) {
            return {PortStatus::kReady, 0};
        }
        if (waitingByte_ < 0) {
            return ReadSome(buf, size);
        }
        // The byte a wait for input took comes first, then whatever else is queued.
        buf[0] = static_cast<uint8_t>(waitingByte_);
        waitingByte_ = -1;
        size_t queued = 0;
        if (size > 1 && QueuedOnDevice(queued) && queued > 0) {
            const PortReadResult more = ReadSome(buf + 1, std::min(queued, size - 1));
            if (more.status == PortStatus::kReady) {
                return {PortStatus::kReady, 1 + more.length};
            }
        }
        return {PortStatus::kReady, 1};
    }

    PortStatus WaitCommEvent(uint32_t& mask) override {
        if (!maskSet_) {
            if (!::SetCommMask(handle_, kCommEvents)) {
                return PortStatus::kError;
            }
            maskSet_ = true;
        }
        if (!modemEvents_) {
            return WaitForInput(mask);
        }
        for (;;) {
            if (Stopped()) {
                return PortStatus::kWoken;
            }
            DWORD events = 0;
            DWORD unused = 0;
            DWORD error = ERROR_SUCCESS;
            OVERLAPPED overlapped = Fresh();
            const PortStatus st =
                Finish(overlapped, ::WaitCommEvent(handle_, &events, &overlapped), unused, error);
            if (st != PortStatus::kReady) {
                return st;
            }
            if (error == ERROR_NOT_SUPPORTED) {
                // No modem lines on this device (a pty under Wine, some virtual ports):
                // received characters are all there is to wait for.
                modemEvents_ = false;
                ::SetCommMask(handle_, EV_RXCHAR);
                return WaitForInput(mask);
            }
            if (error == ERROR_OPERATION_ABORTED) {
                continue;  // ended by the driver, not by Wake (that is checked above)
            }
            if (error != ERROR_SUCCESS) {
                ::SetLastError(error);
                return PortStatus::kError;
            }
            events &= kCommEvents;
            if (events != 0) {
                mask = events;
                return PortStatus::kReady;
            }
        }
    }

    bool InputQueueCount(size_t& count) override {
        if (!QueuedOnDevice(count)) {
            return false;
        }
        count += waitingByte_ >= 0 ? 1 : 0;
        return true;
    }

    bool GetModemStatus(uint32_t& status) override {
        DWORD lines = 0;
        if (!::GetCommModemStatus(handle_, &lines)) {
            return false;
        }
        status = lines;
        return true;
    }

  private:
    bool QueuedOnDevice(size_t& count) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handle_, &errors, &status)) {
            return false;
        }
        count = status.cbInQue;
        return true;
    }

    // What the input queue holds, at most `size` bytes, else one byte, which waits for it.
    PortReadResult ReadSome(uint8_t* buf, size_t size) {
        for (;;) {
            if (Stopped()) {
                return {PortStatus::kWoken, 0};
            }
            DWORD want = 1;
            size_t queued = 0;
            if (QueuedOnDevice(queued) && queued > 0) {
                want = static_cast<DWORD>(std::min<size_t>({queued, size, MAXDWORD}));
            }
            OVERLAPPED overlapped = Fresh();
            DWORD got = 0;
            DWORD error = ERROR_SUCCESS;
            const PortStatus st =
                Finish(overlapped, ::ReadFile(handle_, buf, want, &got, &overlapped), got, error);
            if (st != PortStatus::kReady) {
                return {st, 0};
            }
            if (error != ERROR_SUCCESS) {
                ::SetLastError(error);
                return {PortStatus::kError, 0};
            }
            if (got > 0) {
                return {PortStatus::kReady, got};
            }
            if (::WaitForSingleObject(stop_, kIdlePauseMs) == WAIT_OBJECT_0) {
                return {PortStatus::kWoken, 0};
            }
        }
    }

    // Waits for received bytes by reading the first of them, kept for the next Read: a
    // pending read blocks, where a comm-event wait for characters alone may poll.
    PortStatus WaitForInput(uint32_t& mask) {
        if (waitingByte_ < 0) {
            uint8_t byte = 0;
            const PortReadResult r = ReadSome(&byte, 1);
            if (r.status != PortStatus::kReady) {
                return r.status;
            }
            waitingByte_ = byte;
        }
        mask = EV_RXCHAR;
        return PortStatus::kReady;
    }

    bool maskSet_ = false;     // read thread only, as are the next two
    bool modemEvents_ = true;  // the device reports CTS and DSR changes
    int waitingByte_ = -1;     // a byte WaitForInput read, not handed out yet
};

}  // namespace

std::string PipePath(const std::string& name) {
    return "\\\\.\\PIPE\\" + ObjectName(name);
}

std::unique_ptr<IHostPortHandle> Win32HostPortSystem::CreatePipeServer(const std::string& name) {
    HANDLE pipe =
        ::CreateNamedPipeA(PipePath(name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                           kPipeBufferSize, kPipeBufferSize, kPipeDefaultTimeoutMs, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto server = std::make_unique<PipeServer>(pipe);
    if (!server->CreateEvents()) {
        const DWORD error = ::GetLastError();
        server.reset();
        ::SetLastError(error);
        return nullptr;
    }
    return server;
}

std::unique_ptr<IHostPortHandle> Win32HostPortSystem::OpenSerialDevice(const std::string& path) {
    HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto device = std::make_unique<ComPort>(port);
    if (!device->CreateEvents()) {
        const DWORD error = ::GetLastError();
        device.reset();
        ::SetLastError(error);
        return nullptr;
    }
    device->Configure();
    return device;
}

std::string Win32HostPortSystem::ComDeviceName(int number) const {
    return "\\\\.\\COM" + std::to_string(number);
}

}  // namespace zuvo::platform::win32
