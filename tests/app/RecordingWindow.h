#pragma once
// An IUpdaterWindow for tests: it keeps the journal as lines, the message boxes shown and the
// control states seen at every message pump; the controls are those of CPlainUpdaterWindow.

#include <functional>
#include <string>
#include <vector>

#include "app/UpdaterWindow.h"

struct RecordedBox {
    MessageKind kind;
    std::string title;
    std::string text;
};

// The controls that the run changes, as they were when messages were pumped.
struct PumpState {
    bool okEnabled;
    std::string cancelCaption;
    bool cancelEnabled;
    bool updateVisible;
    std::string updateCaption;
    std::string lastLine;
    double began;  // MonotonicSeconds() when the pump began and ended
    double ended;
};

class CRecordingWindow : public CPlainUpdaterWindow {
  public:
    void AppendLine(const std::string& text) override { journal.push_back(text); }
    void MarkLastLine(const std::string& suffix) override;
    void ShowMessageBox(MessageKind kind, const std::string& title,
                        const std::string& text) override {
        boxes.push_back({kind, title, text});
        if (whileBoxIsUp) {
            whileBoxIsUp();
        }
    }
    void PumpMessages() override;
    // Waits as a window processes its messages: a pump at the end of a wait that the call
    // outlasted.
    void PumpUntil(CCompletion& done, double seconds) override {
        if (!done.WaitFor(seconds)) {
            PumpMessages();
        }
    }
    void ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                         const std::vector<FailedCopy>& copies) override {
        failedItems.push_back(logs);
        failedCopies.push_back(copies);
    }

    std::vector<std::string> journal;
    std::vector<RecordedBox> boxes;
    std::vector<PumpState> pumps;
    std::vector<std::vector<FailedItemsLog>> failedItems;  // one entry per call
    std::vector<std::vector<FailedCopy>> failedCopies;     // one entry per call
    std::function<void()> whileBoxIsUp;  // called for every box, as if the user acted meanwhile
    std::function<void()> whilePumping;  // called at every pump, to look at the run meanwhile
    // How long one pump takes, as in a window busy repainting: a pump as long as the pump
    // throttle's interval makes every block of a long operation find a pump due.
    double pumpSeconds = 0;
};
