#include "app/win32/Win32Form.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <functional>

#include "app/ErrorText.h"
#include "app/UpdateDriver.h"
#include "app/win32/Win32Dpi.h"
#include "app/win32/Win32LogView.h"
#include "app/win32/Win32MessageBoxes.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace {

constexpr wchar_t kFormClass[] = L"TessaraUpdaterForm";
constexpr wchar_t kPanelClass[] = L"TessaraUpdaterPanel";
// The program's icon (resources/windows/program.rc.in); a program without one, such as a test,
// gets the system's.
constexpr WORD kProgramIconId = 1;
// Posted on the first showing, so the checks run once the window is on screen and before any
// input (posted messages come before input).
constexpr UINT kFormShowMessage = WM_APP + 1;

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

void Place(HWND window, const LayoutRect& place) {
    SetWindowPos(window, nullptr, place.left, place.top, place.width, place.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// Panels pass what their controls report (clicks, colours) on to the form.
LRESULT CALLBACK PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return SendMessageW(GetAncestor(panel, GA_ROOT), message, wParam, lParam);
        default:
            return DefWindowProcW(panel, message, wParam, lParam);
    }
}

// Update logs hold the bytes of statements and server messages as they came: UTF-8 or the
// suite's Windows-1251. The system's code page here, Qt's codecs in the Qt window.
std::string DecodeLog(std::string_view bytes) {
    return ToUtf8(DecodeToUtf16(bytes, 1251));
}

}  // namespace

struct TWin32Form::Impl {
    explicit Impl(TWin32Form& owner) : form(owner) {}
    ~Impl() {
        if (window != nullptr) {
            // Destroyed by its owner, not closed: the message loop goes on.
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            DestroyWindow(window);
        }
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    static void RegisterClasses();
    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void Create();
    HWND& At(FormControl control) { return controls[ControlIndex(control)]; }
    HFONT FontOf(FormControl control) { return fonts.Get(dpi, DesignOf(control).bold); }
    void CreateControl(const ControlDesign& design);
    CFormLayout Layout() const;
    // Places every control for the current client size and DPI (FormLayout.h).
    void LayoutControls();
    // Places a label for `caption`, by default the one it shows.
    void PlaceLabel(const CFormLayout& layout, FormControl label, const std::wstring& caption);
    void PlaceLabel(const CFormLayout& layout, FormControl label) {
        PlaceLabel(layout, label, WindowText(At(label)));
    }
    // The window moved to a monitor of another DPI: fonts and places for `newDpi`, and the size
    // Windows suggests.
    void ChangeDpi(int newDpi, const RECT& suggested);

    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs a handler; an error it raises is shown in the error box and the window goes on.
    void Guarded(const std::function<void()>& handler);
    void Dispatch(MSG& message);
    void btCancelClick();
    // Esc presses btCancel while it can be pressed.
    void PressCancel();

    TWin32Form& form;
    // Before the window, which goes first: its controls and log views hold these fonts.
    CWin32Fonts fonts;
    int dpi = kDesignDpi;
    HWND window = nullptr;
    std::array<HWND, kControlCount> controls{};
};

void TWin32Form::Impl::RegisterClasses() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX common{sizeof common, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&common);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.hInstance = Instance();
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpfnWndProc = FormProc;
        windowClass.lpszClassName = kFormClass;
        const auto icon = [](int sizeMetric) {
            HANDLE own =
                LoadImageW(Instance(), MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON,
                           GetSystemMetrics(sizeMetric), GetSystemMetrics(sizeMetric), LR_SHARED);
            return own != nullptr ? static_cast<HICON>(own) : LoadIconW(nullptr, IDI_APPLICATION);
        };
        windowClass.hIcon = icon(SM_CXICON);
        windowClass.hIconSm = icon(SM_CXSMICON);
        const bool form = RegisterClassExW(&windowClass) != 0;
        windowClass.hIcon = nullptr;
        windowClass.hIconSm = nullptr;
        windowClass.lpfnWndProc = PanelProc;
        windowClass.lpszClassName = kPanelClass;
        return form && RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) {
        throw std::runtime_error("Cannot register the window classes");
    }
}

LRESULT CALLBACK TWin32Form::Impl::FormProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* impl = static_cast<Impl*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        impl->window = window;  // before CreateWindowExW returns it
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl));
    }
    auto* impl = reinterpret_cast<Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (impl == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        impl->window = nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return impl->Handle(message, wParam, lParam);
}

