#pragma once
// Text at the boundary of the Windows W functions: our strings are UTF-8, Windows takes and
// gives UTF-16. Bytes that are not UTF-8 become U+FFFD on the way in.

#include <string>
#include <string_view>

std::wstring ToUtf16(std::string_view utf8);
std::string ToUtf8(std::wstring_view utf16);
// Bytes that another program wrote without saying how: UTF-8 when they are valid UTF-8, else
// text of `codePage` (CP_ACP, CP_OEMCP or a number such as 1251).
std::wstring DecodeToUtf16(std::string_view bytes, unsigned codePage);
