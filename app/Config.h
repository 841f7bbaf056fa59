#pragma once
// The suite's configuration file lib.ini, section "Common", read once at start-up.

#include <cstdint>
#include <string>

#include "app/SuiteFiles.h"

struct CConfig {
    std::string databasePath;  // PathBaseGDB; the program directory's lib.gdb when empty
    std::string serverName;    // NameServer; used only when serverType is non-zero
    int32_t serverType = 0;    // TypeServer; 0 = local database
};

// Reads the three keys in order. A missing file or section gives the defaults; never writes.
CConfig ReadConfig(const std::string& configPath, const std::string& programDirectory);
