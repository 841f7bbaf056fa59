// rar.exe of the Windows tests: "rar x [-o+] [-y] <archive>" extracts a STORE archive into the
// current directory, overwriting. Exit codes as the RAR archiver's: 0 done, 2 a fatal error
// (refused, cannot write), 3 a damaged archive (truncated, CRC), 7 a wrong command line.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/Utf16.h"
#include "tests/windows/rar/StoreExtract.h"
#include "tools/rar/ArchiveListing.h"

namespace {

int Fail(int code, const std::string& message) {
    const std::string line = "rar: " + message + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(ToUtf8(argv[i]));
    }
    const char* usage = "usage: rar x [-o+] [-y] <archive>";
    if (args.empty() || args[0] != "x") {
        return Fail(7, usage);
    }
    std::string archive;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "-o+" || args[i] == "-y") {
            continue;  // overwriting without asking is all this archiver does
        }
        if (args[i].starts_with("-") || !archive.empty()) {
            return Fail(7, usage);
        }
        archive = args[i];
    }
    if (archive.empty()) {
        return Fail(7, usage);
    }
    try {
        ExtractStoreArchive(archive, "");
        return 0;
    } catch (const CDamagedArchiveError& error) {
        return Fail(3, error.what());
    } catch (const CArchiveError& error) {
        return Fail(2, error.what());
    } catch (const std::exception& error) {
        return Fail(2, error.what());
    }
}
