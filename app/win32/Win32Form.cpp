#include "app/win32/Win32Form.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>

#include "app/ErrorText.h"
#include "app/UpdateDriver.h"
#include "app/win32/FormLayout.h"
#include "app/win32/Win32MessageBoxes.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace {

constexpr int kFirstControl = static_cast<int>(FormControl::plInfo);
constexpr int kControlCount = static_cast<int>(FormControl::btCancel) - kFirstControl + 1;

constexpr wchar_t kFormClass[] = L"TessaraUpdaterForm";
constexpr wchar_t kPanelClass[] = L"TessaraUpdaterPanel";
constexpr wchar_t kLogViewClass[] = L"TessaraUpdaterLogView";
constexpr int kLogTextId = 1;
constexpr int kLogCloseId = 2;
// The log view at 96 DPI: its size, how far from the window's top left corner it opens, its
// close button and the margin around that.
constexpr LayoutSize kLogViewSize{600, 400};
constexpr int kLogViewOffset = 30;
constexpr int kLogButtonWidth = 90;
constexpr int kLogButtonHeight = 25;
constexpr int kLogMargin = 8;
// The DPI a log view is laid out for, as a property of its window.
constexpr wchar_t kLogViewDpi[] = L"TessaraUpdaterDpi";
// The program's icon (resources/windows/program.rc.in); a program without one, such as a test,
// gets the system's.
constexpr WORD kProgramIconId = 1;
// Posted on the first showing, so the checks run once the window is on screen and before any
// input (posted messages come before input).
constexpr UINT kFormShowMessage = WM_APP + 1;
// The designed caption of lUpdateTime, whose right edge the label keeps.
constexpr char kTimeCaption[] = "--:--";

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

