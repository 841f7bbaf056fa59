#include "platform/Utf16.h"

#include <windows.h>

#include <limits>
#include <stdexcept>

namespace {

int CheckedLength(size_t length) {
    if (length > static_cast<size_t>(std::numeric_limits<int>::max())) {
        throw std::length_error("Text too long to convert");
    }
    return static_cast<int>(length);
}

}  // namespace

std::wstring ToUtf16(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int length = CheckedLength(utf8.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring text(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, text.data(), needed);
    return text;
}

std::string ToUtf8(std::wstring_view utf16) {
    if (utf16.empty()) {
        return {};
    }
    const int length = CheckedLength(utf16.size());
    const int needed =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, text.data(), needed, nullptr, nullptr);
    return text;
}

std::wstring DecodeToUtf16(std::string_view bytes, unsigned codePage) {
    if (bytes.empty()) {
        return {};
    }
    const int length = CheckedLength(bytes.size());
    UINT used = CP_UTF8;
    int needed = MultiByteToWideChar(used, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (needed == 0) {
        used = codePage;
        needed = MultiByteToWideChar(used, 0, bytes.data(), length, nullptr, 0);
    }
    std::wstring text(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(used, 0, bytes.data(), length, text.data(), needed);
    return text;
}
