#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zuvo {

inline constexpr int kSendBufferSize = 128;

// What the keyer emulation is doing with its send buffer.
enum SendState : uint8_t {
    kSendIdle = 0,
    kSendLoading = 1,   // looking for the next character to hand over
    kSendSending = 2,   // a character has been handed to the box
    kSendDraining = 3,  // nothing left to hand over; waiting for the box to go idle
};

// The send buffer and its pointers, shared by the WinKeyer interpreter and the smart editor.
// Pointers run 0..128: 128 is one past the last position and is never read or written; a
// read there gives 0, as if the buffer ended with a null.
struct SendBuffer {
    using Bytes = std::array<uint8_t, kSendBufferSize>;

    Bytes data{};
    int insPtr = 0;   // where the next host byte goes
    int end = 0;      // one past the highest position written since the last reset
    int loadPtr = 0;  // the character last handed to the box with Keyer Char
    int sendPtr = 0;  // the character the box is sending now
    uint8_t state = kSendIdle;
    bool overwriteMode = false;  // the host's last pointer command was an overwrite

    // Edit state of the smart editor.
    Bytes snapshot{};
    bool editActive = false;
    uint8_t altChar = 0;
    int altLoad = 0;
    bool altValid = false;

    static uint8_t At(const Bytes& bytes, int pos) {
        return pos >= 0 && pos < kSendBufferSize ? bytes[static_cast<size_t>(pos)] : 0;
    }
    uint8_t At(int pos) const { return At(data, pos); }

    // Position of the first 0 byte, or 128 when there is none.
    static int Length(const Bytes& bytes) {
        for (int i = 0; i < kSendBufferSize; ++i) {
            if (bytes[static_cast<size_t>(i)] == 0) {
                return i;
            }
        }
        return kSendBufferSize;
    }

    static std::string_view Text(const Bytes& bytes) {
        return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
    }

    // Pointers back to the start; the contents stay.
    void ResetPointers() { insPtr = end = loadPtr = sendPtr = 0; }
};

}  // namespace zuvo
