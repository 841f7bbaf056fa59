#pragma once
// Directory search with Windows wildcard masks.

#include <string>
#include <vector>

// True when `name` matches `mask` ('*' any run, '?' one character, ASCII case ignored;
// "*.*" matches every name, as on Windows).
bool MatchesMask(const std::string& mask, const std::string& name);

// Appends PathJoin(dir, entry) for every entry of `dir` whose name matches `mask`, entries of
// every kind included (hidden files, directories, "." and ".." where the mask takes them), then
// sorts the whole list by full path without regard to case (lower-cased byte order). A missing
// directory adds nothing.
void ListFiles(const std::string& dir, const std::string& mask, std::vector<std::string>& list);

// Sorts paths ascending, comparing their lower-cased bytes.
void SortPathsCaseInsensitive(std::vector<std::string>& paths);
