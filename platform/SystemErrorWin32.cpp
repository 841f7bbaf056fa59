#include "platform/SystemError.h"

#include <windows.h>

#include "platform/Utf16.h"

CSystemError::CSystemError(int code, const std::string& what)
    : std::runtime_error(what), m_code(code) {}

std::string SystemMessage(int code) {
    wchar_t* buffer = nullptr;
    // The system's own language; with ALLOCATE_BUFFER the "buffer" argument receives a pointer.
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return "Unknown error " + std::to_string(code);
    }
    std::wstring text(buffer, length);
    LocalFree(buffer);
    // Windows ends its messages with ".\r\n"; strerror's have neither, and callers add their own
    // full stop where a sentence ends.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    return ToUtf8(text);
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

void ThrowLastError(const std::string& context) {
    const auto code = static_cast<int>(GetLastError());
    throw CSystemError(code, context + ": " + SystemMessage(code));
}
