#include "platform/SystemCodePage.h"

#include <windows.h>

#include "platform/Utf16.h"

std::string FromSystemCodePage(std::string_view text) {
    return ToUtf8(DecodeToUtf16(text, CP_ACP));
}

std::string FromConsoleCodePage(std::string_view text) {
    return ToUtf8(DecodeToUtf16(text, CP_OEMCP));
}
