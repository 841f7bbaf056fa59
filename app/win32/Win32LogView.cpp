#include "app/win32/Win32LogView.h"

#include <algorithm>

#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace {

constexpr wchar_t kLogViewClass[] = L"TessaraUpdaterLogView";
constexpr int kLogTextId = 1;
constexpr int kLogCloseId = 2;
// The DPI a log view is laid out for, as a property of its window.
constexpr wchar_t kLogViewDpi[] = L"TessaraUpdaterDpi";

// What the view is created with.
struct LogViewParams {
    CWin32Fonts* fonts;
    int dpi;
};

void Place(HWND window, const LayoutRect& place) {
    SetWindowPos(window, nullptr, place.left, place.top, place.width, place.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The text box breaks lines at CR LF only.
std::wstring WithCrLf(const std::wstring& text) {
    std::wstring lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) {
            lines += L'\r';
        }
        lines += text[i];
    }
    return lines;
}

LRESULT CALLBACK LogViewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* fonts = reinterpret_cast<CWin32Fonts*>(GetWindowLongPtrW(view, GWLP_USERDATA));
    // Its controls in the window's font at `viewDpi`, laid out for it.
    const auto useDpi = [&](int viewDpi) {
        SetPropW(view, kLogViewDpi, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(viewDpi)));
        for (const int id : {kLogTextId, kLogCloseId}) {
            SendMessageW(GetDlgItem(view, id), WM_SETFONT,
                         reinterpret_cast<WPARAM>(fonts->Get(viewDpi, false)), TRUE);
        }
    };
    switch (message) {
        case WM_NCCREATE:
            SetWindowLongPtrW(view, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(
                                  static_cast<LogViewParams*>(
                                      reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams)
                                      ->fonts));
            break;
        case WM_CREATE:
            // A read-only text box over its close button.
            CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                            0, 0, 0, 0, view,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLogTextId)),
                            GetModuleHandleW(nullptr), nullptr);
            CreateWindowExW(0, L"BUTTON", L"Зачинити", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0,
                            0, 0, view, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLogCloseId)),
                            GetModuleHandleW(nullptr), nullptr);
            useDpi(static_cast<LogViewParams*>(
                       reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams)
                       ->dpi);
            return 0;
        case WM_SIZE: {
            const auto viewDpi =
                static_cast<int>(reinterpret_cast<INT_PTR>(GetPropW(view, kLogViewDpi)));
            const auto scaled = [&](int length) { return ScaleToDpi(length, viewDpi); };
            const int width = LOWORD(lParam);
            const int height = HIWORD(lParam);
            const int textHeight =
                std::max(0, height - scaled(kLogButtonHeight) - 2 * scaled(kLogMargin));
            Place(GetDlgItem(view, kLogTextId), {0, 0, width, textHeight});
            Place(GetDlgItem(view, kLogCloseId),
                  {width - scaled(kLogButtonWidth) - scaled(kLogMargin),
                   textHeight + scaled(kLogMargin), scaled(kLogButtonWidth),
                   scaled(kLogButtonHeight)});
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == kLogCloseId || LOWORD(wParam) == IDCANCEL) {
                DestroyWindow(view);
                return 0;
            }
            break;
        case WM_DPICHANGED: {
            useDpi(LOWORD(wParam));
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(view, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_NCDESTROY:
            RemovePropW(view, kLogViewDpi);
            break;
        default:
            break;
    }
    return DefWindowProcW(view, message, wParam, lParam);
}

void RegisterLogViewClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpfnWndProc = LogViewProc;
        windowClass.lpszClassName = kLogViewClass;
        return RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) {
        throw std::runtime_error("Cannot register the window class of the update log");
    }
}

}  // namespace

void OpenLogView(HWND owner, int dpi, CWin32Fonts& fonts, const std::string& text) {
    RegisterLogViewClass();
    RECT frame{};
    GetWindowRect(owner, &frame);
    const int offset = ScaleToDpi(kLogViewOffset, dpi);
    LogViewParams params{&fonts, dpi};
    HWND view = CreateWindowExW(
        0, kLogViewClass, L"Журнал помилок", WS_OVERLAPPEDWINDOW | WS_VISIBLE, frame.left + offset,
        frame.top + offset, ScaleToDpi(kLogViewSize.width, dpi),
        ScaleToDpi(kLogViewSize.height, dpi), owner, nullptr, GetModuleHandleW(nullptr), &params);
    if (view == nullptr) {
        ThrowLastError("Cannot open the update log");
    }
    SetWindowTextW(GetDlgItem(view, kLogTextId), WithCrLf(ToUtf16(text)).c_str());
}
