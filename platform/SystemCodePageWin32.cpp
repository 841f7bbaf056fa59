#include "platform/SystemCodePage.h"

#include <windows.h>

#include <limits>
#include <stdexcept>

#include "platform/Utf16.h"

std::string FromSystemCodePage(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        throw std::length_error("Text too long to convert");
    }
    const int length = static_cast<int>(text.size());
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0) > 0) {
        return std::string(text);
    }
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
    return ToUtf8(wide);
}
