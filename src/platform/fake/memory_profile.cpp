#include "platform/fake/memory_profile.h"

#include <cerrno>

#include "platform/errors.h"
#include "platform/ini_document.h"

namespace zuvo::platform::fake {

size_t MemoryProfile::GetString(const std::string& section, const std::string& key,
                                const std::string& defaultValue, char* buf, size_t size,
                                const std::string& path) {
    ++reads_;
    return ProfileGetString(Text(path), section, key, defaultValue, buf, size);
}

bool MemoryProfile::WriteString(const std::string& section, const std::string& key,
                                const std::string& value, const std::string& path) {
    ++writes_;
    const auto blocked = unwritable_.find(path);
    if (blocked != unwritable_.end()) {
        SetLastError(blocked->second);
        return false;
    }
    IniDocument document(Text(path).value_or(std::string()));
    if (!document.Set(section, key, value)) {
        SetLastError(FromErrno(EINVAL));  // as the real files report it
        return false;
    }
    files_[path] = document.Serialize();
    return true;
}

std::optional<std::string> MemoryProfile::Text(const std::string& path) const {
    const auto it = files_.find(path);
    if (it == files_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void MemoryProfile::SetUnwritable(const std::string& path, uint32_t error) {
    unwritable_[path] = error;
}

}  // namespace zuvo::platform::fake
