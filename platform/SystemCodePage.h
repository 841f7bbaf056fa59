#pragma once
// Text of a file that a Windows program wrote without saying its encoding (the suite's lib.ini):
// on Windows it is taken as UTF-8 when it is valid UTF-8, else as the system's ANSI code page
// (Windows-1251 on the suite's machines) and converted to UTF-8, the encoding of every string
// inside the updater. On Linux the bytes stay as they are, as the file system takes them.

#include <string>
#include <string_view>

std::string FromSystemCodePage(std::string_view text);
// The other way, for a line written into such a file for the suite's programs to read: UTF-8
// text in the system's ANSI code page on Windows (unchanged on Linux). Throws std::runtime_error
// when a character has no equivalent there.
std::string ToSystemCodePage(std::string_view utf8);

// The same for what a console program wrote into a pipe (the archiver's messages): on Windows in
// the console's OEM code page (866 on a Ukrainian or Russian Windows) unless it is UTF-8.
std::string FromConsoleCodePage(std::string_view text);
