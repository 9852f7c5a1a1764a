#include "sim/sim_bootloader.h"

#include <algorithm>

#include "link/box_protocol.h"

namespace zuvo::sim {

namespace {
constexpr uint8_t kRead = 1;
constexpr uint8_t kWrite = 2;
constexpr uint8_t kErase = 3;
constexpr uint8_t kEndOfProgramming = 16;
constexpr uint8_t kRestart = 0xFF;
constexpr uint32_t kChunk = 32;
}  // namespace

SimBootLoader::SimBootLoader(const IClock& clock) : clock_(clock), flash_(kFlashSize, 0xFF) {
    // Something recognisable where the boot loader lives.
    for (uint32_t a = 0; a < kApplicationStart; ++a) {
        flash_[a] = static_cast<uint8_t>(0xB0 ^ (a & 0x0F));
    }
}

void SimBootLoader::LoadFirmware(uint32_t address, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint32_t at = address + static_cast<uint32_t>(i);
        if (at >= kApplicationStart && at < kFlashSize) {
            flash_[at] = bytes[i];
        }
    }
}

void SimBootLoader::CorruptNextReadAt(uint32_t address, uint8_t mask) {
    corruptAddress_ = address;
    corruptMask_ = mask;
}

bool SimBootLoader::TakeRestartRequest() {
    const bool requested = restartRequested_;
    restartRequested_ = false;
    return requested;
}

void SimBootLoader::Answer(const Report& report) {
    int64_t at = clock_.NowMs() + answerDelayMs_;
    if (!answers_.empty()) {
        at = std::max(at, answers_.back().timeMs);
    }
    if (answers_.size() >= kMaxQueued) {
        answers_.pop_front();
    }
    answers_.push_back({at, report});
}

void SimBootLoader::ReceiveReport(const uint8_t* data, size_t length) {
    Report in{};
    std::copy_n(data, std::min(length, in.size()), in.begin());
    const uint32_t address = in[3] | in[4] << 8 | in[5] << 16;
    switch (in[1]) {
        case kErase: {
            ++erases_;
            uint32_t block = address & ~(kBlock - 1);
            for (int n = 0; n < in[2]; ++n, block += kBlock) {
                if (block >= kApplicationStart && block + kBlock <= kFlashSize) {
                    std::fill_n(flash_.begin() + block, kBlock, 0xFF);
                }
            }
            break;
        }
        case kWrite: {
            ++writes_;
            const uint32_t n = std::min<uint32_t>(in[2], kChunk);
            for (uint32_t i = 0; i < n; ++i) {
                const uint32_t at = address + i;
                if (at >= kApplicationStart && at < kFlashSize) {
                    flash_[at] &= in[6 + i];  // programming only clears bits
                }
            }
            break;
        }
        case kRead: {
            ++reads_;
            Report out{};
            out[1] = kRead;
            out[2] = static_cast<uint8_t>(kChunk);
            out[3] = in[3];
            out[4] = in[4];
            out[5] = in[5];
            for (uint32_t i = 0; i < kChunk; ++i) {
                const uint32_t at = address + i;
                out[6 + i] = at < kFlashSize ? flash_[at] : 0xFF;
                if (corruptAddress_ >= 0 && at == static_cast<uint32_t>(corruptAddress_)) {
                    out[6 + i] ^= corruptMask_;
                    corruptAddress_ = -1;
                }
            }
            Answer(out);
            break;
        }
        case kEndOfProgramming: {
            Report out{};
            out[1] = kEndOfProgramming;
            out[6] = restartFlag_ ? 1 : 0;
            Answer(out);
            break;
        }
        case kRestart:
            restartRequested_ = true;
            break;
        default:
            break;  // the boot loader ignores what it does not know
    }
}

bool SimBootLoader::HasReady() const {
    return !answers_.empty() && answers_.front().timeMs <= clock_.NowMs();
}

bool SimBootLoader::PopReady(Report& out) {
    if (!HasReady()) {
        return false;
    }
    out = answers_.front().report;
    answers_.pop_front();
    return true;
}

int64_t SimBootLoader::NextEventAfterMs(int64_t t) const {
    for (const Timed& a : answers_) {
        if (a.timeMs > t) {
            return a.timeMs;
        }
    }
    return -1;
}

bool SimBootLoaderComponent::OnHostReport(uint8_t code, uint8_t value, SimBox& box) {
    (void)code;
    (void)value;
    (void)box;
    return active_;  // the boot loader does not speak the application's 3-byte reports
}

bool SimBootLoaderComponent::OnRawReport(const uint8_t* data, size_t length, SimBox& box) {
    if (!active_) {
        return false;
    }
    if (length > 1 && (data[1] == kWrite || data[1] == kErase)) {
        programmed_ = true;
    }
    loader_.ReceiveReport(data, length);
    SimBootLoader::Report answer;
    while (loader_.PopReady(answer)) {
        box.EmitRaw(std::vector<uint8_t>(answer.begin(), answer.end()));
    }
    if (loader_.TakeRestartRequest()) {
        Leave(box);
    }
    if (unplugAfter_ > 0 && --unplugAfter_ == 0) {
        box.Unplug();
    }
    return true;
}

bool SimBootLoaderComponent::OnPaddle(SimBox& box) {
    (void)box;
    return active_;
}

bool SimBootLoaderComponent::OnPot(uint8_t wpm, SimBox& box) {
    (void)wpm;
    (void)box;
    return active_;
}

void SimBootLoaderComponent::Enter(SimBox& box) {
    if (!programmed_) {
        // The factory firmware is whatever version the box runs now.
        loader_.LoadFirmware(SimBootLoader::kVersionAddress,
                             {box.Setting(box::kQuery), box.Setting(box::kPatchLevel),
                              box.Setting(box::kSpecialVersion)});
    }
    active_ = true;
    box.SetUsbIdentity(box::kProductBootLoader, box::kBootReportSize);
    box.Restart();
}

void SimBootLoaderComponent::Leave(SimBox& box) {
    if (loader_.FirmwareErased()) {
        box.Restart();  // nothing to run: the boot loader comes back
        return;
    }
    active_ = false;
    const uint8_t version = loader_.VersionByte();
    box.SetVersion(version >> 4, version & 0x0F, loader_.PatchLevel(), loader_.SpecialVersion());
    box.SetUsbIdentity(box::kProductApplication, box::kReportSize);
    box.Restart();
}

SimBootLoaderComponent& InstallBootLoader(SimBox& box) {
    auto component = std::make_unique<SimBootLoaderComponent>();
    SimBootLoaderComponent& ref = *component;
    box.AddComponent(std::move(component));
    box.SetUpdateModeHandler([&ref](SimBox& b) { ref.Enter(b); });
    return ref;
}

}  // namespace zuvo::sim