void TWin32Form::Impl::Create() {
    RegisterClasses();
    // Made at the design size, then sized for the DPI of the monitor it is on: the design size
    // is the client area's, and the frame comes around it.
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const SIZE designFrame = FrameSize(DesignClientSize(kDesignDpi), style, kDesignDpi);
    window = CreateWindowExW(0, kFormClass, ToUtf16(kApplicationTitle).c_str(), style, 0, 0,
                             designFrame.cx, designFrame.cy, nullptr, nullptr, Instance(), this);
    if (window == nullptr) {
        ThrowLastError("Cannot create the window");
    }
    dpi = WindowDpi(window);
    for (const ControlDesign& design : FormDesign()) {
        CreateControl(design);
    }
    const SIZE frame = FrameSize(DesignClientSize(dpi), style, dpi);
    SetWindowPos(window, nullptr, 0, 0, frame.cx, frame.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutControls();
}

// A Windows control for its design, as TForm1 makes a widget for it: each kind with its
// toolkit's own styles.
void TWin32Form::Impl::CreateControl(const ControlDesign& design) {
    const wchar_t* windowClass = nullptr;
    DWORD style = design.visible ? WS_VISIBLE : 0;
    DWORD extendedStyle = 0;
    switch (design.kind) {
        case ControlKind::Panel:
            windowClass = kPanelClass;
            style |= WS_CLIPCHILDREN;
            extendedStyle = WS_EX_CONTROLPARENT;  // Tab moves into a panel's controls
            break;
        case ControlKind::Memo:
            // Wraps long lines (no ES_AUTOHSCROLL), has no scroll bars and is not read-only.
            windowClass = L"EDIT";
            style |= WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
            extendedStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Label:
            // SS_NOPREFIX: a file name with "&" is shown as it is.
            windowClass = L"STATIC";
            style |= (design.alignRight ? SS_RIGHT : SS_LEFT) | SS_NOPREFIX;
            break;
        case ControlKind::Button:
            windowClass = L"BUTTON";
            style |= BS_PUSHBUTTON | WS_TABSTOP;
            break;
        case ControlKind::ProgressBar:
            windowClass = PROGRESS_CLASSW;
            break;
    }
    HWND parent = design.parent ? At(*design.parent) : window;
    HWND control = CreateWindowExW(
        extendedStyle, windowClass, ToUtf16(design.caption).c_str(), WS_CHILD | style, 0, 0, 0, 0,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.control)), Instance(), nullptr);
    if (control == nullptr) {
        ThrowLastError("Cannot create a control of the window");
    }
    At(design.control) = control;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(design.control)), FALSE);
    if (!design.enabled) {
        EnableWindow(control, FALSE);
    }
    if (design.kind == ControlKind::Memo) {
        SendMessageW(control, EM_SETLIMITTEXT, 0, 0);  // the journal is not cut at 32 K characters
    }
}

CFormLayout TWin32Form::Impl::Layout() const {
    RECT client{};
    GetClientRect(window, &client);
    return CFormLayout({client.right, client.bottom}, dpi);
}

void TWin32Form::Impl::LayoutControls() {
    if (At(FormControl::btCancel) == nullptr) {
        return;  // WM_SIZE while the window is being created
    }
    const CFormLayout layout = Layout();
    for (const ControlDesign& design : FormDesign()) {
        if (design.kind == ControlKind::Label) {
            PlaceLabel(layout, design.control);
        } else {
            Place(At(design.control), layout.Place(design.control));
        }
    }
}

void TWin32Form::Impl::PlaceLabel(const CFormLayout& layout, FormControl label,
                                  const std::wstring& caption) {
    HWND control = At(label);
    const HFONT labelFont = FontOf(label);
    const LayoutSize designText =
        label == FormControl::lUpdateTime
            ? TextExtent(control, labelFont, ToUtf16(DesignOf(label).caption))
            : LayoutSize{};
    Place(control, layout.PlaceLabel(label, TextExtent(control, labelFont, caption), designText));
}

void TWin32Form::Impl::ChangeDpi(int newDpi, const RECT& suggested) {
    dpi = newDpi;
    for (const ControlDesign& design : FormDesign()) {
        SendMessageW(At(design.control), WM_SETFONT,
                     reinterpret_cast<WPARAM>(FontOf(design.control)), TRUE);
    }
    // The size changes with the DPI, or else WM_SIZE would not come: placed either way.
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutControls();
}

LRESULT TWin32Form::Impl::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) {
                LayoutControls();
            }
            return 0;
        case WM_DPICHANGED:
            ChangeDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_SHOWWINDOW:
            if (wParam != FALSE && form.FirstShowing()) {
                PostMessageW(window, kFormShowMessage, 0, 0);
            }
            break;
        case kFormShowMessage:
            Guarded([this] { form.Driver().FormShow(); });
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                switch (static_cast<FormControl>(LOWORD(wParam))) {
                    case FormControl::btOK:
                        Guarded([this] { form.Driver().btOKClick(); });
                        break;
                    case FormControl::btCancel:
                        btCancelClick();
                        break;
                    case FormControl::btLog:
                        // Over the window, so on its monitor and at its DPI.
                        Guarded([this] {
                            OpenLogView(window, dpi, fonts, form.FailedItemsView(DecodeLog));
                        });
                        break;
                    default:
                        break;
                }
            }
            return 0;
        case WM_CTLCOLOREDIT:
            if (reinterpret_cast<HWND>(lParam) == At(FormControl::Memo2)) {
                // The journal in the tooltip colours.
                auto* dc = reinterpret_cast<HDC>(wParam);
                SetBkColor(dc, GetSysColor(COLOR_INFOBK));
                SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_INFOBK));
            }
            break;
        case WM_CLOSE:
            if (!form.MayClose()) {  // a run is pumping messages
                return 0;
            }
            DestroyWindow(window);
            PostQuitMessage(0);  // the window's end is the program's
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TWin32Form::Impl::Guarded(const std::function<void()>& handler) {
    // Nothing may unwind through the window procedure into the system's code.
    try {
        handler();
    } catch (const std::exception& error) {
        ::ShowMessageBox(window, MessageKind::Error, kApplicationTitle, WithFullStop(error.what()));
    } catch (...) {
        ::ShowMessageBox(window, MessageKind::Error, kApplicationTitle, "Unknown error.");
    }
}

