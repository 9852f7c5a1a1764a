#pragma once

// Test doubles around the OTRSP interpreter: the switching port, the window, the RTTY
// speed bits and an INI kept in memory.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/profile.h"
#include "rtty/rtty_speed_bits.h"
#include "switching/switching_port.h"

namespace zuvo::test {

class MapProfile : public platform::IProfile {
  public:
    std::map<std::string, std::string> values;  // "section/key" -> value

    size_t GetString(const std::string& section, const std::string& key,
                     const std::string& defaultValue, char* buf, size_t size,
                     const std::string&) override {
        auto it = values.find(section + "/" + key);
        const std::string& v = it != values.end() ? it->second : defaultValue;
        if (size == 0) {
            return 0;
        }
        const size_t n = std::min(v.size(), size - 1);
        v.copy(buf, n);
        buf[n] = '\0';
        return n;
    }
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string&) override {
        values[section + "/" + key] = value;
        return true;
    }
};

class FakeSwitchingPort : public ISwitchingPort {
  public:
    std::vector<std::string> writes;
    bool pipeMode = true;
    bool modemOk = true;
    uint32_t modemStatus = 0;

    void WriteSwitchingText(std::string_view text) override { writes.emplace_back(text); }
    bool PipeMode() const override { return pipeMode; }
    bool GetSwitchingModemStatus(uint32_t& status) override {
        if (!modemOk) {
            platform::SetLastError(platform::kErrorAccessDenied);
            return false;
        }
        status = modemStatus;
        return true;
    }
    std::string Joined() const {
        std::string all;
        for (const auto& w : writes) {
            all += w;
        }
        return all;
    }
};

class FakeSwitchingWindow : public ISwitchingWindow {
  public:
    int latchChecks = -1;
    int splitChecks = -1;
    int blendSelection = 0;
    void SetLatchCheck(bool on) override { latchChecks = on; }
    void SetSplitStereoCheck(bool on) override { splitChecks = on; }
    int BlendSelection() const override { return blendSelection; }
};

class FakeRttySpeedBits : public IRttySpeedBits {
  public:
    int sends = 0;
    int resets = 0;
    void SendRttySpeedBits() override { ++sends; }
    void ResetRttySpeedBits() override { ++resets; }
};

}  // namespace zuvo::test
