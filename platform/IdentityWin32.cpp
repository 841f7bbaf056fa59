#include "platform/Identity.h"

#include <windows.h>

#include <lmcons.h>

#include "platform/Utf16.h"

std::string CurrentHostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length) || length == 0) {
        return "?";
    }
    return ToUtf8(std::wstring(name, length));
}

std::string CurrentUserName() {
    wchar_t name[UNLEN + 1] = {};
    DWORD length = UNLEN + 1;
    if (!GetUserNameW(name, &length) || length <= 1) {
        return "?";
    }
    return ToUtf8(std::wstring(name, length - 1));  // the length counts the final NUL
}
