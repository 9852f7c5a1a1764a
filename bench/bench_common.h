#pragma once

// Pieces the pty benchmarks share: a HID system and host ports that let a benchmark note the
// moment a report or a byte crosses their boundary, dialogs that answer nothing, and raw
// mode for a pty end.

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/dialog_host.h"
#include "platform/hid.h"
#include "platform/host_port.h"

namespace zuvo::bench {

// Wraps a HID system; onWrite sees each report the link writes (before it goes out),
// onWritten the same once the device has it, onRead each read result with its buffer (as
// the device read thread gets it). They run on the writing or reading thread.
class ObservedHid final : public platform::IHidSystem {
  public:
    using WriteHook = std::function<void(const uint8_t* data, size_t length)>;
    using ReadHook = std::function<void(const uint8_t* buf, const platform::HidReadResult&)>;

    ObservedHid(platform::IHidSystem& inner, WriteHook onWrite, ReadHook onRead = nullptr,
                WriteHook onWritten = nullptr)
        : inner_(inner),
          onWrite_(std::move(onWrite)),
          onRead_(std::move(onRead)),
          onWritten_(std::move(onWritten)) {}

    std::vector<std::string> EnumerateInterfaces() override { return inner_.EnumerateInterfaces(); }
    std::unique_ptr<platform::IHidHandle> Open(const std::string& path,
                                               platform::HidAccess access) override {
        auto handle = inner_.Open(path, access);
        if (!handle) {
            return handle;
        }
        return std::make_unique<Handle>(std::move(handle), *this);
    }
    bool RegisterDeviceNotifications(platform::IMessagePoster& poster) override {
        return inner_.RegisterDeviceNotifications(poster);
    }

  private:
    class Handle final : public platform::IHidHandle {
      public:
        Handle(std::unique_ptr<platform::IHidHandle> inner, ObservedHid& owner)
            : inner_(std::move(inner)), owner_(owner) {}
        bool GetAttributes(platform::HidAttributes& out) override {
            return inner_->GetAttributes(out);
        }
        bool Write(const uint8_t* data, size_t length) override {
            if (owner_.onWrite_) {
                owner_.onWrite_(data, length);
            }
            const bool ok = inner_->Write(data, length);
            if (owner_.onWritten_) {
                owner_.onWritten_(data, length);
            }
            return ok;
        }
        platform::HidReadResult Read(uint8_t* buf, size_t length) override {
            const auto result = inner_->Read(buf, length);
            if (owner_.onRead_) {
                owner_.onRead_(buf, result);
            }
            return result;
        }
        void Wake() override { inner_->Wake(); }

      private:
        std::unique_ptr<platform::IHidHandle> inner_;
        ObservedHid& owner_;
    };

    platform::IHidSystem& inner_;
    WriteHook onWrite_;
    ReadHook onRead_;
    WriteHook onWritten_;
};

// Wraps the host ports; onRead runs on a port read thread each time a read has brought
// bytes, before they are posted; onWritten on the main thread after each reply write.
class ObservedHostPorts final : public platform::IHostPortSystem {
  public:
    using ReadHook = std::function<void(const uint8_t* data, size_t length)>;

    ObservedHostPorts(platform::IHostPortSystem& inner, ReadHook onRead,
                      ReadHook onWritten = nullptr)
        : inner_(inner), onRead_(std::move(onRead)), onWritten_(std::move(onWritten)) {}

    std::unique_ptr<platform::IHostPortHandle> CreatePipeServer(const std::string& name) override {
        return Wrap(inner_.CreatePipeServer(name));
    }
    std::unique_ptr<platform::IHostPortHandle> OpenSerialDevice(const std::string& path) override {
        return Wrap(inner_.OpenSerialDevice(path));
    }
    std::string ComDeviceName(int number) const override { return inner_.ComDeviceName(number); }

  private:
    class Handle final : public platform::IHostPortHandle {
      public:
        Handle(std::unique_ptr<platform::IHostPortHandle> inner, const ObservedHostPorts& owner)
            : inner_(std::move(inner)), owner_(owner) {}
        platform::PortStatus WaitForClient() override { return inner_->WaitForClient(); }
        platform::PortReadResult Read(uint8_t* buf, size_t size) override {
            const platform::PortReadResult r = inner_->Read(buf, size);
            if (r.status == platform::PortStatus::kReady && owner_.onRead_) {
                owner_.onRead_(buf, r.length);
            }
            return r;
        }
        platform::PortStatus WaitCommEvent(uint32_t& mask) override {
            return inner_->WaitCommEvent(mask);
        }
        bool InputQueueCount(size_t& count) override { return inner_->InputQueueCount(count); }
        bool Write(const uint8_t* data, size_t length) override {
            const bool ok = inner_->Write(data, length);
            if (owner_.onWritten_) {
                owner_.onWritten_(data, length);
            }
            return ok;
        }
        bool GetModemStatus(uint32_t& status) override { return inner_->GetModemStatus(status); }
        bool KeepsWriteBoundaries() const override { return inner_->KeepsWriteBoundaries(); }
        void Wake() override { inner_->Wake(); }

      private:
        std::unique_ptr<platform::IHostPortHandle> inner_;
        const ObservedHostPorts& owner_;
    };

    std::unique_ptr<platform::IHostPortHandle> Wrap(
        std::unique_ptr<platform::IHostPortHandle> handle) {
        if (!handle) {
            return handle;
        }
        return std::make_unique<Handle>(std::move(handle), *this);
    }

    platform::IHostPortSystem& inner_;
    ReadHook onRead_;
    ReadHook onWritten_;
};

class NoDialogs final : public IDialogHost {
  public:
    void ShowError(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
};

inline void MakeRaw(int fd) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

}  // namespace zuvo::bench
