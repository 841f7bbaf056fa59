#pragma once
// UTF-8 by the strict rules of the standard: shortest forms only (no C0 AF, no E0 80 80), no
// surrogates (ED A0 80 .. ED BF BF), nothing above U+10FFFF, no sequence cut short and no
// continuation byte alone. The one reading and writing of UTF-8 in the code base, so that the
// file names the packer writes are exactly those the archiver takes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The code point that starts at `pos` and the number of bytes it takes; nullopt when the bytes
// there are no valid sequence.
struct Utf8Char {
    char32_t codePoint = 0;
    size_t length = 0;
};
std::optional<Utf8Char> DecodeUtf8At(std::string_view text, size_t pos);

bool IsValidUtf8(std::string_view text);

// The code points of valid UTF-8; nullopt for anything else.
std::optional<std::u32string> DecodeUtf8(std::string_view text);

// Appends the UTF-8 bytes of `codePoint`; throws std::invalid_argument for a surrogate or a value
// above U+10FFFF, which UTF-8 cannot carry.
void AppendUtf8(std::string& text, char32_t codePoint);

// The length of `text` without a valid sequence that its end cuts short (text written in pieces
// keeps that part for the next piece); bytes that can never become valid UTF-8 are not held back.
size_t Utf8CompletePrefix(std::string_view text);
