#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zuvo::platform {

// The text of one INI file with the private-profile rules of the Windows build:
//
// - A section starts at a line whose first non-blank character is "[" and which holds a "]";
//   its name is the text between the "[" and the last "]", blanks trimmed. Lines before the
//   first section belong to no section and are never looked up.
// - A key line is a line inside a section that holds "=" and does not start with ";"; its
//   key is the text before the first "=", its value the text after it, both blanks trimmed.
// - Section and key names compare without regard to ASCII letter case, after trimming the
//   blanks of the name asked for. The first matching section, and in it the first matching
//   key, wins; later duplicates are never read or written.
// - Every line the writer does not change (comments, blank lines, lines it does not
//   understand, other keys) is written back byte for byte, with its own line ending. The
//   text may hold any bytes, NULs included.
// - A UTF-8 byte-order mark at the very start is no part of the first line; it is kept and
//   written back.
//
// Lines added by Set take the line ending of the file's first line (CRLF or LF); a file
// with no line ending yet gets LF, the convention of the Linux build.
class IniDocument {
  public:
    IniDocument() = default;
    explicit IniDocument(std::string_view text);

    // The value of the key, blanks trimmed and one pair of enclosing double quotes removed;
    // nullopt when the section or key is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // Sets key=value. An existing key line is rewritten in place (keeping its key's spelling
    // and its line ending); a missing key is added after the last non-blank line of the
    // section; a missing section is added at the end of the text, after a blank line, with
    // the key under it. False (nothing changed) when the names cannot be written as one line:
    // an empty key, a key holding "=", a section holding "]", or a line break in either.
    // A value holding a line break is cut before it, so a value can never add lines.
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    std::string Serialize() const;

    // "\r\n" or "\n": what Set ends added lines with.
    const std::string& LineEnding() const { return lineEnding_; }

  private:
    enum class Kind { kOther, kSection, kKey };
    struct Line {
        std::string text;  // without its line ending
        std::string end;   // "\n", "\r\n" or "" (the last line of a file without final newline)
        Kind kind = Kind::kOther;
        std::string name;       // section or key name, trimmed
        size_t valueBegin = 0;  // key lines: the raw value is text.substr(valueBegin)
    };

    static Line ParseLine(std::string text, std::string end);
    // Index of the first section header matching name, or npos.
    size_t FindSection(std::string_view name) const;
    // One past the section's last line (the next header or the end of the text).
    size_t SectionEnd(size_t header) const;

    std::vector<Line> lines_;
    std::string lineEnding_ = "\n";
    std::string byteOrderMark_;
};

// Blank characters around names and values: space, tab, CR, VT, FF.
std::string_view TrimBlanks(std::string_view text);

// ASCII letter case is ignored; every other byte compares exactly.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The Windows copy-out rule of the profile read: at most size - 1 characters followed by a
// zero; returns the number copied (0, and nothing written, when buf is null or size is 0).
size_t CopyProfileString(std::string_view value, char* buf, size_t size);

// The read with Windows semantics on a file's text (nullopt: no file): the value, or the
// default with its trailing blanks dropped, copied out by CopyProfileString.
size_t ProfileGetString(const std::optional<std::string>& fileText, std::string_view section,
                        std::string_view key, std::string_view defaultValue, char* buf,
                        size_t size);

}  // namespace zuvo::platform
