// The Windows side of the test helpers.

#include <windows.h>

#include <vector>

#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "tests/support/TestSupport.h"

const char kScratchPrefix[] = "tessara-тест-";
const int kErrorFileNotFound = ERROR_FILE_NOT_FOUND;
const int kErrorPathNotFound = ERROR_PATH_NOT_FOUND;

void MakeReadOnly(const std::string& path) {
    if (!SetFileAttributesW(ToUtf16(path).c_str(), FILE_ATTRIBUTE_READONLY)) {
        ThrowLastError("Cannot make " + path + " read-only");
    }
}

bool RunningUnderWine() {
    // Wine's ntdll exports its version; Windows' does not.
    return GetProcAddress(GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
}

CEnvironmentVariable::CEnvironmentVariable(const std::string& name, const std::string& value)
    : m_name(name) {
    const std::wstring wideName = ToUtf16(name);
    std::vector<wchar_t> old(32768);
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), old.data(), 32768);
    if (length > 0 && length < 32768) {
        m_old = ToUtf8(std::wstring_view(old.data(), length));
    }
    SetEnvironmentVariableW(wideName.c_str(), ToUtf16(value).c_str());
}

CEnvironmentVariable::~CEnvironmentVariable() {
    SetEnvironmentVariableW(ToUtf16(m_name).c_str(), m_old ? ToUtf16(*m_old).c_str() : nullptr);
}