void TWin32Form::Impl::Dispatch(MSG& message) {
    if (window != nullptr && message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE &&
        (message.hwnd == window || IsChild(window, message.hwnd))) {
        PressCancel();
        return;
    }
    // Tab and Shift+Tab move between the controls.
    if (window != nullptr && IsDialogMessageW(window, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void TWin32Form::Impl::btCancelClick() {
    SendMessageW(window, WM_CLOSE, 0, 0);
}

void TWin32Form::Impl::PressCancel() {
    HWND cancel = At(FormControl::btCancel);
    if (IsWindowVisible(cancel) && IsWindowEnabled(cancel)) {
        btCancelClick();
    }
}

TWin32Form::TWin32Form(const FormDriverFactory& makeDriver)
    : m_impl(std::make_unique<Impl>(*this)) {
    m_impl->Create();
    // The driver reads its configuration; an error here ends the program.
    StartDriver(makeDriver);
}

TWin32Form::~TWin32Form() {
    StopDriver();  // before the controls it reports to
}

void TWin32Form::Show() {
    ShowWindow(m_impl->window, SW_SHOW);
    UpdateWindow(m_impl->window);
}

int TWin32Form::Run() {
    MSG message{};
    BOOL got = 0;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        m_impl->Dispatch(message);
    }
    return got == 0 ? static_cast<int>(message.wParam) : 1;
}

HWND__* TWin32Form::Handle() const {
    return m_impl->window;
}

HWND__* TWin32Form::Control(FormControl control) const {
    return m_impl->At(control);
}

void TWin32Form::DrawVisible(FormControl control, bool visible) {
    ShowWindow(m_impl->At(control), visible ? SW_SHOWNA : SW_HIDE);
}

void TWin32Form::DrawEnabled(FormControl control, bool enabled) {
    EnableWindow(m_impl->At(control), enabled);
}

void TWin32Form::DrawCaption(FormControl control, const std::string& caption) {
    HWND window = m_impl->At(control);
    const std::wstring text = ToUtf16(caption);
    if (DesignOf(control).kind != ControlKind::Label) {
        SetWindowTextW(window, text.c_str());
        return;
    }
    // Sized for the new caption first: a static control may paint its text as soon as it is
    // set (Wine's does), and a longer caption drawn into the old size wraps; growing the label
    // afterwards repaints only the new strip, which left "Встановлення          ння". The whole
    // label is painted anew once it has its size and text.
    m_impl->PlaceLabel(m_impl->Layout(), control, text);
    SetWindowTextW(window, text.c_str());
    InvalidateRect(window, nullptr, TRUE);
}

void TWin32Form::DrawProgress(int maximum, int position) {
    HWND bar = m_impl->At(FormControl::ProgressBar2);
    SendMessageW(bar, PBM_SETRANGE32, 0, std::max(1, maximum));
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TWin32Form::DrawAppendedLine(const std::string& line) {
    HWND memo = m_impl->At(FormControl::Memo2);
    const int end = GetWindowTextLengthW(memo);
    SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(end), end);
    const std::wstring text = ToUtf16(line) + L"\r\n";
    SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(memo, EM_SCROLLCARET, 0, 0);
}

void TWin32Form::DrawMark(const std::string& suffix, bool firstLine) {
    std::wstring insert = ToUtf16(suffix);
    if (firstLine) {
        insert += L"\r\n";  // the first line, with its line break
    }
    // In front of the final line break, which ends the last line.
    HWND memo = m_impl->At(FormControl::Memo2);
    const int end = GetWindowTextLengthW(memo);
    const int at = firstLine || end < 2 ? end : end - 2;
    SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(at), at);
    SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(insert.c_str()));
    SendMessageW(memo, EM_SCROLLCARET, 0, 0);
}

void TWin32Form::ShowMessageBox(MessageKind kind, const std::string& title,
                                const std::string& text) {
    ::ShowMessageBox(m_impl->window, kind, title, text);
}

void TWin32Form::PumpMessages() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the loop in Run()
            return;
        }
        m_impl->Dispatch(message);
    }
}

void TWin32Form::PumpUntil(CCompletion& done, double seconds) {
    // The helper thread wakes the wait with a thread message as soon as its call is done.
    const DWORD thread = GetCurrentThreadId();
    done.OnSet([thread] { PostThreadMessageW(thread, WM_NULL, 0, 0); });
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (ULONGLONG now = GetTickCount64(); !done.IsSet() && now < deadline;
         now = GetTickCount64()) {
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
        PumpMessages();
    }
    done.OnSet(nullptr);
}
