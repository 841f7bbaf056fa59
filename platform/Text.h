#pragma once
// Small byte-string helpers shared by the layers. Texts are 8-bit (UTF-8 or Windows-1251);
// only ASCII letters change case.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string LowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return LowerAscii(c); });
    return text;
}

inline bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

// Removes leading and trailing characters of code 32 or less (blanks and control characters).
inline std::string_view TrimControl(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Decimal text as a 32-bit integer: an optional sign and at least one digit, nothing else (no
// blanks). nullopt for any other text and for a value outside the 32-bit range.
inline std::optional<int32_t> TryParseInteger(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (negative || text.front() == '+')) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // One beyond INT32_MAX is read as well: negated it is INT32_MIN.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > kLimit) {
            return std::nullopt;
        }
    }
    if (!negative && value == kLimit) {
        return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

// The one message for a text that is not an integer: "'X' is not a valid integer value".
inline std::string NotAnIntegerMessage(std::string_view text) {
    return "'" + std::string(text) + "' is not a valid integer value";
}

// TryParseInteger that throws std::runtime_error with NotAnIntegerMessage instead.
inline int32_t ParseInteger(std::string_view text) {
    if (const std::optional<int32_t> value = TryParseInteger(text)) {
        return *value;
    }
    throw std::runtime_error(NotAnIntegerMessage(text));
}

// The value of a hexadecimal digit (either case); -1 for any other character.
inline int HexDigitValue(char c) {
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

// Bytes as lower-case hexadecimal digits, two per byte.
inline std::string HexEncode(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

// The lines of a text: LF separated, a CR before the LF removed, nothing after a final LF.
inline std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

// Rewrites LF-separated lines as lines each followed by CR LF (the form the server and the
// update logs take), in place, from the back.
inline void EndLinesWithCrLf(std::string& text) {
    if (text.empty()) {
        return;
    }
    const size_t lineFeeds = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    const bool lastLineOpen = text.back() != '\n';
    const size_t oldSize = text.size();
    text.resize(oldSize + lineFeeds + (lastLineOpen ? 2 : 0));
    size_t to = text.size();
    if (lastLineOpen) {
        text[--to] = '\n';
        text[--to] = '\r';
    }
    for (size_t from = oldSize; from-- > 0;) {
        const char c = text[from];
        text[--to] = c;
        if (c == '\n') {
            text[--to] = '\r';
        }
    }
}
