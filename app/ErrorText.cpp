#include "app/ErrorText.h"

std::string WithFullStop(const std::string& text) {
    if (!text.empty() &&
        static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
        return text + ".";
    }
    return text;
}
