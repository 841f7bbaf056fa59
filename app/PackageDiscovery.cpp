#include "app/PackageDiscovery.h"

#include "platform/Text.h"

std::string PackageItemName(int64_t number) {
    return std::to_string(number) + kPackageMarker;
}

std::vector<std::string> PackageNames(const std::vector<std::string>& itemNames) {
    std::vector<std::string> names;
    for (const std::string& name : itemNames) {
        if (name.find(kPackageMarker) != std::string::npos) {
            names.push_back(name);
        }
    }
    return names;
}

PackageRange DiscoverPackages(const std::vector<std::string>& packageNames, IJournal& journal,
                              ILabel& actVer) {
    PackageRange range;
    for (const std::string& name : packageNames) {
        journal.AppendLine(name);
        const size_t underscore = name.find('_');
        if (underscore == std::string::npos) {
            continue;
        }
        const int32_t number = ParseInteger(name.substr(0, underscore));
        if (range.lowest == 0 || number < range.lowest) {
            range.lowest = number;
        }
        if (range.highest == 0 || number > range.highest) {
            range.highest = number;
        }
    }
    actVer.SetCaption(RangeCaption(range));
    return range;
}

std::string RangeCaption(const PackageRange& range) {
    if (range.lowest == range.highest) {
        return std::to_string(range.highest);
    }
    return std::to_string(range.lowest) + " - " + std::to_string(range.highest);
}
