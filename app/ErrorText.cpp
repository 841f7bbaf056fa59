#include "app/ErrorText.h"

std::string WithFullStop(const std::string& text) {
    if (!text.empty() &&
        static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
        return text + ".";
    }
    return text;
}

std::string OneLine(const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;  // CR LF is one break
        }
        line += text[i] == '\r' || text[i] == '\n' ? ' ' : text[i];
    }
    return line;
}
