#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/errors.h"
#include "platform/profile.h"

namespace zuvo::platform::fake {

// INI files kept in memory, path -> text, with the same document rules as the real files.
// Tests seed and inspect the text, and can make a path unwritable (a missing folder, no
// permission). Main thread only, like the real profile.
class MemoryProfile final : public IProfile {
  public:
    size_t GetString(const std::string& section, const std::string& key,
                     const std::string& defaultValue, char* buf, size_t size,
                     const std::string& path) override;
    // Unwritable path: false with the last error set to the chosen code, text unchanged.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& path) override;

    void SetText(const std::string& path, std::string text) { files_[path] = std::move(text); }
    std::optional<std::string> Text(const std::string& path) const;
    void Remove(const std::string& path) { files_.erase(path); }

    // error: the last error a write to the path reports.
    void SetUnwritable(const std::string& path, uint32_t error = kErrorAccessDenied);
    void SetWritable(const std::string& path) { unwritable_.erase(path); }

    int Reads() const { return reads_; }
    int Writes() const { return writes_; }

  private:
    std::map<std::string, std::string> files_;
    std::map<std::string, uint32_t> unwritable_;
    int reads_ = 0;
    int writes_ = 0;
};

}  // namespace zuvo::platform::fake
