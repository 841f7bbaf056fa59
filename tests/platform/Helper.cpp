// A small program for the tests, built for every system: a process to start and to find by its
// image name, a base program to embed items into, proof that a packed program still runs, and
// the other side of the lock tests. Output goes out as bytes, without a text mode's CR LF.
//   test_helper exit N              ends with exit code N
//   test_helper sleep MS            sleeps, then ends with 0
//   test_helper args A...           writes its own path, its current directory and each
//                                   argument (UTF-8) to standard output, one a line, and
//                                   "to stderr" to standard error
//   test_helper flood N             writes N bytes to standard output and N to standard error,
//                                   in turns, then ends with 0
//   test_helper slices PATH         writes "first", and "second" once PATH exists, each on a
//                                   line (ends with 1 after a minute without it)
//   test_helper until PATH          ends with 0 once PATH exists, after writing PATH.seen (1
//                                   after a minute without it)
//   test_helper hold PATH UNTIL     opens PATH letting no one else open, rename or delete it
//                                   (on Windows), writes "held" to standard output, and ends
//                                   with 0 once UNTIL exists (1 after a minute without it)
//   test_helper start PROGRAM ARGS  starts PROGRAM with the command line ARGS as the updater
//                                   starts the archiver, then sleeps until it is killed
//   test_helper lock PATH           ends with 0 when it could take the lock of PATH, 1 when it
//                                   is held elsewhere, 2 on an error
//   test_helper abandon PATH        takes the lock of PATH and ends at once without releasing
//                                   it, as a killed program would
//   anything else                   writes its own path to standard output and ends with 2

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/Text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>

#include "platform/Utf16.h"
#endif

namespace {

void Write(std::FILE* stream, const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

void Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int Run(const std::vector<std::string>& args) {
    const std::string mode = args.size() >= 2 ? args[1] : "";
    const std::optional<int32_t> number =
        args.size() == 3 ? TryParseInteger(args[2]) : std::nullopt;
    const int32_t value = number.value_or(0);
    if (mode == "exit" && number) {
        return value;
    }
    if (mode == "sleep" && number) {
        Sleep(value);
        return 0;
    }
    if (mode == "args") {
        const std::u8string directory = std::filesystem::current_path().u8string();
        std::string lines =
            ExecutablePath() + "\n" + std::string(directory.begin(), directory.end()) + "\n";
        for (size_t i = 2; i < args.size(); ++i) {
            lines += args[i] + "\n";
        }
        Write(stdout, lines);
        Write(stderr, "to stderr");
        return 0;
    }
    if (mode == "flood" && number) {
        const auto total = static_cast<size_t>(value);
        const std::string outputChunk(4096, 'o');
        const std::string errorsChunk(4096, 'e');
        for (size_t done = 0; done < total; done += outputChunk.size()) {
            const size_t size = std::min(outputChunk.size(), total - done);
            Write(stdout, outputChunk.substr(0, size));
            Write(stderr, errorsChunk.substr(0, size));
        }
        return 0;
    }
    // Looks for PATH every 10 ms, for at most a minute.
    const auto waitFor = [&] {
        for (int waited = 0; waited < 60000; waited += 10) {
            if (FileExists(args[2]) || DirectoryExists(args[2])) {
                return true;
            }
            Sleep(10);
        }
        return false;
    };
    if (mode == "slices" && args.size() == 3) {
        Write(stdout, "first\n");
        if (!waitFor()) {
            return 1;
        }
        Write(stdout, "second\n");
        return 0;
    }
    if (mode == "until" && args.size() == 3) {
        if (!waitFor()) {
            return 1;
        }
        // Written last: a test that finds it knows that the process was at its end.
        CFile seen(args[2] + ".seen", CFile::Mode::WriteTruncate);
        return 0;
    }
    if (mode == "hold" && args.size() == 4) {
#ifdef _WIN32
        // Sharing nothing: no other open, no rename, no delete while it is held. The test looks
        // for the hold by opening the file itself for a moment, which fails this open then.
        int held = -1;
        for (int waited = 0;; waited += 10) {
            const errno_t error =
                _wsopen_s(&held, ToUtf16(args[2]).c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW, 0);
            if (error == 0) {
                break;
            }
            if (error != EACCES || waited >= 60000) {
                return 2;
            }
            Sleep(10);
        }
#else
        const CFile file(args[2], CFile::Mode::Read);
#endif
        Write(stdout, "held\n");
        int result = 1;
        for (int waited = 0; waited < 60000 && result != 0; waited += 10) {
            if (FileExists(args[3])) {
                result = 0;
            } else {
                Sleep(10);
            }
        }
#ifdef _WIN32
        _close(held);
#endif
        return result;
    }
    if (mode == "start" && args.size() == 4) {
        CChildProcess child;
        child.Start(args[2], args[3], "");
        for (;;) {
            Sleep(60000);
        }
    }
    if ((mode == "lock" || mode == "abandon") && args.size() == 3) {
        try {
            CFileLock lock;
            const bool taken = lock.TryAcquire(args[2]);
            if (mode == "abandon") {
                std::_Exit(taken ? 0 : 1);  // no destructor: the lock is never released
            }
            return taken ? 0 : 1;
        } catch (const CSystemError&) {
            return 2;
        }
    }
    Write(stdout, ExecutablePath() + "\n");
    return 2;
}

}  // namespace

#ifdef _WIN32
// The arguments come as UTF-16 only through wmain; and the standard streams would turn "\n"
// into CR LF in their text mode.
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        args.push_back(ToUtf8(argv[i]));
    }
    return Run(args);
}
#else
int main(int argc, char** argv) {
    return Run(std::vector<std::string>(argv, argv + argc));
}
#endif
