// The main window's state apart from its toolkit (app/FormState.h) with a toolkit that writes
// down what it is asked to draw, and the design both windows are made from (app/FormLayout.h).

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/FormState.h"
#include "tests/app/RecordingWindow.h"
#include "tests/support/TestSupport.h"

namespace {

std::string NameOf(FormControl control) {
    return DesignOf(control).name;
}

// A toolkit that only notes what it draws, one line each.
class CDrawingLog : public CFormState {
  public:
    explicit CDrawingLog(const FormDriverFactory& makeDriver = {}) {
        if (makeDriver) {
            StartDriver(makeDriver);
        }
    }
    ~CDrawingLog() override { StopDriver(); }

    using CFormState::FirstShowing;
    using CFormState::MayClose;

    void ShowMessageBox(MessageKind, const std::string&, const std::string&) override {}
    void PumpMessages() override {}

    std::vector<std::string> drawn;

  protected:
    void DrawVisible(FormControl control, bool visible) override {
        drawn.push_back(NameOf(control) + (visible ? " shown" : " hidden"));
    }
    void DrawEnabled(FormControl control, bool enabled) override {
        drawn.push_back(NameOf(control) + (enabled ? " enabled" : " disabled"));
    }
    void DrawCaption(FormControl control, const std::string& caption) override {
        drawn.push_back(NameOf(control) + " \"" + caption + "\"");
    }
    void DrawProgress(int maximum, int position) override {
        drawn.push_back("ProgressBar2 " + std::to_string(position) + "/" + std::to_string(maximum));
    }
    void DrawAppendedLine(const std::string& line) override { drawn.push_back("line " + line); }
    void DrawMark(const std::string& suffix, bool firstLine) override {
        drawn.push_back("mark " + suffix + (firstLine ? " first" : ""));
    }
};

class CStubDriver : public IFormDriver {
  public:
    void FormShow() override {}
    void btOKClick() override {}
    bool IsRunning() const override { return running; }
    bool running = false;
};

}  // namespace

TEST(FormDesign, EveryControlOnceParentsFirstLabelsAsTheLayoutPlacesThem) {
    std::set<std::string> names;
    std::set<FormControl> made;
    for (const ControlDesign& design : FormDesign()) {
        SCOPED_TRACE(design.name);
        EXPECT_EQ(&DesignOf(design.control), &design);
        EXPECT_TRUE(names.insert(design.name).second);
        if (design.parent) {
            EXPECT_TRUE(made.count(*design.parent)) << "parent comes later";
            EXPECT_EQ(DesignOf(*design.parent).kind, ControlKind::Panel);
        }
        made.insert(design.control);
        // The layout sizes labels to their captions and places the others itself.
        EXPECT_EQ(IsLabel(design.control), design.kind == ControlKind::Label);
    }
    EXPECT_EQ(made.size(), kControlCount);
    EXPECT_THROW(DesignOf(static_cast<FormControl>(99)), std::invalid_argument);
}

// Console mode and the tests drive window-less controls: both windows start as they do.
TEST(FormState, StartsAsThePlainWindowAndDrawsNothingBeforeAChange) {
    CDrawingLog form;
    CRecordingWindow plain;
    const auto same = [](const ILabel& a, const ILabel& b) {
        return a.Caption() == b.Caption() && a.IsVisible() == b.IsVisible();
    };
    for (const auto button : {&IUpdaterWindow::btOK, &IUpdaterWindow::btCancel}) {
        EXPECT_EQ((form.*button)().Caption(), (plain.*button)().Caption());
        EXPECT_EQ((form.*button)().IsEnabled(), (plain.*button)().IsEnabled());
        EXPECT_EQ((form.*button)().IsVisible(), (plain.*button)().IsVisible());
    }
    for (const auto label :
         {&IUpdaterWindow::lCurVer, &IUpdaterWindow::lActVer, &IUpdaterWindow::lUpdate,
          &IUpdaterWindow::lTextFile, &IUpdaterWindow::lFile, &IUpdaterWindow::lUpdateTime}) {
        EXPECT_TRUE(same((form.*label)(), (plain.*label)())) << (form.*label)().Caption();
    }
    EXPECT_EQ(form.plUp().IsVisible(), plain.plUp().IsVisible());
    EXPECT_EQ(form.ProgressBar2().Maximum(), plain.ProgressBar2().Maximum());
    EXPECT_EQ(form.ProgressBar2().Position(), plain.ProgressBar2().Position());
    EXPECT_TRUE(form.drawn.empty());
}

