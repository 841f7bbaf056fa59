#pragma once
// Every message box of the window goes through here, so tests can answer them in advance and
// read what they said instead of waiting for a person.

#include <string>
#include <vector>

#include "app/UpdaterWindow.h"

class QWidget;

struct ShownMessageBox {
    MessageKind kind;
    std::string title;
    std::string text;
};

// Shows a modal box with one OK button: a warning icon or an error icon. While a recorder
// exists, the box is recorded and not shown (every box has only OK, so that is its answer).
void ShowMessageBox(QWidget* parent, MessageKind kind, const std::string& title,
                    const std::string& text);

class CMessageBoxRecorder {
  public:
    CMessageBoxRecorder();
    ~CMessageBoxRecorder();
    CMessageBoxRecorder(const CMessageBoxRecorder&) = delete;
    CMessageBoxRecorder& operator=(const CMessageBoxRecorder&) = delete;

    const std::vector<ShownMessageBox>& Boxes() const { return m_boxes; }

  private:
    friend void ShowMessageBox(QWidget*, MessageKind, const std::string&, const std::string&);
    std::vector<ShownMessageBox> m_boxes;
    CMessageBoxRecorder* m_previous;
};