// The control's own flag, as designed: a control counts as visible while its window is not
// shown yet, and keeps its flag while a panel around it is hidden.
bool OwnVisibleFlag(HWND window) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Place(HWND window, const LayoutRect& place) {
    SetWindowPos(window, nullptr, place.left, place.top, place.width, place.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The extent of `text` in `font`: its width and the font's line height.
LayoutSize TextExtent(HWND window, HFONT font, const std::wstring& text) {
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return {extent.cx, metrics.tmHeight};
}

// A function of user32 that older Windows lacks (GetDpiForWindow and AdjustWindowRectExForDpi
// came with Windows 10 1607); null there.
template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The DPI the window is shown at: its monitor's where Windows scales per monitor, else the
// system's.
int WindowDpi(HWND window) {
    static const auto getDpiForWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) {
            return static_cast<int>(dpi);
        }
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDesignDpi;
}

// The window size around a client area of `client` at `dpi` (title bar and borders included).
SIZE FrameSize(LayoutSize client, DWORD style, int dpi) {
    static const auto adjustForDpi =
        User32Function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    RECT frame{0, 0, client.width, client.height};
    if (adjustForDpi == nullptr || !adjustForDpi(&frame, style, FALSE, 0, static_cast<UINT>(dpi))) {
        AdjustWindowRectEx(&frame, style, FALSE, 0);
    }
    return {frame.right - frame.left, frame.bottom - frame.top};
}

// Owner of a font of the window: Tahoma 8 pt at a DPI.
class CFont {
  public:
    CFont(bool bold, int dpi) {
        m_font = CreateFontW(-MulDiv(8, dpi, 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                             FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
        if (m_font == nullptr) {
            throw std::runtime_error("Cannot create the window's font");
        }
    }
    ~CFont() { DeleteObject(m_font); }
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;
    HFONT Get() const { return m_font; }

  private:
    HFONT m_font;
};

class CControlAdapter : public IControl {
  public:
    explicit CControlAdapter(HWND window) : m_window(window) {}
    void SetVisible(bool visible) override { ShowWindow(m_window, visible ? SW_SHOWNA : SW_HIDE); }
    bool IsVisible() const override { return OwnVisibleFlag(m_window); }

  private:
    HWND m_window;
};

class CLabelAdapter : public ILabel {
  public:
    // `afterCaption` places a label that sizes itself to its caption again.
    explicit CLabelAdapter(HWND label, std::function<void()> afterCaption = {})
        : m_label(label), m_afterCaption(std::move(afterCaption)) {}
    void SetVisible(bool visible) override { ShowWindow(m_label, visible ? SW_SHOWNA : SW_HIDE); }
    bool IsVisible() const override { return OwnVisibleFlag(m_label); }
    void SetCaption(const std::string& caption) override {
        SetWindowTextW(m_label, ToUtf16(caption).c_str());
        if (m_afterCaption) {
            m_afterCaption();
        }
    }
    std::string Caption() const override { return ToUtf8(WindowText(m_label)); }

  private:
    HWND m_label;
    std::function<void()> m_afterCaption;
};

class CButtonAdapter : public IButton {
  public:
    explicit CButtonAdapter(HWND button) : m_button(button) {}
    void SetVisible(bool visible) override { ShowWindow(m_button, visible ? SW_SHOWNA : SW_HIDE); }
    bool IsVisible() const override { return OwnVisibleFlag(m_button); }
    void SetEnabled(bool enabled) override { EnableWindow(m_button, enabled); }
    bool IsEnabled() const override { return IsWindowEnabled(m_button) != FALSE; }
    void SetCaption(const std::string& caption) override {
        SetWindowTextW(m_button, ToUtf16(caption).c_str());
    }
    std::string Caption() const override { return ToUtf8(WindowText(m_button)); }

  private:
    HWND m_button;
};

class CProgressAdapter : public CDrawnProgressBar {
  public:
    explicit CProgressAdapter(HWND bar) : m_bar(bar) { Draw(); }
    void SetVisible(bool visible) override { ShowWindow(m_bar, visible ? SW_SHOWNA : SW_HIDE); }
    bool IsVisible() const override { return OwnVisibleFlag(m_bar); }

  private:
    void Draw() override {
        SendMessageW(m_bar, PBM_SETRANGE32, 0, std::max(1, Maximum()));
        SendMessageW(m_bar, PBM_SETPOS, static_cast<WPARAM>(Position()), 0);
    }

    HWND m_bar;
};

// Update logs hold the bytes of statements and server messages as they came: UTF-8 or the
// suite's Windows-1251. The text box breaks lines at CR LF only.
std::wstring DecodeLog(const std::string& bytes) {
    const std::wstring text = DecodeToUtf16(bytes, 1251);
    std::wstring lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) {
            lines += L'\r';
        }
        lines += text[i];
    }
    return lines;
}

std::string ReadLogBytes(const std::string& path) {
    std::ifstream in(std::filesystem::path(ToUtf16(path)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

    struct Adapters {
        CButtonAdapter btOK;
        CButtonAdapter btCancel;
        CLabelAdapter lCurVer;
        CLabelAdapter lActVer;
        CControlAdapter plUp;
        CLabelAdapter lUpdate;
        CProgressAdapter ProgressBar2;
        CLabelAdapter lTextFile;
        CLabelAdapter lFile;
        CLabelAdapter lUpdateTime;
    };

    // The window's two fonts at one DPI.
    struct Fonts {
        explicit Fonts(int dpi) : normal(false, dpi), bold(true, dpi) {}
        CFont normal;
        CFont bold;
    };

    static void RegisterClasses();
    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The window of "Журнал помилок": one read-only text box that fills it.
    static LRESULT CALLBACK LogViewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam);

    void Create();
    size_t Index(FormControl control) const {
        return static_cast<size_t>(static_cast<int>(control) - kFirstControl);
    }
    HWND& At(FormControl control) { return controls[Index(control)]; }
    // The fonts at `dpi`, made on first use. Fonts of another DPI stay until the window goes:
    // a control may hold one until it is given the new one.
    const Fonts& FontsAt(int fontDpi);
    HFONT FontOf(FormControl control) {
        return bold[Index(control)] ? FontsAt(dpi).bold.Get() : FontsAt(dpi).normal.Get();
    }
    HWND Make(const wchar_t* windowClass, const std::string& caption, DWORD style, HWND parent,
              FormControl id, bool isBold = false, DWORD extendedStyle = 0);
    HWND MakePanel(HWND parent, FormControl id);
    HWND MakeLabel(HWND parent, FormControl id, const char* caption, bool isBold,
                   bool visible = true, DWORD alignment = SS_LEFT);
    HWND MakeButton(HWND parent, FormControl id, const char* caption, bool visible = true);
    void CreateControls();
    CFormLayout Layout() const;
    // Places every control for the current client size and DPI (FormLayout.h).
    void LayoutControls();
    // Places a label for its caption.
    void PlaceLabel(const CFormLayout& layout, FormControl label);
    void PlaceLabel(FormControl label) { PlaceLabel(Layout(), label); }
    // The window moved to a monitor of another DPI: fonts and places for `newDpi`, and the size
    // Windows suggests.
    void ChangeDpi(int newDpi, const RECT& suggested);

    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs a handler; an error it raises is shown in the error box and the window goes on.
    void Guarded(const std::function<void()>& handler);
    void Dispatch(MSG& message);
    void btOKClick();
    void btCancelClick();
    void btLogClick();
    // Esc presses btCancel while it can be pressed.
    void PressCancel();

    TWin32Form& form;
    std::map<int, Fonts> fonts;
    int dpi = kDesignDpi;
    HWND window = nullptr;
    std::array<HWND, kControlCount> controls{};
    std::array<bool, kControlCount> bold{};
    bool formShown = false;
    std::optional<Adapters> adapters;
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
        const bool panel = RegisterClassExW(&windowClass) != 0;
        windowClass.lpfnWndProc = LogViewProc;
        windowClass.lpszClassName = kLogViewClass;
        return form && panel && RegisterClassExW(&windowClass) != 0;
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

LRESULT CALLBACK TWin32Form::Impl::LogViewProc(HWND view, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    auto* impl = reinterpret_cast<Impl*>(GetWindowLongPtrW(view, GWLP_USERDATA));
    // Its controls in the window's font at `viewDpi`, laid out for it.
    const auto useDpi = [&](int viewDpi) {
        SetPropW(view, kLogViewDpi, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(viewDpi)));
        for (const int id : {kLogTextId, kLogCloseId}) {
            SendMessageW(GetDlgItem(view, id), WM_SETFONT,
                         reinterpret_cast<WPARAM>(impl->FontsAt(viewDpi).normal.Get()), TRUE);
        }
    };
    switch (message) {
        case WM_NCCREATE:
            // The form that opens it, for its fonts and its DPI.
            SetWindowLongPtrW(view, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(
                                  reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
            break;
        case WM_CREATE:
            // A read-only text box over its close button.
            CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                            0, 0, 0, 0, view,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLogTextId)), Instance(),
                            nullptr);
            CreateWindowExW(0, L"BUTTON", L"Зачинити", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0,
                            0, 0, view, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLogCloseId)),
                            Instance(), nullptr);
            useDpi(impl->dpi);
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
    CreateControls();
    const SIZE frame = FrameSize(DesignClientSize(dpi), style, dpi);
    SetWindowPos(window, nullptr, 0, 0, frame.cx, frame.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutControls();
    const auto placeAgain = [this](FormControl label) {
        return [this, label] { PlaceLabel(label); };
    };
    adapters.emplace(Adapters{
        CButtonAdapter(At(FormControl::btOK)),
        CButtonAdapter(At(FormControl::btCancel)),
        CLabelAdapter(At(FormControl::lCurVer)),
        CLabelAdapter(At(FormControl::lActVer)),
        CControlAdapter(At(FormControl::plUp)),
        CLabelAdapter(At(FormControl::lUpdate), placeAgain(FormControl::lUpdate)),
        CProgressAdapter(At(FormControl::ProgressBar2)),
        CLabelAdapter(At(FormControl::lTextFile), placeAgain(FormControl::lTextFile)),
        CLabelAdapter(At(FormControl::lFile), placeAgain(FormControl::lFile)),
        CLabelAdapter(At(FormControl::lUpdateTime), placeAgain(FormControl::lUpdateTime)),
    });
}

const TWin32Form::Impl::Fonts& TWin32Form::Impl::FontsAt(int fontDpi) {
    return fonts.try_emplace(fontDpi, fontDpi).first->second;
}

HWND TWin32Form::Impl::Make(const wchar_t* windowClass, const std::string& caption, DWORD style,
                            HWND parent, FormControl id, bool isBold, DWORD extendedStyle) {
    HWND control = CreateWindowExW(
        extendedStyle, windowClass, ToUtf16(caption).c_str(), WS_CHILD | style, 0, 0, 0, 0, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    if (control == nullptr) {
        ThrowLastError("Cannot create a control of the window");
    }
    At(id) = control;
    bold[Index(id)] = isBold;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(id)), FALSE);
    return control;
}

