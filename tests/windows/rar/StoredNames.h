#pragma once
// The names an archive stores, checked before anything is written: they must stay below the
// directory they are extracted into, and be names Windows keeps as they are.

#include <string>
#include <vector>

// The components of a stored name ("\" and "/" both separate; "." and empty components are
// dropped). Throws CArchiveError naming the entry when the name is absolute (leading separator
// or a drive such as "C:"), has a ".." component, holds a NUL or names nothing.
std::vector<std::string> SafeComponents(const std::string& storedName);

// SafeComponents, and further refuses components that Windows would not keep as stored: control
// characters and < > : " | ? * (":" also names a stream of a file), a trailing dot or blank
// (Windows drops them, so ".. " would become ".."), and device names (CON, NUL, COM1, ...) with
// or without an extension.
std::vector<std::string> SafeWindowsComponents(const std::string& storedName);

// Components joined with '/' for messages.
std::string JoinComponents(const std::vector<std::string>& components);
