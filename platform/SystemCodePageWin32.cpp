#include "platform/SystemCodePage.h"

#include <windows.h>

#include <stdexcept>

#include "platform/Utf16.h"

std::string FromSystemCodePage(std::string_view text) {
    return ToUtf8(DecodeToUtf16(text, CP_ACP));
}

std::string ToSystemCodePage(std::string_view utf8) {
    const std::wstring wide = ToUtf16(utf8);
    if (wide.empty()) {
        return {};
    }
    const int length = static_cast<int>(wide.size());
    BOOL lost = FALSE;
    const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length,
                                           nullptr, 0, nullptr, &lost);
    if (needed == 0 || lost) {
        throw std::runtime_error("\"" + std::string(utf8) +
                                 "\" не можна записати в кодовій сторінці системи");
    }
    std::string text(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, text.data(), needed,
                        nullptr, nullptr);
    return text;
}

std::string FromConsoleCodePage(std::string_view text) {
    return ToUtf8(DecodeToUtf16(text, CP_OEMCP));
}
