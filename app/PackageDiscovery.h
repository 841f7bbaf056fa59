#pragma once
// The update packages embedded in the updater: items whose names contain "_RAR", numbered by
// the decimal digits before the first "_" ("238_RAR" is package 238).

#include <cstdint>
#include <string>
#include <vector>

#include "install/Status.h"

inline constexpr char kPackageMarker[] = "_RAR";

struct PackageRange {
    int32_t lowest = 0;  // 0 = no package
    int32_t highest = 0;
};

// The embedded item that holds package `number`.
std::string PackageItemName(int64_t number);

// The names that contain "_RAR" (case-sensitive), in the given order.
std::vector<std::string> PackageNames(const std::vector<std::string>& itemNames);

// One journal line per name, the lowest and highest package number, and lActVer's caption.
PackageRange DiscoverPackages(const std::vector<std::string>& packageNames, IJournal& journal,
                              ILabel& actVer);

// "238" for one number, "237 - 239" for a range, "0" without packages.
std::string RangeCaption(const PackageRange& range);
