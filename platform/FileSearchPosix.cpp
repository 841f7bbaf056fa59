#include "platform/FileSearch.h"

#include <dirent.h>

#include <memory>

#include "platform/Paths.h"

void ListFiles(const std::string& dir, const std::string& mask, std::vector<std::string>& list) {
    const std::unique_ptr<DIR, int (*)(DIR*)> handle(opendir(dir.c_str()), closedir);
    if (handle) {
        while (const dirent* entry = readdir(handle.get())) {
            const std::string name = entry->d_name;
            if (MatchesMask(mask, name)) {
                list.push_back(PathJoin(dir, name));
            }
        }
    }
    SortPathsCaseInsensitive(list);
}
