#include "platform/SystemCodePage.h"

std::string FromSystemCodePage(std::string_view text) {
    return std::string(text);
}

std::string FromConsoleCodePage(std::string_view text) {
    return std::string(text);
}
