#include "core/host_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/errors.h"

namespace zuvo {

namespace {

constexpr int kConnectRetryMs = 200;
// A COM device that keeps failing (unplugged) would otherwise be retried in a tight loop.
constexpr int kComErrorPauseMs = 100;
constexpr size_t kPipeReadSize = 4096;
// A read thread stops reading while this many of its messages wait for the main thread;
// the client's bytes then wait in the pty or serial buffer, which holds the client back.
// Small enough that the other port's bytes queued behind them are handled within about half
// a millisecond; a logger's bursts are far smaller, so it never holds a real one back.
constexpr size_t kMaxWaitingMessages = 256;

struct PortTexts {
    const char* pipeName;
    const char* pipeFailure;
    const char* comFailure;
    const char* unsent;
    const char* response;
    const char* writeFailure;
    const char* stalled;
};

constexpr PortTexts kKeyerTexts{"WINKEY_DEVICE",
                                "Cannot open keyer pipe:",
                                "Cannot open keyer port: ",
                                "* KE response (unsent)",
                                "* KE response",
                                "KE Write: ",
                                "KE port is not reading, replies dropped"};
constexpr PortTexts kSwitchingTexts{"OTRSP_DEVICE",
                                    "Cannot open Zuvo pipe:",
                                    "Cannot open Zuvo port:",
                                    "* SE response (unsent)",
                                    "* SE response",
                                    "SE Write: ",
                                    "SE port is not reading, replies dropped"};

const PortTexts& Texts(HostPortKind kind) {
    return kind == HostPortKind::kKeyer ? kKeyerTexts : kSwitchingTexts;
}

}  // namespace

std::unique_ptr<platform::IHostPortHandle> HostPortSystemSlot::CreatePipeServer(
    const std::string& name) {
    if (system_ == nullptr) {
        platform::SetLastError(platform::kErrorFileNotFound);
        return nullptr;
    }
    return system_->CreatePipeServer(name);
}

std::unique_ptr<platform::IHostPortHandle> HostPortSystemSlot::OpenSerialDevice(
    const std::string& path) {
    if (system_ == nullptr) {
        platform::SetLastError(platform::kErrorFileNotFound);
        return nullptr;
    }
    return system_->OpenSerialDevice(path);
}

HostPort::HostPort(HostPortKind kind, platform::IHostPortSystem& system,
                   platform::IMessagePoster& poster, IEventLog& log, const IVerbose& verbose,
                   const SettingsStore& settings, IHostPortWindow& window)
    : kind_(kind),
      system_(system),
      poster_(poster),
      log_(log),
      verbose_(verbose),
      settings_(settings),
      window_(window),
      flow_(poster.AddFlow(kMaxWaitingMessages)) {}

HostPort::~HostPort() {
    // Stop the thread without the close's window work: the window may be going too.
    hooks_ = nullptr;
    CloseHostPort();
}

const char* HostPort::PipeName() const {
    return Texts(kind_).pipeName;
}

std::string HostPortSystemSlot::ComDeviceName(int number) const {
    return system_ != nullptr ? system_->ComDeviceName(number) : "COM" + std::to_string(number);
}

std::string HostPort::ComDevicePath(const SettingsStore& settings,
                                    const platform::IHostPortSystem& system, int number) {
    const std::string key = "COM" + std::to_string(number);
    const std::string fallback = system.ComDeviceName(number);
    char buf[512];
    settings.ReadString("Ports", key.c_str(), fallback.c_str(), buf, sizeof buf);
    return buf;
}

bool HostPort::Verbose() const {
    return verbose_.IsVerbose(kind_ == HostPortKind::kKeyer ? zuvo::Verbose::kKeyer
                                                            : zuvo::Verbose::kZuvo);
}

void HostPort::OpenHostPort() {
    if (running_.load()) {
        CloseHostPort();
    }
    const PortTexts& texts = Texts(kind_);
    const bool pipe = window_.PipeMode();
    if (pipe) {
        handle_ = system_.CreatePipeServer(texts.pipeName);
        if (!handle_) {
            log_.LogLastError(texts.pipeFailure);
            window_.UncheckPipes();
            return;
        }
    } else {
        const int index = window_.SelectedComIndex(kind_);
        if (index < 0) {
            log_.LogMessage("Please select a COM port");
            window_.UncheckPortBox(kind_);
            return;
        }
        const std::string device = ComDevicePath(settings_, system_, index + 1);
        handle_ = system_.OpenSerialDevice(device);
        if (!handle_) {
            log_.LogLastError(texts.comFailure);
            // The operator's first question: which device did that number stand for?
            log_.LogMessage("COM" + std::to_string(index + 1) + " is " + device + " ([Ports] COM" +
                            std::to_string(index + 1) +
                            "= in the settings file can name another device)");
            window_.UncheckPortBox(kind_);
            return;
        }
    }
    if (hooks_ != nullptr) {
        hooks_->OnHostPortOpening(kind_);
    }
    ++generation_;
    stalled_ = false;
    poster_.StartFlow(flow_);
    running_.store(true);
    clientConnected_.store(false);
    errorsPosted_.store(0);
    errorsHandled_ = 0;
    platform::IHostPortHandle* port = handle_.get();
    if (pipe) {
        thread_ = std::thread(&HostPort::PipeThread, this, port);
    } else if (kind_ == HostPortKind::kKeyer) {
        thread_ = std::thread(&HostPort::KeyerComThread, this, port);
    } else {
        thread_ = std::thread(&HostPort::SwitchingComThread, this, port);
    }
    if (hooks_ != nullptr) {
        hooks_->OnHostPortStarted(kind_);
    }
}

void HostPort::CloseHostPort() {
    {
        std::lock_guard lock(pauseMutex_);
        running_.store(false);
    }
    pauseWake_.notify_all();
    poster_.StopFlow(flow_);  // a read thread held back by the queue
    if (handle_) {
        handle_->Wake();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    handle_.reset();
    clientConnected_.store(false);
    if (hooks_ != nullptr) {
        hooks_->OnHostPortClosed(kind_);
    }
}

// --- read threads: they only read and post -------------------------------------------------

void HostPort::PostBytes(const uint8_t* data, size_t length) {
    const uint32_t id = kind_ == HostPortKind::kKeyer ? platform::kMsgKeyerPortByte
                                                      : platform::kMsgSwitchingPortByte;
    for (size_t i = 0; i < length; ++i) {
        platform::Message m;
        m.id = id;
        m.lParam = static_cast<int32_t>(static_cast<int8_t>(data[i]));
        m.source = generation_;
        m.flow = flow_;
        poster_.Post(std::move(m));
    }
}

void HostPort::PostError(uint32_t code) {
    errorsPosted_.fetch_add(1);  // before the post: the main thread must not be ahead
    platform::Message m;
    m.id = kind_ == HostPortKind::kKeyer ? platform::kMsgKeyerPortByte
                                         : platform::kMsgSwitchingPortByte;
    m.wParam = code;
    m.lParam = 0xFFFF;
    m.source = generation_;
    m.flow = flow_;
    poster_.Post(std::move(m));
}

void HostPort::PostModemStatus(uint32_t mask) {
    platform::Message m;
    m.id = platform::kMsgModemStatus;
    m.lParam = static_cast<int32_t>(mask);
    m.source = generation_;
    m.flow = flow_;
    poster_.Post(std::move(m));
}

size_t HostPort::RoomToRead(size_t size) {
    return std::min(size, poster_.WaitForRoom(flow_));
}

bool HostPort::PauseUnlessClosing(int ms) {
    std::unique_lock lock(pauseMutex_);
    pauseWake_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return !running_.load(); });
    return running_.load();
}

