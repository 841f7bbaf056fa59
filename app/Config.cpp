#include "app/Config.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/SystemCodePage.h"
#include "platform/Utf8.h"

CConfig ReadConfig(const std::string& configPath, const std::string& programDirectory) {
    const CIniFile ini(configPath);
    CConfig config;
    config.databasePath = ini.ReadString("Common", "PathBaseGDB", "");
    config.serverName = ini.ReadString("Common", "NameServer", "");
    config.serverType = ini.ReadInteger("Common", "TypeServer", 0);
    config.snapshot = ini.ReadInteger("Updater", "Snapshot", 1) != 0;
    if (config.databasePath.empty()) {
        config.databasePath = PathJoin(programDirectory, kDefaultDatabaseName);
    }
    return config;
}

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

void WriteDatabasePath(const std::string& configPath, const std::string& databasePath) {
    std::string old;
    std::optional<CFile> source;
    if (InspectEntry(configPath) != EntryKind::Missing) {
        source.emplace(configPath, CFile::Mode::ReadRegular);
        old = ReadWholeFile(configPath);
    }
    const std::string newline = old.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    // The suite's programs read lib.ini in the system's code page (Windows-1251 on its
    // machines); a file that holds UTF-8 text already stays UTF-8.
    const bool utf8File = IsValidUtf8(old) && std::any_of(old.begin(), old.end(), [](char c) {
                              return (static_cast<unsigned char>(c) & 0x80) != 0;
                          });
    const std::string entry =
        "PathBaseGDB=" + (utf8File ? databasePath : ToSystemCodePage(databasePath));
    std::string text;
    bool inCommon = false;
    bool written = false;
    size_t start = 0;
    while (start < old.size()) {
        size_t end = old.find('\n', start);
        end = end == std::string::npos ? old.size() : end + 1;
        const std::string line = old.substr(start, end - start);
        start = end;
        const std::string trimmed = Trimmed(line.substr(0, line.find('\n')));
        if (!trimmed.empty() && trimmed.front() == '[') {
            if (inCommon && !written) {
                text += entry + newline;
                written = true;
            }
            inCommon = Lower(trimmed) == "[common]";
        } else if (inCommon && !written) {
            const size_t equals = trimmed.find('=');
            if (equals != std::string::npos &&
                Lower(Trimmed(trimmed.substr(0, equals))) == "pathbasegdb") {
                text += entry + newline;
                written = true;
                continue;
            }
        }
        text += line;
        if (line.back() != '\n' && start >= old.size()) {
            text += newline;
        }
    }
    if (!written) {
        if (!inCommon) {
            text += "[Common]" + newline;
        }
        text += entry + newline;
    }
    CReplacingFile file(configPath);
    file.WriteAll(text.data(), text.size());
    if (source) {
        file.TakePermissionsOf(*source);
        source->Close();
    }
    file.Commit();
}
