#pragma once
// Stored names that Windows keeps as they are, for the Windows tests' archiver.

#include <string>
#include <vector>

#include "tools/rar/StoredNames.h"

// SafeComponents, and further refuses components that Windows would not keep as stored: control
// characters and < > : " | ? * (":" also names a stream of a file), a trailing dot or blank
// (Windows drops them, so ".. " would become ".."), and device names (CON, NUL, COM1, ...) with
// or without an extension.
std::vector<std::string> SafeWindowsComponents(const std::string& storedName);
