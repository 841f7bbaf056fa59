#pragma once
// Every message box of the Windows window goes through here (MessageBoxW), so tests can answer
// them in advance and read what they said instead of waiting for a person.

#include <string>
#include <vector>

#include "app/UpdaterWindow.h"

struct HWND__;  // HWND, without windows.h

struct ShownMessageBox {
    MessageKind kind;
    std::string title;
    std::string text;
};

// Shows a modal box with one OK button and a warning or error icon, owned by `owner` (null: no
// owner). While a recorder exists, the box is recorded and not shown (every box has only OK,
// so that is its answer).
void ShowMessageBox(HWND__* owner, MessageKind kind, const std::string& title,
                    const std::string& text);

class CMessageBoxRecorder {
  public:
    CMessageBoxRecorder();
    ~CMessageBoxRecorder();
    CMessageBoxRecorder(const CMessageBoxRecorder&) = delete;
    CMessageBoxRecorder& operator=(const CMessageBoxRecorder&) = delete;

    const std::vector<ShownMessageBox>& Boxes() const { return m_boxes; }

  private:
    friend void ShowMessageBox(HWND__*, MessageKind, const std::string&, const std::string&);
    std::vector<ShownMessageBox> m_boxes;
    CMessageBoxRecorder* m_previous;
};
