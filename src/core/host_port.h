#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "core/event_log.h"
#include "core/host_port_kind.h"
#include "core/settings_store.h"
#include "keyer/keyer_port.h"
#include "platform/host_port.h"
#include "platform/message_queue.h"
#include "switching/switching_port.h"

namespace zuvo {

// What a host port reads and sets in the main window.
class IHostPortWindow {
  public:
    virtual ~IHostPortWindow() = default;
    // The process-wide pipe mode flag ("Pipes").
    virtual bool PipeMode() const = 0;
    // The port's COM list selection, -1 for none; index i is COM port i + 1.
    virtual int SelectedComIndex(HostPortKind kind) const = 0;
    virtual void UncheckPortBox(HostPortKind kind) = 0;  // "Keyer" or "Zuvo"
    virtual void UncheckPipes() = 0;
};

// The extra work of the interpreter and the window around opening and closing a port.
class IHostPortHooks {
  public:
    virtual ~IHostPortHooks() = default;
    // The port is open; its read thread has not started yet.
    virtual void OnHostPortOpening(HostPortKind) {}
    // The read thread runs.
    virtual void OnHostPortStarted(HostPortKind) {}
    // The port is closed and its read thread has ended.
    virtual void OnHostPortClosed(HostPortKind) {}
};

// The platform's host ports, chosen when the program starts; until then (and in tests that
// offer none) every open fails as if the device were missing.
class HostPortSystemSlot final : public platform::IHostPortSystem {
  public:
    void Set(platform::IHostPortSystem* system) { system_ = system; }
    std::unique_ptr<platform::IHostPortHandle> CreatePipeServer(const std::string& name) override;
    std::unique_ptr<platform::IHostPortHandle> OpenSerialDevice(const std::string& path) override;
    std::string ComDeviceName(int number) const override;

  private:
    platform::IHostPortSystem* system_ = nullptr;
};

// One host port (keyer or switching): a COM device or a pipe server with its port read
// thread, which only reads and posts one message per byte (kMsgKeyerPortByte or
// kMsgSwitchingPortByte), its errors, and for the switching port the modem status
// message. Open, close and the writes run on the main thread. A write never waits: a reply
// that finds no room because the client has stopped reading is dropped, with one log line
// per stall ("KE port is not reading, replies dropped", "SE ..."), and the port goes on as
// before once the client reads again. The read thread stops reading while a bounded number
// of its messages wait for the main thread, so a client writing without end leaves its bytes
// in the system's buffer instead of in this program's memory.
class HostPort final : public IKeyerPort, public ISwitchingPort {
  public:
    HostPort(HostPortKind kind, platform::IHostPortSystem& system, platform::IMessagePoster& poster,
             IEventLog& log, const IVerbose& verbose, const SettingsStore& settings,
             IHostPortWindow& window);
    ~HostPort() override;
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    void SetHooks(IHostPortHooks* hooks) { hooks_ = hooks; }

    void OpenHostPort();
    // Returns when the read thread has ended.
    void CloseHostPort();

    bool IsRunning() const { return running_.load(); }
    bool ClientConnected() const { return clientConnected_.load(); }

    // Main thread: a message this port's read thread posted is being handled (before the
    // interpreter sees it). A pipe client's replies go out only once every error the read
    // thread has posted has been handled: until then the bytes being answered may come from
    // a logger that has gone, and the answer must not reach the one connected since.
    void OnPortMessage(const platform::Message& message);

    // The device path of "COMn": settings section "Ports", key "COMn", else the system's
    // own name for it.
    static std::string ComDevicePath(const SettingsStore& settings,
                                     const platform::IHostPortSystem& system, int number);
    // The pipe's name in the runtime folder.
    const char* PipeName() const;

    // IKeyerPort
    bool IsKeyerPortRunning() const override { return IsRunning(); }
    void WriteKeyerByte(uint8_t byte) override;

    // ISwitchingPort
    void WriteSwitchingText(std::string_view text) override;
    void WriteSwitchingLine(std::initializer_list<std::string_view> texts) override;
    bool PipeMode() const override { return window_.PipeMode(); }
    bool GetSwitchingModemStatus(uint32_t& status) override;

  private:
    void PipeThread(platform::IHostPortHandle* port);
    void KeyerComThread(platform::IHostPortHandle* port);
    void SwitchingComThread(platform::IHostPortHandle* port);
    // Writes one reply (or one byte of it); false when it did not go out, which is logged.
    bool WriteReply(const uint8_t* data, size_t length);
    // One switching reply text up to its NUL, with its verbose line; false when it is not
    // to be written (a pipe without a client).
    bool TakeSwitchingText(std::string_view& text);
    // Each byte one write where the port keeps write boundaries (a message pipe).
    bool WritesBytewise() const;
    void PostBytes(const uint8_t* data, size_t length);
    void PostError(uint32_t code);
    void PostModemStatus(uint32_t mask);
    // How many bytes the read thread may read now, at most size: it waits while too many of
    // its messages wait for the main thread. 0 when the port is being closed.
    size_t RoomToRead(size_t size);
    // A pipe client is connected, and it is the one whose bytes the main thread handles.
    bool PipeClientReachable() const;
    // Sleeps up to ms unless the port is being closed; false when it is.
    bool PauseUnlessClosing(int ms);
    bool Verbose() const;

    const HostPortKind kind_;
    platform::IHostPortSystem& system_;
    platform::IMessagePoster& poster_;
    IEventLog& log_;
    const IVerbose& verbose_;
    const SettingsStore& settings_;
    IHostPortWindow& window_;
    IHostPortHooks* hooks_ = nullptr;
    const uint32_t flow_;  // what holds the read thread back while the main thread is behind

    std::unique_ptr<platform::IHostPortHandle> handle_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> clientConnected_{false};
    std::atomic<uint32_t> errorsPosted_{0};  // by the read thread of this open
    uint32_t errorsHandled_ = 0;             // main thread
    uint32_t generation_ = 0;                // Message::source of this open's posts
    std::atomic<uint32_t> clients_{0};       // pipe clients connected so far (read thread counts)
    bool stalled_ = false;  // the last reply found no room: the client is not reading
    uint32_t stalledClient_ = 0;
    std::mutex pauseMutex_;
    std::condition_variable pauseWake_;
};

}  // namespace zuvo
