#pragma once

#include <array>
#include <cstdint>

#include "platform/errors.h"
#include "platform/rtty_channel.h"

namespace zuvo::platform::fake {

// The shared block in memory. The test chooses what CreateOrOpen answers.
class FakeRttySharedBlock final : public IRttySharedBlock {
  public:
    SharedBlockOpen openResult = SharedBlockOpen::kCreated;
    int opens = 0;

    SharedBlockOpen CreateOrOpen() override;
    bool IsOpen() const override { return open_; }
    void Write32(size_t offset, uint32_t value) override;
    uint32_t Read32(size_t offset) const override;

  private:
    bool open_ = false;
    std::array<uint8_t, kRttyBlockSize> bytes_{};
};

// Records the registration; tests post RTTY messages themselves.
class FakeRttyMessageReceiver final : public IRttyMessageReceiver {
  public:
    bool registerResult = true;
    IMessagePoster* poster = nullptr;
    uint32_t target = 0x1234;

    bool Register(IMessagePoster& p) override {
        poster = &p;
        SetLastError(registerResult ? kErrorSuccess : kErrorAccessDenied);
        return registerResult;
    }
    uint32_t Target() const override { return target; }
};

}  // namespace zuvo::platform::fake
