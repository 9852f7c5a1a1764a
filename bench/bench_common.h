#pragma once

// Pieces the pty benchmarks share: a HID system that lets a benchmark note the moment a
// report crosses the HID boundary, dialogs that answer nothing, and raw mode for a pty end.

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

namespace zuvo::bench {

// Wraps a HID system; onWrite sees each report the link writes (before it goes out), onRead
// each read result with its buffer (as the device read thread gets it). Both run on the
// writing or reading thread.
class ObservedHid final : public platform::IHidSystem {
  public:
    using WriteHook = std::function<void(const uint8_t* data, size_t length)>;
    using ReadHook = std::function<void(const uint8_t* buf, const platform::HidReadResult&)>;

    ObservedHid(platform::IHidSystem& inner, WriteHook onWrite, ReadHook onRead = nullptr)
        : inner_(inner), onWrite_(std::move(onWrite)), onRead_(std::move(onRead)) {}

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
            return inner_->Write(data, length);
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
