#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_store.h"
#include "fakes/fakes.h"
#include "keyer/keyer_fakes.h"
#include "keyer/winkeyer.h"
#include "link/box_protocol.h"
#include "link/box_state.h"

namespace zuvo::test {

// A WinKeyer wired to fakes that all write one journal.
class WinKeyerFixture : public ::testing::Test {
  public:
    using Lines = std::vector<std::string>;

  protected:
    // Bytes as the keyer port thread posts them: sign-extended.
    void Host(std::initializer_list<int> bytes) {
        for (int b : bytes) {
            keyer.OnKeyerByte(0, static_cast<int8_t>(b));
        }
    }
    void HostText(std::string_view text) {
        for (char c : text) {
            keyer.OnKeyerByte(0, static_cast<int8_t>(c));
        }
    }
    // Port open, admin host open, echo on (mode bit 2); journal and log emptied.
    void OpenHostWithEcho() {
        keyer.OnKeyerPortOpened();
        Host({0x00, 0x02});  // admin: host open
        Host({0x0E, 0x04});  // mode: echo
        Take();
        port.written.clear();
        log.Clear();
    }
    // The box starts the character it holds loaded.
    void BoxStarts(char c) { keyer.OnBoxSendingChar(static_cast<uint8_t>(c)); }
    void BoxEvent(uint8_t type) { keyer.OnBoxKeyerEvent(type); }

    // Plays the box from the first Keyer Char in `box.sent`: it starts every character it
    // is handed, in order, until nothing more is handed, then goes idle.
    void BoxKeysEverything() {
        size_t started = 0;
        for (std::string handed = Handed(); started < handed.size(); handed = Handed()) {
            keyer.OnBoxSendingChar(static_cast<uint8_t>(handed[started++]));
            BoxEvent(box::kEventEndOfCharacter);
        }
        BoxEvent(box::kEventIdle);
    }
    // The characters handed to the box with Keyer Char, in order.
    std::string Handed() const {
        std::string text;
        for (const auto& [code, value] : box.sent) {
            if (code == box::kKeyerChar) {
                text += static_cast<char>(value);
            }
        }
        return text;
    }

    Lines Take() {
        Lines out = journal.entries;
        journal.Clear();
        return out;
    }
    const SendBuffer& Buf() const { return keyer.Buffer(); }

    Journal journal;
    FakeEventLog log;
    FakeVerbose verbose;
    JournalBoxSender box{journal};
    BoxState state;
    FakeKeyerPort port{journal};
    FakeSwitchingControl switching{journal};
    MapProfile profile;
    SettingsStore settings{profile, "ZuvoBox.ini"};
    FakeKeyerOptions options;
    WinKeyer keyer{box, state, port, switching, settings, log, verbose, options};
};

}  // namespace zuvo::test
