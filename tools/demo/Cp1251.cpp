#include "tools/demo/Cp1251.h"

#include <cstdint>
#include <optional>
#include <stdexcept>

#include "platform/Utf8.h"

namespace {

// Code points outside А..я that the texts use, with their Windows-1251 bytes.
struct Mapping {
    char32_t codePoint;
    unsigned char byte;
};
constexpr Mapping kExtraLetters[] = {
    {U'Ё', 0xA8}, {U'ё', 0xB8}, {U'Є', 0xAA}, {U'є', 0xBA}, {U'І', 0xB2}, {U'і', 0xB3},
    {U'Ї', 0xAF}, {U'ї', 0xBF}, {U'Ґ', 0xA5}, {U'ґ', 0xB4}, {U'«', 0xAB}, {U'»', 0xBB},
    {U'—', 0x97}, {U'–', 0x96}, {U'№', 0xB9}, {U'’', 0x92},
};

unsigned char ToByte(char32_t codePoint) {
    if (codePoint < 0x80) {
        return static_cast<unsigned char>(codePoint);
    }
    if (codePoint >= U'А' && codePoint <= U'я') {  // U+0410..U+044F map to 0xC0..0xFF in order
        return static_cast<unsigned char>(0xC0 + (codePoint - U'А'));
    }
    for (const Mapping& m : kExtraLetters) {
        if (m.codePoint == codePoint) {
            return m.byte;
        }
    }
    throw std::invalid_argument("no Windows-1251 byte for U+" + std::to_string(codePoint));
}

}  // namespace

std::string Utf8ToCp1251(const std::string& utf8) {
    const std::optional<std::u32string> codePoints = DecodeUtf8(utf8);
    if (!codePoints) {
        throw std::invalid_argument("invalid UTF-8 sequence in \"" + utf8 + "\"");
    }
    std::string out;
    out.reserve(codePoints->size());
    for (const char32_t codePoint : *codePoints) {
        out.push_back(static_cast<char>(ToByte(codePoint)));
    }
    return out;
}
