#include "platform/SystemCodePage.h"

#include <windows.h>

#include <limits>
#include <stdexcept>

#include "platform/Utf16.h"

namespace {

std::string FromCodePage(std::string_view text, UINT codePage) {
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
    const int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), needed);
    return ToUtf8(wide);
}

}  // namespace

std::string FromSystemCodePage(std::string_view text) {
    return FromCodePage(text, CP_ACP);
}

std::string FromConsoleCodePage(std::string_view text) {
    return FromCodePage(text, CP_OEMCP);
}
