#pragma once
// The Qt window's message boxes.

#include <string>

#include "app/MessageBoxRecorder.h"

class QWidget;

// Shows a modal box with one OK button: a warning icon or an error icon, unless a
// CMessageBoxRecorder takes it.
void ShowMessageBox(QWidget* parent, MessageKind kind, const std::string& title,
                    const std::string& text);
