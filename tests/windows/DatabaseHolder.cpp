// test_database_holder: holds a database open through the client library beside it, as the
// suite's main program does, for the scripted tests under Wine. Copied into a suite as
// tessara.exe it is the suite's program that runs; under another name, any other program that
// keeps the database open (the embedded engine opens a local database for one process only).
//
//   test_database_holder DATABASE
//
// Connects as the updater does (a local path, or server:path), writes "attached VERSION" to
// standard output and holds the attachment until its standard input ends. Exit status 0 then;
// 1 with the error's text on standard error when the connection failed.

#include <windows.h>

#include <exception>
#include <string>

#include "db/DbError.h"
#include "db/Uglobdb.h"
#include "platform/Paths.h"
#include "platform/Utf16.h"

namespace {

void Write(DWORD stream, const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        Write(STD_ERROR_HANDLE, "usage: test_database_holder DATABASE\n");
        return 2;
    }
    try {
        CGlobDB session(ProgramDirectory());
        session.Connect("", ToUtf8(argv[1]), "", "");
        Write(STD_OUTPUT_HANDLE, "attached " + std::to_string(session.GetVersion()) + "\n");
        char buffer[256];
        DWORD read = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) &&
               read > 0) {
        }
        return 0;
    } catch (const std::exception& error) {
        Write(STD_ERROR_HANDLE, std::string(error.what()) + "\n");
        return 1;
    }
}
