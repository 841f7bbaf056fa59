#include "app/FormLayout.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

using enum FormControl;
using enum ControlKind;

// Kept in the order of FormControl, so that a control's design is at its index.
constexpr ControlDesign kControls[] = {
    // name, kind, parent, caption, bold, visible, enabled, right-aligned
    {plInfo, "plInfo", Panel, {}, "", false, true, true, false},
    {Memo2, "Memo2", Memo, plInfo, "", false, true, true, false},
    // Shown after a run whose update logs record failed items (the journal does not list them).
    {lFailures, "lFailures", Label, plInfo, "", true, false, true, false},
    {btLog, "btLog", Button, plInfo, "Журнал помилок", false, false, true, false},
    {Panel3, "Panel3", Panel, {}, "", false, true, true, false},
    {Panel4, "Panel4", Panel, Panel3, "", false, true, true, false},
    {Label1, "Label1", Label, Panel4, "Поточна версія", true, true, true, false},
    {lCurVer, "lCurVer", Label, Panel4, "-", true, true, true, true},
    {Panel5, "Panel5", Panel, Panel3, "", false, true, true, false},
    {Label2, "Label2", Label, Panel5, "Доступна версія", true, true, true, false},
    {lActVer, "lActVer", Label, Panel5, "-", true, true, true, true},
    {plUp, "plUp", Panel, {}, "", false, true, true, false},
    {lUpdate, "lUpdate", Label, plUp, "Встановлення оновлення", true, false, true, false},
    {ProgressBar2, "ProgressBar2", ProgressBar, plUp, "", false, true, true, false},
    {lTextFile, "lTextFile", Label, plUp, "Обробока файла:", false, false, true, false},
    {lFile, "lFile", Label, plUp, "lFile", false, false, true, false},
    {lUpdateTime, "lUpdateTime", Label, plUp, "--:--", false, false, true, true},
    {Panel2, "Panel2", Panel, {}, "", false, true, true, false},
    {btOK, "btOK", Button, Panel2, "Оновить", false, true, false, false},
    {btCancel, "btCancel", Button, Panel2, "Зачинити", false, true, true, false},
};
static_assert(std::size(kControls) == kControlCount);

// The design at 96 DPI: the client area and the heights of the panels stacked at the bottom.
constexpr LayoutSize kDesignClient{635, 456};
constexpr int kPanel2Height = 42;
constexpr int kPlUpHeight = 112;
constexpr int kPanel3Height = 46;
constexpr int kRowHeight = 22;  // Panel4 and Panel5, the rows of Panel3

// Where a label's designed caption begins; all are anchored left and top but lUpdateTime.
struct LabelDesign {
    FormControl control;
    int left;
    int top;
    int fixedWidth;  // 0: as wide as its caption
};
constexpr LabelDesign kLabels[] = {
    {FormControl::lFailures, 46, 4, 0},     {FormControl::Label1, 16, 6, 0},
    {FormControl::lCurVer, 143, 5, 191},    {FormControl::Label2, 16, 6, 0},
    {FormControl::lActVer, 143, 6, 191},    {FormControl::lUpdate, 17, 24, 0},
    {FormControl::lTextFile, 17, 64, 0},    {FormControl::lFile, 17, 80, 0},
    {FormControl::lUpdateTime, 601, 21, 0},
};

[[noreturn]] void ThrowWrongKind(FormControl control, const char* what) {
    throw std::invalid_argument("Control " + std::to_string(static_cast<int>(control)) + " is " +
                                what);
}

}  // namespace

std::span<const ControlDesign> FormDesign() {
    return kControls;
}

const ControlDesign& DesignOf(FormControl control) {
    if (ControlIndex(control) >= kControlCount) {
        ThrowWrongKind(control, "no control of the window");
    }
    return kControls[ControlIndex(control)];
}

