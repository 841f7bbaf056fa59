#pragma once
// The names an archive stores, checked before anything is written: each must name a place below
// the directory it is extracted into. Shared by the archiver and the Windows tests' archiver.

#include <string>
#include <vector>

// The components of a stored name ("\\" and "/" both separate; "." and empty components are
// dropped). Throws CArchiveError naming the entry when the name is absolute (leading separator
// or a drive such as "C:"), has a ".." component, holds a NUL or names nothing.
std::vector<std::string> SafeComponents(const std::string& storedName);

// Components joined with '/' for messages.
std::string JoinComponents(const std::vector<std::string>& components);
