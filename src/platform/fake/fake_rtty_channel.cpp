#include "platform/fake/fake_rtty_channel.h"

namespace zuvo::platform::fake {

SharedBlockOpen FakeRttySharedBlock::CreateOrOpen() {
    ++opens;
    open_ = openResult != SharedBlockOpen::kFailed;
    SetLastError(open_ ? kErrorSuccess : kErrorAccessDenied);
    return openResult;
}

void FakeRttySharedBlock::Write32(size_t offset, uint32_t value) {
    if (!open_ || offset % 4 != 0 || offset + 4 > bytes_.size()) {
        return;
    }
    for (size_t i = 0; i < 4; ++i) {
        bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t FakeRttySharedBlock::Read32(size_t offset) const {
    if (offset % 4 != 0 || offset + 4 > bytes_.size()) {
        return 0;
    }
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(bytes_[offset + i]) << (8 * i);
    }
    return value;
}

}  // namespace zuvo::platform::fake
