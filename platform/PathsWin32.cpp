// The two path queries that ask Windows; joining and splitting paths is portable.

#include "platform/Paths.h"

#include <windows.h>

#include "platform/SystemError.h"
#include "platform/Utf16.h"

const char kPathSeparator = '\\';

std::string ProgramFileName(const std::string& name) {
    return name + ".exe";
}

std::string ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            ThrowLastError("Cannot read the path of the running program");
        }
        if (length < size) {
            buffer.resize(length);
            return ToUtf8(buffer);
        }
        buffer.resize(buffer.size() * 2);  // cut to the buffer: try a bigger one
    }
}

std::string TempPath() {
    std::wstring buffer(MAX_PATH + 1, L'\0');
    DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length > buffer.size()) {
        // Too small: the answer was the size needed, terminating null included.
        buffer.resize(length);
        length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (length == 0 || length > buffer.size()) {
        ThrowLastError("Cannot read the temporary directory");
    }
    buffer.resize(length);
    if (buffer.back() != L'\\') {
        buffer += L'\\';
    }
    return ToUtf8(buffer);
}
