#include "app/ErrorText.h"

#include "platform/FileSystem.h"
#include "platform/SystemError.h"

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

std::string WhyNotOpened(const std::string& path, const std::exception& error) {
    switch (InspectEntry(path)) {
        case EntryKind::Link:
            return "на його місці посилання";
        case EntryKind::Directory:
        case EntryKind::Other:
            return "на його місці не звичайний файл";
        case EntryKind::Missing:
        case EntryKind::Regular:
            break;
    }
    const auto* system = dynamic_cast<const CSystemError*>(&error);
    return system != nullptr ? SystemMessage(system->Code()) : error.what();
}
