#pragma once
// Where the updater runs. Production takes the paths from the process; tests point them at a
// suite directory of their own.

#include <string>

#include "app/SuiteFiles.h"

struct StartupPaths {
    std::string executablePath;    // the updater whose embedded packages are installed
    std::string programDirectory;  // the suite's installation directory (lib.ini, rar, *.exe)
    std::string tempPath;          // the system temporary directory, with its trailing separator
    // The process image name that blocks the update. Tests that must not see a suite started by
    // a neighbouring test give a name of their own.
    std::string suiteImageName = kSuiteImageName;

    static StartupPaths FromProcess();
};