int ScaleToDpi(int length, int dpi) {
    // Halves away from zero, as MulDiv(length, dpi, 96) does.
    const int64_t product = static_cast<int64_t>(length) * dpi;
    const int64_t half = kDesignDpi / 2;
    return static_cast<int>((product >= 0 ? product + half : product - half) / kDesignDpi);
}

LayoutSize DesignClientSize(int dpi) {
    return {ScaleToDpi(kDesignClient.width, dpi), ScaleToDpi(kDesignClient.height, dpi)};
}

bool IsLabel(FormControl control) {
    return std::any_of(std::begin(kLabels), std::end(kLabels),
                       [&](const LabelDesign& label) { return label.control == control; });
}

int CFormLayout::Wider() const {
    return m_client.width - Scaled(kDesignClient.width);
}

int CFormLayout::InfoHeight() const {
    return std::max(
        0, m_client.height - Scaled(kPanel2Height) - Scaled(kPlUpHeight) - Scaled(kPanel3Height));
}

LayoutRect CFormLayout::Place(FormControl control) const {
    const int width = m_client.width;
    const int panel2Top = m_client.height - Scaled(kPanel2Height);
    const int plUpTop = panel2Top - Scaled(kPlUpHeight);
    const int panel3Top = plUpTop - Scaled(kPanel3Height);
    // How much taller plInfo is than at the design size, for the journal anchored to its bottom.
    const int taller = InfoHeight() - (Scaled(kDesignClient.height) - Scaled(kPanel2Height) -
                                       Scaled(kPlUpHeight) - Scaled(kPanel3Height));
    switch (control) {
        case FormControl::plInfo:
            return {0, 0, width, InfoHeight()};
        case FormControl::Memo2:  // anchored on all four sides
            return {Scaled(46), Scaled(22), std::max(0, Scaled(564) + Wider()),
                    std::max(0, Scaled(219) + taller)};
        case FormControl::btLog:  // right-aligned with the journal, above it
            return {Scaled(490) + Wider(), Scaled(1), Scaled(120), Scaled(20)};
        case FormControl::Panel3:
            return {0, panel3Top, width, Scaled(kPanel3Height)};
        case FormControl::Panel4:
            return {Scaled(1), Scaled(1), width - 2 * Scaled(1), Scaled(kRowHeight)};
        case FormControl::Panel5:
            return {Scaled(1), Scaled(1) + Scaled(kRowHeight), width - 2 * Scaled(1),
                    Scaled(kRowHeight)};
        case FormControl::plUp:
            return {0, plUpTop, width, Scaled(kPlUpHeight)};
        case FormControl::ProgressBar2:  // anchored left, top and right
            return {Scaled(17), Scaled(40), std::max(0, Scaled(604) + Wider()), Scaled(17)};
        case FormControl::Panel2:
            return {0, panel2Top, width, Scaled(kPanel2Height)};
        case FormControl::btOK:  // anchored top and right
            return {Scaled(467) + Wider(), Scaled(9), Scaled(75), Scaled(25)};
        case FormControl::btCancel:
            return {Scaled(555) + Wider(), Scaled(9), Scaled(75), Scaled(25)};
        default:
            ThrowWrongKind(control, "a label");
    }
}

LayoutRect CFormLayout::PlaceLabel(FormControl label, LayoutSize text,
                                   LayoutSize designText) const {
    const auto design =
        std::find_if(std::begin(kLabels), std::end(kLabels),
                     [&](const LabelDesign& entry) { return entry.control == label; });
    if (design == std::end(kLabels)) {
        ThrowWrongKind(label, "no label");
    }
    const int top = Scaled(design->top);
    if (label == FormControl::lUpdateTime) {
        const int right = Scaled(design->left) + designText.width + Wider();
        return {right - text.width, top, text.width, text.height};
    }
    const int width = design->fixedWidth != 0 ? Scaled(design->fixedWidth) : text.width;
    return {Scaled(design->left), top, width, text.height};
}
