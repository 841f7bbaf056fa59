#pragma once
// The main window's layout as plain arithmetic: where each control goes, in its parent's client
// coordinates, for a client area in pixels and the DPI of the window's monitor. The design is the
// form at 96 dots per inch: a client area of 635 x 456, the panels stacked at the bottom, the
// controls at their places with their anchors. At another DPI every designed length is
// multiplied by dpi / 96 (rounded as Windows' MulDiv rounds); when the window is larger than the
// design, controls anchored to the right or the bottom move or stretch by the difference, and
// plInfo takes the height the bottom panels leave. Labels size themselves to their captions,
// which the caller measures in their fonts at that DPI. No window system here: the Win32 window
// applies the places, and a Qt window could apply the same.

// The child windows of the main window, by the names of the controls (their identifiers on
// Windows).
enum class FormControl : int {
    plInfo = 100,
    Memo2,
    lFailures,
    btLog,
    Panel3,
    Panel4,
    Label1,
    lCurVer,
    Panel5,
    Label2,
    lActVer,
    plUp,
    lUpdate,
    ProgressBar2,
    lTextFile,
    lFile,
    lUpdateTime,
    Panel2,
    btOK,
    btCancel,
};

struct LayoutSize {
    int width = 0;
    int height = 0;
    bool operator==(const LayoutSize&) const = default;
};

struct LayoutRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const LayoutRect&) const = default;
};

inline constexpr int kDesignDpi = 96;

// A length designed at 96 DPI, in pixels at `dpi`.
int ScaleToDpi(int length, int dpi);

// The client area the window opens with at `dpi`.
LayoutSize DesignClientSize(int dpi);

// A control that sizes itself to its caption (a label).
bool IsLabel(FormControl control);

class CFormLayout {
  public:
    CFormLayout(LayoutSize client, int dpi) : m_client(client), m_dpi(dpi) {}

    // The place of a panel, the journal, the progress bar or a button; labels throw
    // std::invalid_argument.
    LayoutRect Place(FormControl control) const;
    // The place of a label whose caption measures `text` in its font. lUpdateTime is
    // right-aligned and anchored right: it keeps the right edge that its designed caption
    // "--:--", measuring `designText`, has at its designed place. Other controls throw
    // std::invalid_argument.
    LayoutRect PlaceLabel(FormControl label, LayoutSize text, LayoutSize designText = {}) const;

  private:
    int Scaled(int length) const { return ScaleToDpi(length, m_dpi); }
    // How much wider the client area is than the design at this DPI.
    int Wider() const;
    int InfoHeight() const;  // plInfo: the height above the bottom panels

    LayoutSize m_client;
    int m_dpi;
};