HWND TWin32Form::Impl::MakePanel(HWND parent, FormControl id) {
    // Tab moves into a panel's controls.
    return Make(kPanelClass, "", WS_VISIBLE | WS_CLIPCHILDREN, parent, id, false,
                WS_EX_CONTROLPARENT);
}

HWND TWin32Form::Impl::MakeLabel(HWND parent, FormControl id, const char* caption, bool isBold,
                                 bool visible, DWORD alignment) {
    // SS_NOPREFIX: a file name with "&" is shown as it is. Placed by LayoutControls().
    return Make(L"STATIC", caption, alignment | SS_NOPREFIX | (visible ? WS_VISIBLE : 0), parent,
                id, isBold);
}

HWND TWin32Form::Impl::MakeButton(HWND parent, FormControl id, const char* caption, bool visible) {
    return Make(L"BUTTON", caption, BS_PUSHBUTTON | WS_TABSTOP | (visible ? WS_VISIBLE : 0), parent,
                id);
}

void TWin32Form::Impl::CreateControls() {
    HWND plInfo = MakePanel(window, FormControl::plInfo);
    // Wraps long lines (no ES_AUTOHSCROLL), has no scroll bars and is not read-only.
    HWND memo =
        Make(L"EDIT", "", WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
             plInfo, FormControl::Memo2, false, WS_EX_CLIENTEDGE);
    SendMessageW(memo, EM_SETLIMITTEXT, 0, 0);  // the journal is not cut at 32 K characters

    // Shown after a run whose update logs record failed items (the journal does not list them).
    MakeLabel(plInfo, FormControl::lFailures, "", true, false);
    MakeButton(plInfo, FormControl::btLog, "Журнал помилок", false);

    HWND panel3 = MakePanel(window, FormControl::Panel3);
    HWND panel4 = MakePanel(panel3, FormControl::Panel4);
    MakeLabel(panel4, FormControl::Label1, "Поточна версія", true);
    // Right-aligned in a fixed width.
    MakeLabel(panel4, FormControl::lCurVer, "-", true, true, SS_RIGHT);
    HWND panel5 = MakePanel(panel3, FormControl::Panel5);
    MakeLabel(panel5, FormControl::Label2, "Доступна версія", true);
    MakeLabel(panel5, FormControl::lActVer, "-", true, true, SS_RIGHT);

    HWND plUp = MakePanel(window, FormControl::plUp);
    MakeLabel(plUp, FormControl::lUpdate, "Встановлення оновлення", true, false);
    Make(PROGRESS_CLASSW, "", WS_VISIBLE, plUp, FormControl::ProgressBar2);
    MakeLabel(plUp, FormControl::lTextFile, "Обробока файла:", false, false);
    MakeLabel(plUp, FormControl::lFile, "lFile", false, false);
    MakeLabel(plUp, FormControl::lUpdateTime, kTimeCaption, false, false, SS_RIGHT);

    HWND panel2 = MakePanel(window, FormControl::Panel2);
    EnableWindow(MakeButton(panel2, FormControl::btOK, "Оновить"), FALSE);
    MakeButton(panel2, FormControl::btCancel, "Зачинити");
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
    for (int id = kFirstControl; id < kFirstControl + kControlCount; ++id) {
        const auto control = static_cast<FormControl>(id);
        if (IsLabel(control)) {
            PlaceLabel(layout, control);
        } else {
            Place(At(control), layout.Place(control));
        }
    }
}

