#include "platform/FileSearch.h"

#include <windows.h>

#include "platform/Paths.h"
#include "platform/Utf16.h"

void ListFiles(const std::string& dir, const std::string& mask, std::vector<std::string>& list) {
    // Every entry is listed and matched by MatchesMask, as on Linux: Windows' own matching would
    // also look at 8.3 short names ("*.htm" taking "page.html").
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(ToUtf16(PathJoin(dir, "*")).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = ToUtf8(found.cFileName);
            if (MatchesMask(mask, name)) {
                list.push_back(PathJoin(dir, name));
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SortPathsCaseInsensitive(list);
}
