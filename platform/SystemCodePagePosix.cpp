#include "platform/SystemCodePage.h"

std::string FromSystemCodePage(std::string_view text) {
    return std::string(text);
}

std::string ToSystemCodePage(std::string_view utf8) {
    return std::string(utf8);
}

std::string FromConsoleCodePage(std::string_view text) {
    return std::string(text);
}
