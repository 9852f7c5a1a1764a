#include "platform/ini_document.h"

#include <algorithm>
#include <cstring>

namespace zuvo::platform {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view TrimTrailingBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    return TrimTrailingBlanks(text);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

IniDocument::IniDocument(std::string_view text) {
    // A byte-order mark before the first line would hide a section header there; it is kept
    // aside and written back as it was.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        byteOrderMark_ = kByteOrderMark;
        text.remove_prefix(kByteOrderMark.size());
    }
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t newline = text.find('\n', pos);
        if (newline == text.npos) {
            lines_.push_back(ParseLine(std::string(text.substr(pos)), ""));
            break;
        }
        size_t contentEnd = newline;
        std::string end = "\n";
        if (contentEnd > pos && text[contentEnd - 1] == '\r') {
            --contentEnd;
            end = "\r\n";
        }
        lines_.push_back(ParseLine(std::string(text.substr(pos, contentEnd - pos)), end));
        pos = newline + 1;
    }
    for (const Line& line : lines_) {
        if (!line.end.empty()) {
            lineEnding_ = line.end;
            break;
        }
    }
}

IniDocument::Line IniDocument::ParseLine(std::string text, std::string end) {
    Line line;
    line.text = std::move(text);
    line.end = std::move(end);
    const std::string_view view = line.text;
    size_t start = 0;
    while (start < view.size() && IsBlank(view[start])) {
        ++start;
    }
    if (start == view.size() || view[start] == ';') {
        return line;
    }
    if (view[start] == '[') {
        const size_t close = view.rfind(']');
        if (close != view.npos && close > start) {
            line.kind = Kind::kSection;
            line.name = std::string(TrimBlanks(view.substr(start + 1, close - start - 1)));
            return line;
        }
        // A "[" without "]" is no header; like the Windows reader, try it as a key line.
    }
    const size_t equals = view.find('=', start);
    if (equals != view.npos) {
        line.kind = Kind::kKey;
        line.name = std::string(TrimBlanks(view.substr(start, equals - start)));
        line.valueBegin = equals + 1;
    }
    return line;
}

size_t IniDocument::FindSection(std::string_view name) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::kSection && EqualsIgnoreCase(lines_[i].name, name)) {
            return i;
        }
    }
    return std::string::npos;
}

size_t IniDocument::SectionEnd(size_t header) const {
    for (size_t i = header + 1; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::kSection) {
            return i;
        }
    }
    return lines_.size();
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    const std::string_view wantedKey = TrimBlanks(key);
    if (wantedKey.empty()) {
        return std::nullopt;
    }
    const size_t header = FindSection(TrimBlanks(section));
    if (header == std::string::npos) {
        return std::nullopt;
    }
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        const Line& line = lines_[i];
        if (line.kind != Kind::kKey || !EqualsIgnoreCase(line.name, wantedKey)) {
            continue;
        }
        std::string_view value = TrimBlanks(std::string_view(line.text).substr(line.valueBegin));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
    }
    return std::nullopt;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view sectionName = TrimBlanks(section);
    const std::string_view keyName = TrimBlanks(key);
    // Names that would read back as another kind of line are refused rather than written.
    if (keyName.empty() || keyName.find('=') != keyName.npos || keyName.front() == ';' ||
        keyName.front() == '[' || HasLineBreak(keyName) || HasLineBreak(sectionName)) {
        return false;
    }
    const size_t lineBreak = value.find_first_of("\r\n");
    if (lineBreak != value.npos) {
        value = value.substr(0, lineBreak);
    }

    const size_t header = FindSection(sectionName);
    if (header != std::string::npos) {
        const size_t end = SectionEnd(header);
        size_t lastNonBlank = header;
        for (size_t i = header + 1; i < end; ++i) {
            Line& line = lines_[i];
            if (line.kind == Kind::kKey && EqualsIgnoreCase(line.name, keyName)) {
                // Keep everything up to the old value so the key keeps its spelling and
                // spacing; only the value changes.
                size_t keep = line.valueBegin;
                while (keep < line.text.size() && IsBlank(line.text[keep])) {
                    ++keep;
                }
                std::string text = line.text.substr(0, keep);
                text.append(value);
                line = ParseLine(std::move(text), std::move(line.end));
                return true;
            }
            if (!TrimBlanks(line.text).empty()) {
                lastNonBlank = i;
            }
        }
        if (lines_[lastNonBlank].end.empty()) {
            lines_[lastNonBlank].end = lineEnding_;
        }
        std::string text(keyName);
        text += '=';
        text.append(value);
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastNonBlank + 1),
                      ParseLine(std::move(text), lineEnding_));
        return true;
    }

    if (!lines_.empty()) {
        if (lines_.back().end.empty()) {
            lines_.back().end = lineEnding_;
        }
        if (!TrimBlanks(lines_.back().text).empty()) {
            lines_.push_back(ParseLine("", lineEnding_));
        }
    }
    std::string headerText = "[";
    headerText.append(sectionName);
    headerText += ']';
    lines_.push_back(ParseLine(std::move(headerText), lineEnding_));
    std::string text(keyName);
    text += '=';
    text.append(value);
    lines_.push_back(ParseLine(std::move(text), lineEnding_));
    return true;
}

std::string IniDocument::Serialize() const {
    size_t total = byteOrderMark_.size();
    for (const Line& line : lines_) {
        total += line.text.size() + line.end.size();
    }
    std::string out;
    out.reserve(total);
    out += byteOrderMark_;
    for (const Line& line : lines_) {
        out += line.text;
        out += line.end;
    }
    return out;
}

size_t CopyProfileString(std::string_view value, char* buf, size_t size) {
    if (buf == nullptr || size == 0) {
        return 0;
    }
    const size_t n = std::min(value.size(), size - 1);
    if (n > 0) {
        std::memcpy(buf, value.data(), n);
    }
    buf[n] = '\0';
    return n;
}

size_t ProfileGetString(const std::optional<std::string>& fileText, std::string_view section,
                        std::string_view key, std::string_view defaultValue, char* buf,
                        size_t size) {
    if (fileText) {
        const std::optional<std::string> value = IniDocument(*fileText).Get(section, key);
        if (value) {
            return CopyProfileString(*value, buf, size);
        }
    }
    return CopyProfileString(TrimTrailingBlanks(defaultValue), buf, size);
}

}  // namespace zuvo::platform
