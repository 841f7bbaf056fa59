// The main window's layout as arithmetic (app/FormLayout.h): the design at 96 DPI, the
// same design scaled at other DPIs, and a window larger or smaller than the design.

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <string>

#include "app/FormLayout.h"

namespace {

constexpr int kDpis[] = {96, 120, 144, 168, 192, 288};

struct DesignedControl {
    FormControl control;
    LayoutRect design;  // at 96 DPI and the design size
};
// The controls with designed sizes, anchored left and top or right and top (the buttons).
const DesignedControl kDesigned[] = {
    {FormControl::Memo2, {46, 22, 564, 219}},       {FormControl::btLog, {490, 1, 120, 20}},
    {FormControl::ProgressBar2, {17, 40, 604, 17}}, {FormControl::btOK, {467, 9, 75, 25}},
    {FormControl::btCancel, {555, 9, 75, 25}},
};
// The panels from top to bottom.
constexpr FormControl kStack[] = {FormControl::plInfo, FormControl::Panel3, FormControl::plUp,
                                  FormControl::Panel2};

LayoutRect Scaled(const LayoutRect& design, int dpi) {
    return {ScaleToDpi(design.left, dpi), ScaleToDpi(design.top, dpi),
            ScaleToDpi(design.width, dpi), ScaleToDpi(design.height, dpi)};
}

std::string Describe(const LayoutRect& rect) {
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
           std::to_string(rect.width) + "x" + std::to_string(rect.height);
}

}  // namespace

TEST(FormLayout, ScalesAsWindowsScales) {
    // Every length the design has, at the DPIs of 100 % to 300 %, against Windows' own rounding.
    for (const int dpi : kDpis) {
        for (int length = -700; length <= 700; ++length) {
            ASSERT_EQ(ScaleToDpi(length, dpi), MulDiv(length, dpi, kDesignDpi))
                << length << " at " << dpi;
        }
    }
    EXPECT_EQ(DesignClientSize(96), (LayoutSize{635, 456}));
    EXPECT_EQ(DesignClientSize(144), (LayoutSize{953, 684}));
}

TEST(FormLayout, AtTheDesignSizeEveryControlIsAtItsPlaceScaled) {
    for (const int dpi : kDpis) {
        SCOPED_TRACE(dpi);
        const LayoutSize client = DesignClientSize(dpi);
        const CFormLayout layout(client, dpi);
        for (const DesignedControl& designed : kDesigned) {
            EXPECT_EQ(layout.Place(designed.control), Scaled(designed.design, dpi))
                << static_cast<int>(designed.control) << ": "
                << Describe(layout.Place(designed.control));
        }
        // The panels fill the client area from top to bottom without gaps, the bottom ones at
        // their designed heights.
        int top = 0;
        for (const FormControl panel : kStack) {
            const LayoutRect place = layout.Place(panel);
            EXPECT_EQ(place.left, 0);
            EXPECT_EQ(place.top, top) << static_cast<int>(panel);
            EXPECT_EQ(place.width, client.width);
            top += place.height;
        }
        EXPECT_EQ(top, client.height);
        EXPECT_EQ(layout.Place(FormControl::Panel2).height, ScaleToDpi(42, dpi));
        EXPECT_EQ(layout.Place(FormControl::plUp).height, ScaleToDpi(112, dpi));
        EXPECT_EQ(layout.Place(FormControl::Panel3).height, ScaleToDpi(46, dpi));
        // The two rows of Panel3 inside its border.
        const LayoutRect row1 = layout.Place(FormControl::Panel4);
        const LayoutRect row2 = layout.Place(FormControl::Panel5);
        EXPECT_EQ(row1.top + row1.height, row2.top);
        EXPECT_EQ(row1.left + row1.width + row1.left, client.width);
        EXPECT_EQ(row2.height, ScaleToDpi(22, dpi));
    }
    // The design itself, in numbers.
    const CFormLayout design({635, 456}, 96);
    EXPECT_EQ(design.Place(FormControl::plInfo), (LayoutRect{0, 0, 635, 256}));
    EXPECT_EQ(design.Place(FormControl::Panel4), (LayoutRect{1, 1, 633, 22}));
    EXPECT_EQ(design.Place(FormControl::Panel5), (LayoutRect{1, 23, 633, 22}));
    EXPECT_EQ(CFormLayout({953, 684}, 144).Place(FormControl::btOK),
              (LayoutRect{701, 14, 113, 38}));
}