void HostPort::PipeThread(platform::IHostPortHandle* port) {
    clientConnected_.store(false);
    bool errorPosted = false;
    uint8_t buf[kPipeReadSize];
    while (running_.load()) {
        if (!clientConnected_.load()) {
            const platform::PortStatus st = port->WaitForClient();
            if (st == platform::PortStatus::kReady) {
                clients_.fetch_add(1);
                clientConnected_.store(true);
                errorPosted = false;
            } else if (st == platform::PortStatus::kError) {
                if (!errorPosted) {
                    PostError(platform::GetLastError());
                    errorPosted = true;
                }
                PauseUnlessClosing(kConnectRetryMs);
            }
            continue;
        }
        const size_t room = RoomToRead(sizeof buf);
        if (room == 0) {
            continue;
        }
        const platform::PortReadResult r = port->Read(buf, room);
        if (r.status == platform::PortStatus::kReady) {
            // The client's RTS is the switching port's PTT, as a COM port's CTS is.
            if (r.events != 0 && kind_ == HostPortKind::kSwitching) {
                PostModemStatus(r.events);
            }
            PostBytes(buf, r.length);
        } else if (r.status == platform::PortStatus::kError) {
            // Every client loss is reported; the next pass waits for a new client.
            PostError(platform::GetLastError());
            clientConnected_.store(false);
            if (kind_ == HostPortKind::kSwitching) {
                PostModemStatus(8);
            }
        }
    }
}

void HostPort::KeyerComThread(platform::IHostPortHandle* port) {
    bool errorPosted = false;
    uint8_t buf[256];
    while (running_.load()) {
        const size_t room = RoomToRead(sizeof buf);
        if (room == 0) {
            continue;
        }
        const platform::PortReadResult r = port->Read(buf, room);
        if (r.status == platform::PortStatus::kReady) {
            PostBytes(buf, r.length);
        } else if (r.status == platform::PortStatus::kError && running_.load()) {
            if (!errorPosted) {
                PostError(platform::GetLastError());
                errorPosted = true;
            }
            PauseUnlessClosing(kComErrorPauseMs);
        }
    }
}

