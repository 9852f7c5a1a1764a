#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/errors.h"
#include "platform/message_queue.h"

namespace zuvo::platform {

// The RTTY bridge's two system objects: the shared block an RTTY program finds the interface
// program through, and the message it sends. Names and layout are the external interface.
inline constexpr char kRttyBlockName[] = "Zuvo Box Shared Memory";
inline constexpr char kRttyMessageName[] = "Zuvo Box RTTY Message";
inline constexpr size_t kRttyBlockSize = 4096;

// Block layout, every field a naturally aligned little-endian 32-bit number.
inline constexpr size_t kRttyOffsetTarget = 0;     // where the message goes (window / process)
inline constexpr size_t kRttyOffsetMarker = 4;     // 1 while written by the interface program
inline constexpr size_t kRttyOffsetCounters = 12;  // station 1..4 character counters
inline constexpr size_t RttyCounterOffset(int station) {
    return kRttyOffsetCounters + 4 * static_cast<size_t>(station - 1);
}

enum class SharedBlockOpen {
    kCreated,  // new (or taken over from a program that has ended): start from defaults
    kOpened,   // an existing block is now ours
    kFailed,   // not available; the bridge runs without counters
};

// The named shared block, created by the interface program. Main thread only.
class IRttySharedBlock {
  public:
    virtual ~IRttySharedBlock() = default;
    // Creates the block, or opens it when it already exists, and maps it for writing. Called
    // once at start-up. kFailed sets the last error (the program logs it); only a program
    // that has no bridge by design answers kFailed with last error 0, which logs nothing.
    virtual SharedBlockOpen CreateOrOpen() = 0;
    virtual bool IsOpen() const = 0;
    // Stores one 32-bit field (little-endian) at a 4-aligned offset inside the block, as one
    // atomic store so a reader in another process never sees half a value. Nothing happens
    // while the block is not open.
    virtual void Write32(size_t offset, uint32_t value) = 0;
    virtual uint32_t Read32(size_t offset) const = 0;
};

// The RTTY message: another process sends it to the interface program, which handles it on
// the main thread.
class IRttyMessageReceiver {
  public:
    virtual ~IRttyMessageReceiver() = default;
    // Main thread, once. Registers the message and starts delivering each one to the poster
    // as Message{kMsgRtty, wParam, lParam}. A delivery the receiver could not read as a
    // message is reported at most once, as a kMsgRtty whose text describes it. False with
    // the last error set when the message cannot be received (last error 0: no bridge by
    // design, as for CreateOrOpen).
    virtual bool Register(IMessagePoster& poster) = 0;
    // The value an RTTY program reads at offset 0 of the block to address the message (the
    // window handle on Windows, the process id on Linux).
    virtual uint32_t Target() const = 0;
};

// For a program without the bridge's system objects: the block is never available and no
// message arrives, so the bridge runs without counters and nobody can reach it. Nothing
// failed, so nothing is logged.
class NullRttySharedBlock final : public IRttySharedBlock {
  public:
    SharedBlockOpen CreateOrOpen() override {
        SetLastError(kErrorSuccess);
        return SharedBlockOpen::kFailed;
    }
    bool IsOpen() const override { return false; }
    void Write32(size_t, uint32_t) override {}
    uint32_t Read32(size_t) const override { return 0; }
};
class NullRttyMessageReceiver final : public IRttyMessageReceiver {
  public:
    bool Register(IMessagePoster&) override {
        SetLastError(kErrorSuccess);
        return false;
    }
    uint32_t Target() const override { return 0; }
};

// Where a composition root plugs in the platform's objects after construction. Until Set is
// called it behaves as the null stand-ins above.
class RttyChannelSlot final : public IRttySharedBlock, public IRttyMessageReceiver {
  public:
    void Set(IRttySharedBlock* block, IRttyMessageReceiver* receiver) {
        block_ = block != nullptr ? block : &nullBlock_;
        receiver_ = receiver != nullptr ? receiver : &nullReceiver_;
    }
    SharedBlockOpen CreateOrOpen() override { return block_->CreateOrOpen(); }
    bool IsOpen() const override { return block_->IsOpen(); }
    void Write32(size_t offset, uint32_t value) override { block_->Write32(offset, value); }
    uint32_t Read32(size_t offset) const override { return block_->Read32(offset); }
    bool Register(IMessagePoster& poster) override { return receiver_->Register(poster); }
    uint32_t Target() const override { return receiver_->Target(); }

  private:
    NullRttySharedBlock nullBlock_;
    NullRttyMessageReceiver nullReceiver_;
    IRttySharedBlock* block_ = &nullBlock_;
    IRttyMessageReceiver* receiver_ = &nullReceiver_;
};

}  // namespace zuvo::platform
