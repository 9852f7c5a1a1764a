#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host_port.h"

namespace zuvo::platform::fake {

// A host port in memory. The test plays the logger (Connect, Send, Disconnect) or the
// serial line (Send, ModemChange); the port read thread blocks in the waiting calls until
// the test gives it something. Thread-safe.
class FakeHostPort final : public IHostPortHandle {
  public:
    explicit FakeHostPort(bool pipe) : pipe_(pipe) {}

    // --- the test's side ---
    void Connect();                                    // a client opens the pipe
    void Send(const std::string& bytes);               // bytes from the logger
    void Disconnect();                                 // the client closes (read fails, 109)
    void FailRead(uint32_t error);                     // the next read or wait fails with error
    void ModemChange(uint32_t mask, uint32_t status);  // comm event with new modem status
    void SetWriteError(uint32_t error);                // 0: writes succeed
    void SetModemError(uint32_t error);                // 0: modem status readable
    // A pipe keeps each write a message of its own (a Windows message pipe) unless told it
    // is a byte stream (a pty).
    void SetByteStream(bool on) { byteStream_ = on; }
    std::vector<std::string> Writes() const;  // one entry per Write call
    bool Woken() const;
    // Blocks until the read thread has taken everything given so far and blocks again
    // (false on timeout).
    bool WaitIdle(int timeoutMs = 2000);

    // --- IHostPortHandle ---
    PortStatus WaitForClient() override;
    PortReadResult Read(uint8_t* buf, size_t size) override;
    PortStatus WaitCommEvent(uint32_t& mask) override;
    bool InputQueueCount(size_t& count) override;
    bool Write(const uint8_t* data, size_t length) override;
    bool GetModemStatus(uint32_t& status) override;
    bool KeepsWriteBoundaries() const override { return pipe_ && !byteStream_; }
    void Wake() override;

  private:
    struct Item {
        enum Kind { kBytes, kError, kModem } kind = kBytes;
        std::string bytes;
        uint32_t value = 0;
        uint32_t status = 0;
        bool lossOfClient = false;
    };

    const bool pipe_;
    bool byteStream_ = false;  // main thread
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> items_;
    bool connected_ = false;
    bool woken_ = false;
    bool waiting_ = false;
    uint32_t writeError_ = 0;
    uint32_t modemError_ = 0;
    uint32_t modemStatus_ = 0;
    std::vector<std::string> writes_;
};

// Opens fake ports; each open creates a new FakeHostPort the test can reach.
class FakeHostPortSystem final : public IHostPortSystem {
  public:
    std::unique_ptr<IHostPortHandle> CreatePipeServer(const std::string& name) override;
    std::unique_ptr<IHostPortHandle> OpenSerialDevice(const std::string& path) override;
    // "/dev/ttyS{n-1}", as on Linux.
    std::string ComDeviceName(int number) const override;

    // Error of the next opens (0: they succeed).
    uint32_t failOpen = 0;
    // What was opened, in order ("pipe:NAME", "serial:PATH").
    std::vector<std::string> opened;
    // The most recently opened port (it lives while the host port holds it).
    FakeHostPort* last = nullptr;
    // The port most recently opened under that entry of `opened`, nullptr if none.
    FakeHostPort* Find(const std::string& entry) const;

  private:
    std::vector<FakeHostPort*> ports_;
};

}  // namespace zuvo::platform::fake
