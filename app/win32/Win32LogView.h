#pragma once
// The window of "Журнал помилок" that btLog opens: one read-only text box over its close button,
// at the DPI of the main window and again at its own monitor's when it moves.

#include <windows.h>

#include <string>

#include "app/win32/Win32Dpi.h"

// Opens the view over `owner` (offset from its top left corner, so on its monitor) at `dpi`,
// showing `text` (UTF-8, lines ending in "\n"). The view uses `fonts`, which outlive `owner`
// and so the view. Throws CSystemError when the window cannot be made.
void OpenLogView(HWND owner, int dpi, CWin32Fonts& fonts, const std::string& text);
