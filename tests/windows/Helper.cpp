// A small Windows program for the tests: a process to find by its image name, a base program
// to embed items into, proof that a packed program still runs, and the other side of the child
// process and lock tests.
//   test_helper exit N              ends with exit code N
//   test_helper sleep MS            sleeps, then ends with 0
//   test_helper args A...           writes its current directory and each argument (UTF-8) to
//                                   standard output, one a line, and "to stderr" to standard error
//   test_helper flood N             writes N bytes to standard output and N to standard error,
//                                   in turns, then ends with 0
//   test_helper start PROGRAM ARGS  starts PROGRAM with the command line ARGS as the updater
//                                   starts the archiver, then sleeps until it is killed
//   test_helper lock PATH           ends with 0 when it could take the lock of PATH, 1 when it
//                                   is held elsewhere, 2 on an error
//   test_helper message CODE        writes the system's text for the error CODE (UTF-8)

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/FileLock.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace {

void Write(DWORD stream, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc >= 2 ? argv[1] : L"";
    if (argc == 3 && mode == L"exit") {
        return static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    }
    if (argc == 3 && mode == L"sleep") {
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (mode == L"args") {
        wchar_t directory[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, directory);
        std::string lines = ToUtf8(directory) + "\n";
        for (int i = 2; i < argc; ++i) {
            lines += ToUtf8(argv[i]) + "\n";
        }
        Write(STD_OUTPUT_HANDLE, lines);
        Write(STD_ERROR_HANDLE, "to stderr");
        return 0;
    }
    if (argc == 3 && mode == L"flood") {
        const size_t total = std::wcstoul(argv[2], nullptr, 10);
        const std::string outputChunk(4096, 'o');
        const std::string errorsChunk(4096, 'e');
        for (size_t done = 0; done < total; done += outputChunk.size()) {
            const size_t size = std::min(outputChunk.size(), total - done);
            Write(STD_OUTPUT_HANDLE, outputChunk.substr(0, size));
            Write(STD_ERROR_HANDLE, errorsChunk.substr(0, size));
        }
        return 0;
    }
    if (argc == 4 && mode == L"start") {
        CChildProcess child;
        child.Start(ToUtf8(argv[2]), ToUtf8(argv[3]), "");
        Sleep(INFINITE);
    }
    if (argc == 3 && mode == L"lock") {
        try {
            CFileLock lock;
            return lock.TryAcquire(ToUtf8(argv[2])) ? 0 : 1;
        } catch (const CSystemError&) {
            return 2;
        }
    }
    if (argc == 3 && mode == L"message") {
        Write(STD_OUTPUT_HANDLE,
              SystemMessage(static_cast<int>(std::wcstol(argv[2], nullptr, 10))));
        return 0;
    }
    return 2;
}
