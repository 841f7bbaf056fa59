#pragma once
// The updater's window as another program sees it: found among the top-level windows by the
// program that shows it, its controls by their identifiers, their texts through messages.

#include <windows.h>

#include <string>

#include "app/FormLayout.h"

// The full path of the program that owns `window`.
std::string ProgramOf(HWND window);

// A top-level window of `className` that `program` shows (owned by `owner`, when given) within
// `milliseconds`; nullptr after that. Other programs' windows of the same class are passed over.
HWND WaitForWindow(const wchar_t* className, const std::string& program, HWND owner,
                   unsigned milliseconds = 30000);

// The text of a window of another process: GetWindowText would give only a caption there.
std::string TextOf(HWND window);

// A control of the updater's form by its identifier; nullptr when it has none such.
HWND FindControl(HWND form, FormControl control);

// The text of a message box of another process, once it is in place: the box may be found
// before its text control is made. Empty when none comes within 10 s.
std::string MessageBoxText(HWND box);
