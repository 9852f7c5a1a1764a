#pragma once

// Test doubles for the keyer emulation's collaborators. They write one journal so that a
// test can pin the order of box commands, host bytes and switching calls together.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "keyer/keyer_options.h"
#include "keyer/keyer_port.h"
#include "link/box_sender.h"
#include "platform/profile.h"
#include "switching/switching_control.h"

namespace zuvo::test {

struct Journal {
    std::vector<std::string> entries;
    void Add(const char* what, int a, int b = -1) {
        char line[32];
        if (b < 0) {
            std::snprintf(line, sizeof line, "%s %02x", what, a);
        } else {
            std::snprintf(line, sizeof line, "%s %02x %02x", what, a, b);
        }
        entries.emplace_back(line);
    }
    void Clear() { entries.clear(); }
};

// "box cc vv" for each command written; nothing (but a refusal count) while disconnected.
class JournalBoxSender final : public IBoxSender {
  public:
    explicit JournalBoxSender(Journal& journal) : journal_(journal) {}
    bool connected = true;
    int refusals = 0;
    std::vector<std::pair<uint8_t, uint8_t>> sent;

    bool SendBoxCommand(int code, int value) override {
        if (!connected) {
            ++refusals;
            return false;
        }
        sent.emplace_back(static_cast<uint8_t>(code), static_cast<uint8_t>(value));
        journal_.Add("box", code & 0xFF, value & 0xFF);
        return true;
    }
    bool IsConnectedFlag() const override { return connected; }

  private:
    Journal& journal_;
};

// "host bb" for each byte written to the logger.
class FakeKeyerPort final : public IKeyerPort {
  public:
    explicit FakeKeyerPort(Journal& journal) : journal_(journal) {}
    bool running = true;
    std::vector<uint8_t> written;

    bool IsKeyerPortRunning() const override { return running; }
    void WriteKeyerByte(uint8_t byte) override {
        written.push_back(byte);
        journal_.Add("host", byte);
    }

  private:
    Journal& journal_;
};

// "latch+ r", "latch- r", "ptt b", "update ptt".
class FakeSwitchingControl final : public ISwitchingControl {
  public:
    explicit FakeSwitchingControl(Journal& journal) : journal_(journal) {}
    bool keyerPtt = false;

    void BeginHeadphoneLatch(int reason) override { journal_.Add("latch+", reason); }
    void EndHeadphoneLatch(int reasons) override { journal_.Add("latch-", reasons); }
    void SetKeyerPtt(bool on) override {
        keyerPtt = on;
        journal_.Add("ptt", on ? 1 : 0);
    }
    void SetRttyPtt(bool) override {}
    bool RttyPtt() const override { return false; }
    void UpdatePtt() override { journal_.entries.emplace_back("update ptt"); }
    int CurrentTxIndex() const override { return 0; }
    uint8_t RequestedMap(int) const override { return 0; }

  private:
    Journal& journal_;
};

class FakeKeyerOptions final : public IKeyerOptions {
  public:
    bool loggerControls = false;
    bool smartEditing = false;
    bool LoggerControlsKeyer() const override { return loggerControls; }
    bool SmartEditing() const override { return smartEditing; }
};

// Settings as section/key -> value text (keys compared as given).
class MapProfile final : public platform::IProfile {
  public:
    std::map<std::string, std::string> values;  // "Section/Key"

    size_t GetString(const std::string& section, const std::string& key,
                     const std::string& defaultValue, char* buf, size_t size,
                     const std::string&) override {
        auto it = values.find(section + "/" + key);
        const std::string& v = it == values.end() ? defaultValue : it->second;
        const size_t n = size == 0 ? 0 : std::min(v.size(), size - 1);
        v.copy(buf, n);
        if (size != 0) {
            buf[n] = '\0';
        }
        return n;
    }
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string&) override {
        values[section + "/" + key] = value;
        return true;
    }
    std::string Get(const std::string& sectionKey) const {
        auto it = values.find(sectionKey);
        return it == values.end() ? std::string("<missing>") : it->second;
    }
};

}  // namespace zuvo::test
