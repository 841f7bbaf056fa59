#include "platform/IniFile.h"

#include <sys/stat.h>

#include <climits>
#include <optional>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/Text.h"

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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Parses the whole text as a 32-bit integer: an optional sign, then decimal digits or
// hexadecimal digits after "$", "0x" or "0X". Hexadecimal takes up to 32 bits ("$FFFFFFFF" is
// -1, as the Windows conversion gives it); a decimal value outside the 32-bit range is invalid.
bool ParseInteger(const std::string& text, int32_t& result) {
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    bool hex = false;
    if (pos < text.size() && text[pos] == '$') {
        hex = true;
        pos += 1;
    } else if (pos + 1 < text.size() && text[pos] == '0' &&
               (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        hex = true;
        pos += 2;
    }
    if (pos >= text.size()) {
        return false;
    }
    uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = hex ? HexDigit(text[pos])
                              : (text[pos] >= '0' && text[pos] <= '9' ? text[pos] - '0' : -1);
        if (digit < 0) {
            return false;
        }
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > (hex ? 0xFFFFFFFFull : static_cast<uint64_t>(INT32_MAX) + 1)) {
            return false;
        }
    }
    if (hex) {
        const auto bits = static_cast<uint32_t>(value);
        const auto signedValue = static_cast<int32_t>(bits);
        result = negative ? static_cast<int32_t>(0u - bits) : signedValue;
        return true;
    }
    if (!negative && value > static_cast<uint64_t>(INT32_MAX)) {
        return false;
    }
    result =
        negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
    return true;
}

}  // namespace

CIniFile::CIniFile(const std::string& path) {
    std::optional<CFile> file;
    try {
        // Non-blocking: a FIFO planted under the name must not block the start-up.
        file.emplace(path, CFile::Mode::ReadNonBlocking);
    } catch (const CSystemError&) {
        return;  // a missing or unreadable file reads as an empty one
    }
    struct stat info {};
    if (fstat(file->Descriptor(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return;  // directories, devices and pipes read as empty files too
    }

    std::map<std::string, std::string>* section = nullptr;
    bool firstLine = true;
    auto takeLine = [&](std::string line) {
        if (firstLine) {
            firstLine = false;
            if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
                line.erase(0, 3);  // UTF-8 byte order mark
            }
        }
        line = Trim(line);
        if (line.empty() || line[0] == ';') {
            return;
        }
        if (line[0] == '[') {
            const size_t close = line.rfind(']');
            if (close == std::string::npos || close == 0) {
                section = nullptr;  // a broken header: its keys belong to no section
                return;
            }
            section = &m_sections[LowerAscii(Trim(line.substr(1, close - 1)))];
            return;
        }
        const size_t equals = line.find('=');
        if (section == nullptr || equals == std::string::npos) {
            return;
        }
        // emplace keeps an existing entry: the first occurrence of a key wins.
        section->emplace(LowerAscii(Trim(line.substr(0, equals))), Trim(line.substr(equals + 1)));
    };

    std::vector<char> buffer(64 * 1024);
    std::string line;
    bool lineTooLong = false;
    size_t total = 0;
    try {
        while (total < kMaxFileBytes) {
            const size_t got = file->Read(buffer.data(), buffer.size());
            if (got == 0) {
                break;
            }
            total += got;
            for (size_t i = 0; i < got; ++i) {
                const char c = buffer[i];
                if (c == '\n') {
                    takeLine(std::move(line));
                    line.clear();
                    lineTooLong = false;
                } else if (!lineTooLong) {
                    line += c;
                    if (line.size() > kMaxLineBytes) {
                        line.clear();  // a line this long is garbage, not a setting
                        lineTooLong = true;
                    }
                }
            }
        }
    } catch (const CSystemError&) {
        // A read error ends the file; the lines read before it count.
    }
    if (!lineTooLong) {
        takeLine(std::move(line));
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
        size_t cut = kMaxValueChars;
        while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        value.resize(cut);
    }
    return value;
}

int32_t CIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t defaultValue) const {
    const std::string text = ReadString(section, key, std::string());
    int32_t value = 0;
    if (!ParseInteger(text, value)) {
        // A missing key or text that is no integer gives the default.
        return defaultValue;
    }
    return value;
}
