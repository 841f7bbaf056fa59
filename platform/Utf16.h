#pragma once
// Text at the boundary of the Windows W functions: our strings are UTF-8, Windows takes and
// gives UTF-16. Bytes that are not UTF-8 become U+FFFD on the way in.

#include <string>
#include <string_view>

std::wstring ToUtf16(std::string_view utf8);
std::string ToUtf8(std::wstring_view utf16);
