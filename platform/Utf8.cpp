#include "platform/Utf8.h"

#include <stdexcept>

namespace {

// The bytes that may follow a lead byte as the second one: every other continuation byte
// takes 80..BF, but the second byte is narrower where a wider range would give an overlong
// form (E0, F0), a surrogate (ED) or a value above U+10FFFF (F4).
struct LeadRule {
    size_t length;
    unsigned char secondMin;
    unsigned char secondMax;
};

std::optional<LeadRule> RuleOf(unsigned char lead) {
    if (lead < 0x80) {
        return LeadRule{1, 0, 0};
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return LeadRule{2, 0x80, 0xBF};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return LeadRule{3, static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
                        static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return LeadRule{4, static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
                        static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
    }
    return std::nullopt;  // a continuation byte, C0, C1 or F5..FF
}

// How many bytes from `pos` on fit the sequence begun there (at most its length).
size_t FittingBytes(std::string_view text, size_t pos, const LeadRule& rule) {
    size_t fitting = 1;
    while (fitting < rule.length && pos + fitting < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos + fitting]);
        const bool fits =
            fitting == 1 ? byte >= rule.secondMin && byte <= rule.secondMax : (byte & 0xC0) == 0x80;
        if (!fits) {
            break;
        }
        ++fitting;
    }
    return fitting;
}

}  // namespace

std::optional<Utf8Char> DecodeUtf8At(std::string_view text, size_t pos) {
    if (pos >= text.size()) {
        return std::nullopt;
    }
    const auto lead = static_cast<unsigned char>(text[pos]);
    const std::optional<LeadRule> rule = RuleOf(lead);
    if (!rule || FittingBytes(text, pos, *rule) != rule->length) {
        return std::nullopt;
    }
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t codePoint = lead & kLeadBits[rule->length];
    for (size_t k = 1; k < rule->length; ++k) {
        codePoint = codePoint << 6 | (static_cast<unsigned char>(text[pos + k]) & 0x3Fu);
    }
    return Utf8Char{codePoint, rule->length};
}

bool IsValidUtf8(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        const std::optional<Utf8Char> next = DecodeUtf8At(text, pos);
        if (!next) {
            return false;
        }
        pos += next->length;
    }
    return true;
}

std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    std::u32string codePoints;
    for (size_t pos = 0; pos < text.size();) {
        const std::optional<Utf8Char> next = DecodeUtf8At(text, pos);
        if (!next) {
            return std::nullopt;
        }
        codePoints += next->codePoint;
        pos += next->length;
    }
    return codePoints;
}

void AppendUtf8(std::string& text, char32_t codePoint) {
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
        throw std::invalid_argument("Code point " +
                                    std::to_string(static_cast<unsigned long>(codePoint)) +
                                    " has no UTF-8 form");
    }
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
        return;
    }
    const size_t length = codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
    static constexpr unsigned char kLeadMarks[] = {0, 0, 0xC0, 0xE0, 0xF0};
    text += static_cast<char>(kLeadMarks[length] | (codePoint >> (6 * (length - 1))));
    for (size_t k = length - 1; k > 0; --k) {
        text += static_cast<char>(0x80 | ((codePoint >> (6 * (k - 1))) & 0x3F));
    }
}

size_t Utf8CompletePrefix(std::string_view text) {
    // A sequence is at most 4 bytes: a cut one begins within the last 3.
    for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const size_t pos = text.size() - back;
        const auto byte = static_cast<unsigned char>(text[pos]);
        if ((byte & 0xC0) == 0x80) {
            continue;
        }
        const std::optional<LeadRule> rule = RuleOf(byte);
        const bool cut = rule && rule->length > back && FittingBytes(text, pos, *rule) == back;
        return cut ? pos : text.size();
    }
    return text.size();
}
