#pragma once
// How an error's text reaches the error box, standard error and the run record.

#include <exception>
#include <string>

// The text with a full stop added when its last character comes after "." in character-code
// order (bytes compared unsigned, so a UTF-8 letter at the end also gets one). Empty text and
// text ending in ".", "!", ")" or a blank stay as they are.
std::string WithFullStop(const std::string& text);

// The text on one line: each line break (CR LF, CR or LF) becomes a blank. Database errors span
// lines; standard error and the run record take one line per message.
std::string OneLine(const std::string& text);

// Why a file of the updater's at `path` (the run record, a lock file) could not be opened, in
// the interface's words: what stands at the name instead of a regular file, or the system's
// text of the error.
std::string WhyNotOpened(const std::string& path, const std::exception& error);
