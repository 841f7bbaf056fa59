#pragma once
// Every message box of a window goes through a recorder first, so tests can answer the boxes in
// advance and read what they said instead of waiting for a person.

#include <string>
#include <vector>

#include "app/UpdaterWindow.h"

struct ShownMessageBox {
    MessageKind kind;
    std::string title;
    std::string text;
};

// While a recorder exists, boxes are recorded and not shown (every box has only OK, so that is
// its answer). Recorders nest: the newest one records.
class CMessageBoxRecorder {
  public:
    CMessageBoxRecorder();
    ~CMessageBoxRecorder();
    CMessageBoxRecorder(const CMessageBoxRecorder&) = delete;
    CMessageBoxRecorder& operator=(const CMessageBoxRecorder&) = delete;

    const std::vector<ShownMessageBox>& Boxes() const { return m_boxes; }

    // Called by the window's box function before it shows a box: true when a recorder took it.
    static bool Record(MessageKind kind, const std::string& title, const std::string& text);

  private:
    std::vector<ShownMessageBox> m_boxes;
    CMessageBoxRecorder* m_previous;
};