TEST(FormState, EveryChangeIsKeptAndDrawnOnTheControlItConcerns) {
    CDrawingLog form;
    form.btOK().SetEnabled(true);
    form.btCancel().SetCaption("Відмінити");
    form.plUp().SetVisible(false);
    form.lFile().SetCaption("Звіти & довідки.fr3 (3/12)");
    form.lUpdateTime().SetVisible(true);
    // The bar is drawn from the range it keeps: never beyond its maximum, empty at 0.
    form.ProgressBar2().SetMaximum(4);
    form.ProgressBar2().SetPosition(9);
    form.ProgressBar2().SetMaximum(0);
    form.ProgressBar2().SetVisible(false);
    EXPECT_EQ(form.drawn,
              (std::vector<std::string>{"btOK enabled", "btCancel \"Відмінити\"", "plUp hidden",
                                        "lFile \"Звіти & довідки.fr3 (3/12)\"", "lUpdateTime shown",
                                        "ProgressBar2 0/4", "ProgressBar2 4/4", "ProgressBar2 0/0",
                                        "ProgressBar2 hidden"}));
    EXPECT_TRUE(form.btOK().IsEnabled());
    EXPECT_EQ(form.btCancel().Caption(), "Відмінити");
    EXPECT_FALSE(form.plUp().IsVisible());
    EXPECT_EQ(form.lFile().Caption(), "Звіти & довідки.fr3 (3/12)");
    EXPECT_TRUE(form.lUpdateTime().IsVisible());
    EXPECT_EQ(form.ProgressBar2().Position(), 0);
    EXPECT_FALSE(form.ProgressBar2().IsVisible());
}

TEST(FormState, JournalLinesMarksAndTheFailedItems) {
    CDrawingLog form;
    // A mark before any line makes the first line.
    form.MarkLastLine("OK");
    form.AppendLine("B");
    form.MarkLastLine(" [OK]");
    EXPECT_EQ(form.JournalText(), "OK\r\nB [OK]\r\n");
    EXPECT_EQ(form.drawn, (std::vector<std::string>{"mark OK first", "line B", "mark  [OK]"}));

    form.drawn.clear();
    form.ShowFailedItems({{"/a.log", 2}}, {{"/x/list.fr3", "error (20) Not a directory"}});
    EXPECT_EQ(form.drawn, (std::vector<std::string>{
                              "lFailures \"Не виконано елементів: 2, не скопійовано файлів: 1\"",
                              "lFailures shown", "btLog shown"}));
}

TEST(FormState, FailedItemsViewListsTheLogsDecodedAndTheCopies) {
    CTempDir dir;
    const std::string log = dir.File("up.lsql.log");
    WriteFile(log, "insert into NO_SUCH_TABLE values (1);\r\n");
    const std::string gone = dir.File("gone.log");
    CDrawingLog form;
    form.ShowFailedItems({{log, 1}, {gone, 1}},
                         {{"/suite/Reports/list.fr3", "error (20) Not a directory"}});
    std::vector<std::string> decoded;
    const std::string view = form.FailedItemsView([&](std::string_view bytes) {
        decoded.emplace_back(bytes);
        return "<" + std::string(bytes) + ">";
    });
    EXPECT_EQ(decoded, (std::vector<std::string>{"insert into NO_SUCH_TABLE values (1);\r\n"}));
    EXPECT_EQ(view, log + "\n\n<insert into NO_SUCH_TABLE values (1);\r\n>\n" + gone +
                        "\n\n\nНе скопійовано:\n/suite/Reports/list.fr3: error (20) Not a "
                        "directory\n");
}

TEST(FormState, TheDriverRunsItsChecksOnceAndHoldsTheWindowWhileRunning) {
    CStubDriver* driver = nullptr;
    CDrawingLog form([&](IUpdaterWindow& window) {
        EXPECT_EQ(&window, static_cast<IUpdaterWindow*>(&form));
        auto made = std::make_unique<CStubDriver>();
        driver = made.get();
        return made;
    });
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(&form.Driver(), driver);
    EXPECT_TRUE(form.FirstShowing());
    EXPECT_FALSE(form.FirstShowing());
    EXPECT_TRUE(form.MayClose());
    driver->running = true;
    EXPECT_FALSE(form.MayClose());
}