void TWin32Form::Impl::PlaceLabel(const CFormLayout& layout, FormControl label) {
    HWND control = At(label);
    const HFONT labelFont = FontOf(label);
    const LayoutSize designText = label == FormControl::lUpdateTime
                                      ? TextExtent(control, labelFont, ToUtf16(kTimeCaption))
                                      : LayoutSize{};
    Place(control, layout.PlaceLabel(label, TextExtent(control, labelFont, WindowText(control)),
                                     designText));
}

void TWin32Form::Impl::ChangeDpi(int newDpi, const RECT& suggested) {
    dpi = newDpi;
    for (int id = kFirstControl; id < kFirstControl + kControlCount; ++id) {
        const auto control = static_cast<FormControl>(id);
        SendMessageW(At(control), WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(control)), TRUE);
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
            if (wParam != FALSE && !formShown) {
                formShown = true;
                PostMessageW(window, kFormShowMessage, 0, 0);
            }
            break;
        case kFormShowMessage:
            Guarded([this] { form.m_driver->FormShow(); });
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                switch (static_cast<FormControl>(LOWORD(wParam))) {
                    case FormControl::btOK:
                        btOKClick();
                        break;
                    case FormControl::btCancel:
                        btCancelClick();
                        break;
                    case FormControl::btLog:
                        btLogClick();
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
            // Closing from the title bar while the run pumps messages would leave a package half
            // installed; the run ends by itself and then the window can be closed.
            if (form.m_driver && form.m_driver->IsRunning()) {
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

void TWin32Form::Impl::btOKClick() {
    Guarded([this] { form.m_driver->btOKClick(); });
}

void TWin32Form::Impl::btCancelClick() {
    SendMessageW(window, WM_CLOSE, 0, 0);
}

void TWin32Form::Impl::btLogClick() {
    Guarded([this] {
        std::wstring content;
        for (const FailedItemsLog& log : form.m_failedLogs) {
            content += ToUtf16(log.path) + L"\r\n\r\n";
            content += DecodeLog(ReadLogBytes(log.path));
            content += L"\r\n";
        }
        // Copies that failed are in no log: their error lines are listed here.
        if (!form.m_failedCopies.empty()) {
            content += L"Не скопійовано:\r\n";
            for (const FailedCopy& copy : form.m_failedCopies) {
                content += ToUtf16(copy.destination + ": " + copy.error) + L"\r\n";
            }
        }
        // Over the window, so on its monitor and at its DPI.
        RECT frame{};
        GetWindowRect(window, &frame);
        const int offset = ScaleToDpi(kLogViewOffset, dpi);
        HWND view = CreateWindowExW(
            0, kLogViewClass, L"Журнал помилок", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
            frame.left + offset, frame.top + offset, ScaleToDpi(kLogViewSize.width, dpi),
            ScaleToDpi(kLogViewSize.height, dpi), window, nullptr, Instance(), this);
        if (view == nullptr) {
            ThrowLastError("Cannot open the update log");
        }
        SetWindowTextW(GetDlgItem(view, kLogTextId), content.c_str());
    });
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
    m_driver = makeDriver(*this);
}

TWin32Form::~TWin32Form() {
    m_driver.reset();  // before the controls it reports to
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

std::string TWin32Form::JournalText() const {
    std::string text;
    for (const std::string& line : m_lines) {
        text += line + "\r\n";
    }
    return text;
}

void TWin32Form::AppendLine(const std::string& text) {
    m_lines.push_back(text);
    HWND memo = m_impl->At(FormControl::Memo2);
    const int end = GetWindowTextLengthW(memo);
    SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(end), end);
    const std::wstring line = ToUtf16(text) + L"\r\n";
    SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageW(memo, EM_SCROLLCARET, 0, 0);
}

void TWin32Form::MarkLastLine(const std::string& suffix) {
    std::wstring insert = ToUtf16(suffix);
    const bool firstLine = m_lines.empty();
    if (firstLine) {
        m_lines.emplace_back();
        insert += L"\r\n";  // the first line, with its line break
    }
    m_lines.back() += suffix;
    // In front of the final line break, which ends the last line.
    HWND memo = m_impl->At(FormControl::Memo2);
    const int end = GetWindowTextLengthW(memo);
    const int at = firstLine || end < 2 ? end : end - 2;
    SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(at), at);
    SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(insert.c_str()));
    SendMessageW(memo, EM_SCROLLCARET, 0, 0);
}

IButton& TWin32Form::btOK() {
    return m_impl->adapters->btOK;
}
IButton& TWin32Form::btCancel() {
    return m_impl->adapters->btCancel;
}
ILabel& TWin32Form::lCurVer() {
    return m_impl->adapters->lCurVer;
}
ILabel& TWin32Form::lActVer() {
    return m_impl->adapters->lActVer;
}
IControl& TWin32Form::plUp() {
    return m_impl->adapters->plUp;
}
ILabel& TWin32Form::lUpdate() {
    return m_impl->adapters->lUpdate;
}
IProgressBar& TWin32Form::ProgressBar2() {
    return m_impl->adapters->ProgressBar2;
}
ILabel& TWin32Form::lTextFile() {
    return m_impl->adapters->lTextFile;
}
ILabel& TWin32Form::lFile() {
    return m_impl->adapters->lFile;
}
ILabel& TWin32Form::lUpdateTime() {
    return m_impl->adapters->lUpdateTime;
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

void TWin32Form::ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                                 const std::vector<FailedCopy>& copies) {
    m_failedLogs = logs;
    m_failedCopies = copies;
    HWND label = m_impl->At(FormControl::lFailures);
    SetWindowTextW(label, ToUtf16(FailedItemsText(logs, copies)).c_str());
    m_impl->PlaceLabel(FormControl::lFailures);
    ShowWindow(label, SW_SHOWNA);
    ShowWindow(m_impl->At(FormControl::btLog), SW_SHOWNA);
}
