#pragma once
// The suite's configuration file lib.ini, section "Common", read once at start-up.

#include <cstdint>
#include <string>

#include "app/SuiteFiles.h"

struct CConfig {
    std::string databasePath;  // PathBaseGDB; the program directory's lib.gdb when empty
    std::string serverName;    // NameServer; used only when serverType is non-zero
    int32_t serverType = 0;    // TypeServer; 0 = local database
    // Section "Updater", key "Snapshot": 0 turns the snapshot before an update off (so does
    // --no-snapshot); anything else, or no key, leaves it on.
    bool snapshot = true;
};

// Reads the three keys in order. A missing file or section gives the defaults; never writes.
CConfig ReadConfig(const std::string& configPath, const std::string& programDirectory);

// Makes `databasePath` the PathBaseGDB of the configuration file `configPath`, every other line
// kept as it is (an existing key replaced in place, a missing one added to section "Common",
// a missing section added). The file is replaced only when complete, so it is always either
// the old or the new one. Throws CSystemError.
void WriteDatabasePath(const std::string& configPath, const std::string& databasePath);
