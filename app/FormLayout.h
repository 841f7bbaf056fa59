#pragma once
// The main window's layout as plain arithmetic: where each control goes, in its parent's client
// coordinates, for a client area in pixels and the DPI of the window's monitor. The design is the
// form at 96 dots per inch: a client area of 635 x 456, the panels stacked at the bottom, the
// controls at their places with their anchors. At another DPI every designed length is
// multiplied by dpi / 96 (rounded as Windows' MulDiv rounds); when the window is larger than the
// design, controls anchored to the right or the bottom move or stretch by the difference, and
// plInfo takes the height the bottom panels leave. Labels size themselves to their captions,
// which the caller measures in their fonts at that DPI. No window toolkit here: both windows
// create their controls from this design and apply these places, the Qt window at 96 DPI (Qt
// scales its logical pixels to the screen itself).

#include <cstddef>
#include <optional>
#include <span>

// The controls of the main window by their names (their identifiers on Windows), in the order
// they are created: parents before their children.
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

inline constexpr size_t kControlCount =
    static_cast<size_t>(FormControl::btCancel) - static_cast<size_t>(FormControl::plInfo) + 1;
// A control's place among all of them, as in FormDesign().
constexpr size_t ControlIndex(FormControl control) {
    return static_cast<size_t>(control) - static_cast<size_t>(FormControl::plInfo);
}

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

enum class ControlKind { Panel, Memo, Label, Button, ProgressBar };

// A control as designed: its parent (none: the window's client area), its caption and font, and
// the state it starts in.
struct ControlDesign {
    FormControl control;
    const char* name;
    ControlKind kind;
    std::optional<FormControl> parent;
    const char* caption;
    bool bold;
    bool visible;
    bool enabled;
    bool alignRight;  // a label whose caption keeps to its right edge
};

// Every control, in the order of FormControl.
std::span<const ControlDesign> FormDesign();
const ControlDesign& DesignOf(FormControl control);

// The view of the update logs that btLog opens, at 96 DPI: its size, how far from the main
// window's top left corner it opens, its close button and the margin around that.
inline constexpr LayoutSize kLogViewSize{600, 400};
inline constexpr int kLogViewOffset = 30;
inline constexpr int kLogButtonWidth = 90;
inline constexpr int kLogButtonHeight = 25;
inline constexpr int kLogMargin = 8;

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
