#pragma once
// The Windows window's message boxes (MessageBoxW).

#include <string>

#include "app/MessageBoxRecorder.h"

struct HWND__;  // HWND, without windows.h

// Shows a modal box with one OK button and a warning or error icon, owned by `owner` (null: no
// owner), unless a CMessageBoxRecorder takes it.
void ShowMessageBox(HWND__* owner, MessageKind kind, const std::string& title,
                    const std::string& text);
