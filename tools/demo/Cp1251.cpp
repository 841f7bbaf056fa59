#include "tools/demo/Cp1251.h"

#include <cstdint>
#include <stdexcept>

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
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        char32_t codePoint = 0;
        size_t length = 0;
        if (lead < 0x80) {
            codePoint = lead;
            length = 1;
        } else if ((lead & 0xE0) == 0xC0) {
            codePoint = lead & 0x1F;
            length = 2;
        } else if ((lead & 0xF0) == 0xE0) {
            codePoint = lead & 0x0F;
            length = 3;
        } else {
            throw std::invalid_argument("unsupported UTF-8 sequence in \"" + utf8 + "\"");
        }
        if (i + length > utf8.size()) {
            throw std::invalid_argument("truncated UTF-8 sequence in \"" + utf8 + "\"");
        }
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) {
                throw std::invalid_argument("invalid UTF-8 sequence in \"" + utf8 + "\"");
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        out.push_back(static_cast<char>(ToByte(codePoint)));
        i += length;
    }
    return out;
}