TEST(FormLayout, LabelsSizeToTheirCaptionsAtTheirScaledPlaces) {
    for (const int dpi : {96, 144}) {
        SCOPED_TRACE(dpi);
        const CFormLayout layout(DesignClientSize(dpi), dpi);
        const auto at = [&](int length) { return ScaleToDpi(length, dpi); };
        EXPECT_EQ(layout.PlaceLabel(FormControl::Label1, {80, 13}),
                  (LayoutRect{at(16), at(6), 80, 13}));
        EXPECT_EQ(layout.PlaceLabel(FormControl::lFile, {300, 13}),
                  (LayoutRect{at(17), at(80), 300, 13}));
        EXPECT_EQ(layout.PlaceLabel(FormControl::lFailures, {150, 13}),
                  (LayoutRect{at(46), at(4), 150, 13}));
        // The version labels keep their fixed width whatever the caption.
        EXPECT_EQ(layout.PlaceLabel(FormControl::lCurVer, {7, 13}),
                  (LayoutRect{at(143), at(5), at(191), 13}));
        EXPECT_EQ(layout.PlaceLabel(FormControl::lActVer, {400, 13}),
                  (LayoutRect{at(143), at(6), at(191), 13}));
        // The time label begins where designed with its designed caption, and a longer caption
        // grows to the left.
        EXPECT_EQ(layout.PlaceLabel(FormControl::lUpdateTime, {24, 13}, {24, 13}),
                  (LayoutRect{at(601), at(21), 24, 13}));
        EXPECT_EQ(layout.PlaceLabel(FormControl::lUpdateTime, {48, 13}, {24, 13}),
                  (LayoutRect{at(601) - 24, at(21), 48, 13}));
    }
}

TEST(FormLayout, ALargerWindowMovesTheAnchoredControls) {
    for (const int dpi : {96, 144}) {
        SCOPED_TRACE(dpi);
        const LayoutSize design = DesignClientSize(dpi);
        const CFormLayout base(design, dpi);
        const CFormLayout larger({design.width + 200, design.height + 100}, dpi);
        const auto moved = [&](FormControl control, int right, int down, int wider, int taller) {
            const LayoutRect from = base.Place(control);
            EXPECT_EQ(larger.Place(control), (LayoutRect{from.left + right, from.top + down,
                                                         from.width + wider, from.height + taller}))
                << static_cast<int>(control);
        };
        moved(FormControl::btOK, 200, 0, 0, 0);
        moved(FormControl::btCancel, 200, 0, 0, 0);
        moved(FormControl::btLog, 200, 0, 0, 0);
        moved(FormControl::Memo2, 0, 0, 200, 100);
        moved(FormControl::ProgressBar2, 0, 0, 200, 0);
        moved(FormControl::plInfo, 0, 0, 200, 100);
        moved(FormControl::Panel3, 0, 100, 200, 0);
        moved(FormControl::plUp, 0, 100, 200, 0);
        moved(FormControl::Panel2, 0, 100, 200, 0);
        // Labels anchored left stay; the time label keeps its distance to the right edge.
        EXPECT_EQ(larger.PlaceLabel(FormControl::lFile, {50, 13}),
                  base.PlaceLabel(FormControl::lFile, {50, 13}));
        EXPECT_EQ(larger.PlaceLabel(FormControl::lUpdateTime, {30, 13}, {24, 13}).left,
                  base.PlaceLabel(FormControl::lUpdateTime, {30, 13}, {24, 13}).left + 200);
    }
}

TEST(FormLayout, ATinyWindowGivesNoNegativeSizes) {
    for (const LayoutSize client : {LayoutSize{0, 0}, LayoutSize{50, 120}}) {
        const CFormLayout layout(client, 144);
        for (const FormControl control :
             {FormControl::plInfo, FormControl::Memo2, FormControl::ProgressBar2}) {
            const LayoutRect place = layout.Place(control);
            EXPECT_GE(place.width, 0) << static_cast<int>(control);
            EXPECT_GE(place.height, 0) << static_cast<int>(control);
        }
        // The bottom panels keep their heights and are cut at the top instead.
        EXPECT_EQ(layout.Place(FormControl::Panel2).top + layout.Place(FormControl::Panel2).height,
                  client.height);
    }
}

TEST(FormLayout, LabelsAndOtherControlsAreNotMixedUp) {
    const CFormLayout layout(DesignClientSize(96), 96);
    EXPECT_THROW(layout.Place(FormControl::Label1), std::invalid_argument);
    EXPECT_THROW(layout.PlaceLabel(FormControl::btOK, {10, 10}), std::invalid_argument);
    EXPECT_TRUE(IsLabel(FormControl::lUpdateTime));
    EXPECT_FALSE(IsLabel(FormControl::Panel4));
}