void HostPort::SwitchingComThread(platform::IHostPortHandle* port) {
    bool errorPosted = false;
    auto postOnce = [&] {
        if (!errorPosted) {
            PostError(platform::GetLastError());
            errorPosted = true;
        }
    };
    uint8_t buf[256];
    while (running_.load()) {
        uint32_t mask = 0;
        const platform::PortStatus st = port->WaitCommEvent(mask);
        if (st == platform::PortStatus::kWoken) {
            continue;
        }
        if (st == platform::PortStatus::kError) {
            if (!running_.load()) {
                break;
            }
            postOnce();
            PauseUnlessClosing(kComErrorPauseMs);
            continue;
        }
        if (mask & (platform::kCommEventCts | platform::kCommEventDsr)) {
            PostModemStatus(mask);
        }
        if ((mask & platform::kCommEventRxChar) == 0) {
            continue;
        }
        size_t count = 0;
        if (!port->InputQueueCount(count)) {
            postOnce();
            continue;
        }
        while (count > 0 && running_.load()) {
            const size_t room = RoomToRead(std::min(count, sizeof buf));
            if (room == 0) {
                break;
            }
            const platform::PortReadResult r = port->Read(buf, room);
            if (r.status != platform::PortStatus::kReady) {
                if (r.status == platform::PortStatus::kError) {
                    postOnce();
                }
                break;
            }
            PostBytes(buf, r.length);
            count -= r.length;
        }
    }
}

// --- main thread ---------------------------------------------------------------------------

void HostPort::OnPortMessage(const platform::Message& message) {
    const uint32_t id = kind_ == HostPortKind::kKeyer ? platform::kMsgKeyerPortByte
                                                      : platform::kMsgSwitchingPortByte;
    if (message.id == id && message.source == generation_ && message.wParam != 0 &&
        message.lParam == 0xFFFF) {
        ++errorsHandled_;
    }
}

bool HostPort::PipeClientReachable() const {
    return clientConnected_.load() && errorsPosted_.load() == errorsHandled_;
}

// --- writes (main thread) ------------------------------------------------------------------

bool HostPort::WriteReply(const uint8_t* data, size_t length) {
    const PortTexts& texts = Texts(kind_);
    if (!handle_) {
        platform::SetLastError(platform::FromErrno(EBADF));
        log_.LogLastError(texts.writeFailure);
        return false;
    }
    const uint32_t client = clients_.load();
    if (handle_->Write(data, length)) {
        stalled_ = false;
        return true;
    }
    if (platform::GetLastError() != platform::kErrorNoRoom) {
        log_.LogLastError(texts.writeFailure);
        return false;
    }
    // The client has stopped reading. Waiting for it would stall the box, the other port and
    // the RTTY bridge, so its replies are dropped, told once per stall (and once more for a
    // new client that stalls too).
    if (!stalled_ || client != stalledClient_) {
        stalled_ = true;
        stalledClient_ = client;
        log_.LogMessage(texts.stalled);
    }
    return false;
}

void HostPort::WriteKeyerByte(uint8_t byte) {
    const PortTexts& texts = Texts(kind_);
    if (window_.PipeMode() && !PipeClientReachable()) {
        if (Verbose()) {
            log_.LogByte(texts.unsent, byte);
        }
        return;
    }
    if (Verbose()) {
        log_.LogByte(texts.response, byte);
    }
    WriteReply(&byte, 1);
}

bool HostPort::TakeSwitchingText(std::string_view& text) {
    const PortTexts& texts = Texts(kind_);
    // The reply is a zero-terminated text: nothing after a NUL goes out.
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    if (window_.PipeMode() && !PipeClientReachable()) {
        if (Verbose()) {
            log_.LogQuoted(texts.unsent, text);
        }
        return false;
    }
    if (Verbose()) {
        log_.LogQuoted(texts.response, text);
    }
    return true;
}

bool HostPort::WritesBytewise() const {
    return window_.PipeMode() && handle_ && handle_->KeepsWriteBoundaries();
}

void HostPort::WriteSwitchingText(std::string_view text) {
    if (!TakeSwitchingText(text)) {
        return;
    }
    const auto* data = reinterpret_cast<const uint8_t*>(text.data());
    // A byte stream (a pty, a serial device) takes the text in one write: its client reads
    // the same bytes, woken once for them rather than once per byte.
    if (!WritesBytewise()) {
        if (!text.empty()) {
            WriteReply(data, text.size());
        }
        return;
    }
    // One byte per write, so that each byte is one pipe message; the first failure drops
    // the rest.
    for (size_t i = 0; i < text.size(); ++i) {
        if (!WriteReply(data + i, 1)) {
            return;
        }
    }
}

void HostPort::WriteSwitchingLine(std::initializer_list<std::string_view> texts) {
    if (WritesBytewise()) {
        for (const std::string_view text : texts) {
            WriteSwitchingText(text);
        }
        return;
    }
    std::string line;
    for (std::string_view text : texts) {
        if (TakeSwitchingText(text)) {
            line += text;
        }
    }
    if (!line.empty()) {
        WriteReply(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    }
}

bool HostPort::GetSwitchingModemStatus(uint32_t& status) {
    if (!handle_) {
        platform::SetLastError(platform::FromErrno(EBADF));
        return false;
    }
    return handle_->GetModemStatus(status);
}

}  // namespace zuvo
