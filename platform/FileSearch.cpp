#include "platform/FileSearch.h"

#include <algorithm>

#include "platform/Text.h"

namespace {

// Glob match with '*' and '?', ASCII case ignored; backtracks to the last '*' on a mismatch.
bool Glob(const std::string& mask, size_t m, const std::string& name, size_t n) {
    size_t starMask = std::string::npos;
    size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() &&
                   (mask[m] == '?' || LowerAscii(mask[m]) == LowerAscii(name[n]))) {
            ++m;
            ++n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') {
        ++m;
    }
    return m == mask.size();
}

}  // namespace

bool MatchesMask(const std::string& mask, const std::string& name) {
    if (Glob(mask, 0, name, 0)) {
        return true;
    }
    // Windows lets a trailing ".*" match a name without an extension as well, which is why
    // "*.*" takes every name and "readme.*" takes "readme".
    if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0) {
        return Glob(mask.substr(0, mask.size() - 2), 0, name, 0);
    }
    return false;
}

void SortPathsCaseInsensitive(std::vector<std::string>& paths) {
    const auto less = [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) {
                                                return static_cast<unsigned char>(LowerAscii(x)) <
                                                       static_cast<unsigned char>(LowerAscii(y));
                                            });
    };
    std::stable_sort(paths.begin(), paths.end(), less);
}
