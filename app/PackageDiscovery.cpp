#include "app/PackageDiscovery.h"

#include <limits>
#include <stdexcept>

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

int32_t ParseInteger(const std::string& text) {
    const auto invalid = [&text] {
        return std::runtime_error("'" + text + "' is not a valid integer value");
    };
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos == text.size()) {
        throw invalid();
    }
    int64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9') {
            throw invalid();
        }
        value = value * 10 + (c - '0');
        if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) {
            throw invalid();
        }
    }
    value = negative ? -value : value;
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        throw invalid();
    }
    return static_cast<int32_t>(value);
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
