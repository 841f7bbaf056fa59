#include "platform/IniFile.h"

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SystemCodePage.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "platform/Utf8.h"

namespace {

// Bounds that keep a damaged or hostile file from exhausting memory or time: a real lib.ini
// is a few hundred bytes.
constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;
constexpr size_t kMaxLineBytes = 64 * 1024;
constexpr size_t kMaxValueChars = 2047;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// An integer of the profile rules: decimal as TryParseInteger reads it, or, after an optional
// sign, hexadecimal digits after "$", "0x" or "0X". Hexadecimal takes up to 32 bits
// ("$FFFFFFFF" is -1, as the Windows conversion gives it).
std::optional<int32_t> ParseProfileInteger(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    std::string_view digits = text;
    if (!digits.empty() && (negative || digits.front() == '+')) {
        digits.remove_prefix(1);
    }
    if (digits.starts_with('$')) {
        digits.remove_prefix(1);
    } else if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
    } else {
        return TryParseInteger(text);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    const auto bits = static_cast<uint32_t>(value);
    return static_cast<int32_t>(negative ? 0u - bits : bits);
}

using Sections = std::map<std::string, std::map<std::string, std::string>>;

// The file at `path` when it is a regular file that can be read; directories, devices, pipes
// and missing or unreadable files read as empty ones.
std::optional<CFile> OpenRegularFile(const std::string& path) {
    try {
        // Non-blocking: a FIFO planted under the name must not block the start-up.
        CFile file(path, CFile::Mode::ReadNonBlocking);
        if (file.GetKind() == CFile::Kind::Regular) {
            return file;
        }
    } catch (const CSystemError&) {
    }
    return std::nullopt;
}

// A settings file beyond the bound is refused as a whole: read in part, it could silently lose
// the keys that come after the cut.
[[noreturn]] void ThrowTooLarge(const std::string& path) {
    throw CSystemError(EFBIG, "The file \"" + path + "\" is larger than " +
                                  std::to_string(kMaxFileBytes / (1024 * 1024)) +
                                  " MB: it cannot be a settings file");
}

// The lines of the file (LF separated). A line longer than kMaxLineBytes is garbage, not a
// setting: it reads as an empty line. A read error ends the file; the lines read before it
// count. More than kMaxFileBytes (a file that grew while it was read) throws.
std::vector<std::string> ReadLines(CFile& file) {
    std::vector<std::string> lines;
    std::vector<char> buffer(64 * 1024);
    std::string line;
    bool lineTooLong = false;
    size_t total = 0;
    for (;;) {
        size_t got = 0;
        try {
            got = file.Read(buffer.data(), buffer.size());
        } catch (const CSystemError&) {
        }
        if (got == 0) {
            break;
        }
        total += got;
        if (total > kMaxFileBytes) {
            ThrowTooLarge(file.Path());
        }
        for (size_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                lines.push_back(std::move(line));
                line.clear();
                lineTooLong = false;
            } else if (!lineTooLong) {
                line += c;
                if (line.size() > kMaxLineBytes) {
                    line.clear();
                    lineTooLong = true;
                }
            }
        }
    }
    if (!lineTooLong) {
        lines.push_back(std::move(line));
    }
    return lines;
}

// Adds one line to `sections`: a section header makes `section` the one that the following
// keys go to; comments, blank lines and lines without '=' are skipped.
void TakeLine(const std::string& text, Sections& sections,
              std::map<std::string, std::string>*& section) {
    const std::string line = Trim(text);
    if (line.empty() || line[0] == ';') {
        return;
    }
    if (line[0] == '[') {
        const size_t close = line.rfind(']');
        if (close == std::string::npos || close == 0) {
            section = nullptr;  // a broken header: its keys belong to no section
            return;
        }
        section = &sections[LowerAscii(Trim(line.substr(1, close - 1)))];
        return;
    }
    const size_t equals = line.find('=');
    if (section == nullptr || equals == std::string::npos) {
        return;
    }
    // emplace keeps an existing entry: the first occurrence of a key wins.
    section->emplace(LowerAscii(Trim(line.substr(0, equals))), Trim(line.substr(equals + 1)));
}

}  // namespace

CIniFile::CIniFile(const std::string& path) {
    std::optional<CFile> file = OpenRegularFile(path);
    if (!file) {
        return;
    }
    if (file->Size() > static_cast<int64_t>(kMaxFileBytes)) {
        ThrowTooLarge(path);
    }
    std::vector<std::string> lines = ReadLines(*file);
    if (!lines.empty() && lines.front().starts_with("\xEF\xBB\xBF")) {
        lines.front().erase(0, 3);  // UTF-8 byte order mark
    }
    std::map<std::string, std::string>* section = nullptr;
    for (const std::string& line : lines) {
        // The suite's programs write the file in the system's code page on Windows.
        TakeLine(FromSystemCodePage(line), m_sections, section);
    }
}

std::string CIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const auto sectionIt = m_sections.find(LowerAscii(section));
    if (sectionIt == m_sections.end()) {
        return defaultValue;
    }
    const auto keyIt = sectionIt->second.find(LowerAscii(key));
    if (keyIt == sectionIt->second.end()) {
        return defaultValue;
    }
    // A NUL byte ends the text, as in the C strings the system calls take.
    std::string value = keyIt->second.substr(0, keyIt->second.find('\0'));
    value = Trim(value);
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
        value = value.substr(1, value.size() - 2);
    }
    if (value.size() > kMaxValueChars) {
        // Cut at a character boundary so that a UTF-8 text does not end in half a character.
        value.resize(Utf8CompletePrefix(std::string_view(value).substr(0, kMaxValueChars)));
    }
    return value;
}

int32_t CIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t defaultValue) const {
    // A missing key or text that is no integer gives the default.
    return ParseProfileInteger(ReadString(section, key, std::string())).value_or(defaultValue);
}
