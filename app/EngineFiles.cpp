#include "app/EngineFiles.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "db/DbError.h"
#include "platform/ByteOrder.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace {

// The processor a Windows library is built for, from its PE header's machine field; 0 when the
// file cannot be read or is no Windows program file.
uint16_t PeMachine(const std::string& path) {
    try {
        const CFile file(path, CFile::Mode::Read);
        unsigned char dos[64];
        file.ReadAt(0, dos, sizeof dos);
        if (dos[0] != 'M' || dos[1] != 'Z') {
            return 0;
        }
        const uint32_t peOffset = GetLe32(dos + 0x3c);
        unsigned char pe[6];
        file.ReadAt(peOffset, pe, sizeof pe);
        if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
            return 0;
        }
        return GetLe16(pe + 4);
    } catch (const std::exception&) {
        return 0;
    }
}

std::string MachineName(uint16_t machine) {
    switch (machine) {
        case 0x014c:
            return "32-розрядної Windows";
        case 0x8664:
            return "64-розрядної Windows";
        case 0xaa64:
            return "Windows на ARM64";
        default:
            return "невідомого процесора";
    }
}

// The ICU libraries of one version (icuuc72.dll, icuin72.dll, icudt72.dll), found by the common
// library's name; empty when there is none.
std::vector<std::string> IcuLibraries(const std::string& directory) {
    std::vector<std::string> common;
    ListFiles(directory, "icuuc*.dll", common);
    for (const std::string& path : common) {
        const std::string name = ExtractFileName(path);
        const std::string version = name.substr(5, name.size() - 5 - 4);
        if (version.empty() || version.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        return {path, PathJoin(directory, "icuin" + version + ".dll"),
                PathJoin(directory, "icudt" + version + ".dll")};
    }
    return {};
}

bool IsConnectionString(const std::string& path) {
    if (path.rfind("\\\\", 0) == 0 || path.find("://") != std::string::npos) {
        return true;
    }
    // "C:\..." names a drive; a colon further on follows a host name.
    const size_t colon = path.find(':');
    return colon != std::string::npos && colon > 1;
}

}  // namespace

bool IsLocalDatabase(const CConfig& config) {
    const bool server = config.serverType != 0 && !TrimControl(config.serverName).empty();
    return !server && !IsConnectionString(config.databasePath);
}

std::string EmbeddedEngineProblem(const std::string& clientDirectory) {
    const std::string client = PathJoin(clientDirectory, kSuiteClientLibrary);
    const std::string plugins = PathJoin(clientDirectory, "plugins");
    const std::string intl = PathJoin(clientDirectory, "intl");
    std::vector<std::string> libraries = {PathJoin(plugins, "engine12.dll"),
                                          PathJoin(intl, "fbintl.dll")};
    const std::vector<std::string> icu = IcuLibraries(clientDirectory);
    if (icu.empty()) {
        return "немає бібліотек ICU (" + PathJoin(clientDirectory, "icuuc*.dll") +
               ", icuin*.dll, icudt*.dll)";
    }
    libraries.insert(libraries.end(), icu.begin(), icu.end());
    for (const std::string& path : libraries) {
        if (!FileExists(path)) {
            return "немає файлу " + path;
        }
    }
    const std::string conf = PathJoin(intl, "fbintl.conf");
    if (!FileExists(conf)) {
        return "немає файлу " + conf;
    }

    // A library the engine cannot load fails as late as a missing one.
    const uint16_t clientMachine = PeMachine(client);
    if (clientMachine == 0) {
        return client + " пошкоджений: це не бібліотека Windows";
    }
    for (const std::string& path : libraries) {
        const uint16_t machine = PeMachine(path);
        if (machine == 0) {
            return path + " пошкоджений: це не бібліотека Windows";
        }
        if (machine != clientMachine) {
            return path + " зібраний для " + MachineName(machine) + ", а " + client + " для " +
                   MachineName(clientMachine);
        }
    }
    return {};
}

void ConnectSuiteDatabase(const CConfig& config, const std::string& programDirectory,
                          const std::function<void()>& connect) {
    const bool local = IsLocalDatabase(config);
    if (local && FileExists(PathJoin(programDirectory, kSuiteClientLibrary))) {
        const std::string problem = EmbeddedEngineProblem(programDirectory);
        if (!problem.empty()) {
            throw std::runtime_error(
                "Локальну базу даних " + config.databasePath +
                " не відкрити: серед файлів Firebird комплексу " + problem +
                ". Оновлення нічого не змінило. Відновіть файли Firebird у каталозі " +
                programDirectory + " (перевстановіть ПК Тессара) та перезапустіть оновлення!");
        }
    }
    try {
        connect();
    } catch (const CDbError& error) {
        if (!local || !IsDatabaseOpenElsewhere(error)) {
            throw;
        }
        throw std::runtime_error(
            "Базу даних " + config.databasePath +
            " відкрила інша програма цього комп'ютера (ПК Тессара, інша програма оновлення, "
            "архівування): поки вона працює з базою, оновлення неможливе. Оновлення нічого не "
            "змінило. Закрийте цю програму та перезапустіть оновлення!");
    }
}
