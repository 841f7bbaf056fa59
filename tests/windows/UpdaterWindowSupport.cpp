#include "tests/windows/UpdaterWindowSupport.h"

#include "platform/Utf16.h"
#include "platform/Win32Handle.h"

std::string ProgramOf(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    CWin32Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    wchar_t path[MAX_PATH * 4];
    DWORD length = MAX_PATH * 4;
    if (!process.IsValid() || !QueryFullProcessImageNameW(process.Get(), 0, path, &length)) {
        return {};
    }
    return ToUtf8(std::wstring_view(path, length));
}

HWND WaitForWindow(const wchar_t* className, const std::string& program, HWND owner,
                   unsigned milliseconds) {
    const std::wstring wanted = ToUtf16(program);
    for (unsigned waited = 0; waited < milliseconds; waited += 100) {
        for (HWND window = FindWindowExW(nullptr, nullptr, className, nullptr); window != nullptr;
             window = FindWindowExW(nullptr, window, className, nullptr)) {
            if ((owner == nullptr || GetWindow(window, GW_OWNER) == owner) &&
                CompareStringOrdinal(ToUtf16(ProgramOf(window)).c_str(), -1, wanted.c_str(), -1,
                                     TRUE) == CSTR_EQUAL) {
                return window;
            }
        }
        Sleep(100);
    }
    return nullptr;
}

std::string TextOf(HWND window) {
    const auto length = static_cast<size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    const auto got = static_cast<size_t>(
        SendMessageW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data())));
    text.resize(got);
    return ToUtf8(text);
}

namespace {

// The static text of a message box (its identifier in the system's dialog template).
constexpr int kMessageBoxText = 0xFFFF;

struct ControlSearch {
    int id;
    HWND found;
};

}  // namespace

HWND FindControl(HWND form, FormControl control) {
    ControlSearch search{static_cast<int>(control), nullptr};
    EnumChildWindows(
        form,
        [](HWND child, LPARAM parameter) -> BOOL {
            auto* wanted = reinterpret_cast<ControlSearch*>(parameter);
            if (GetDlgCtrlID(child) != wanted->id) {
                return TRUE;
            }
            wanted->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string MessageBoxText(HWND box) {
    std::string text;
    for (int waited = 0; waited < 10000; waited += 50) {
        text = TextOf(GetDlgItem(box, kMessageBoxText));
        if (!text.empty()) {
            break;
        }
        Sleep(50);
    }
    return text;
}
