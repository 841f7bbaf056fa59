#include "app/Config.h"

#include "platform/IniFile.h"
#include "platform/Paths.h"

CConfig ReadConfig(const std::string& configPath, const std::string& programDirectory) {
    const CIniFile ini(configPath);
    CConfig config;
    config.databasePath = ini.ReadString("Common", "PathBaseGDB", "");
    config.serverName = ini.ReadString("Common", "NameServer", "");
    config.serverType = ini.ReadInteger("Common", "TypeServer", 0);
    if (config.databasePath.empty()) {
        config.databasePath = PathJoin(programDirectory, kDefaultDatabaseName);
    }
    return config;
}
