// The client library's texts on Windows: its own parts come in the ANSI code page, the server's
// may be UTF-8, and the updater shows them all in UTF-8.

#include <gtest/gtest.h>

#include <string>

#include "db/Client.h"

TEST(ClientText, EachLineThatIsNotUtf8IsReadInTheAnsiCodePage) {
    // The quotation marks (0x93, 0x94, 0xAB, 0xBB) are the same characters in Windows-1251 and
    // Windows-1252, Wine's ANSI code pages for a Ukrainian and for the C locale.
    const std::string text =
        "Unable to complete network request to host \x93server\x94.\n"
        "-I/O error for file \"C:\\Дані\\lib.gdb\"\n"
        "-\xAB"
        "system text\xBB";
    EXPECT_EQ(ClientTextToUtf8(text),
              "Unable to complete network request to host “server”.\n"
              "-I/O error for file \"C:\\Дані\\lib.gdb\"\n"
              "-«system text»");
    EXPECT_EQ(ClientTextToUtf8("Dynamic SQL Error\n-Column unknown\n-НАЗВА\n"),
              "Dynamic SQL Error\n-Column unknown\n-НАЗВА\n");
    EXPECT_EQ(ClientTextToUtf8(""), "");
}
