#pragma once
// The Windows window's DPI and fonts: what the window and its log view measure and draw with at
// the DPI of their monitor.

#include <windows.h>

#include <map>
#include <string>

#include "app/FormLayout.h"

// The DPI the window is shown at: its monitor's where Windows scales per monitor, else the
// system's.
int WindowDpi(HWND window);

// The window size around a client area of `client` at `dpi` (title bar and borders included).
SIZE FrameSize(LayoutSize client, DWORD style, int dpi);

// The extent of `text` in `font`: its width and the font's line height.
LayoutSize TextExtent(HWND window, HFONT font, const std::wstring& text);

// The window's fonts, Tahoma 8 pt normal and bold, made for a DPI on first use. Fonts of another
// DPI stay until their owner goes: a control may hold one until it is given the new one.
class CWin32Fonts {
  public:
    HFONT Get(int dpi, bool bold);

  private:
    // Owner of one font.
    class CFont {
      public:
        CFont(bool bold, int dpi);
        ~CFont() { DeleteObject(m_font); }
        CFont(const CFont&) = delete;
        CFont& operator=(const CFont&) = delete;
        HFONT Get() const { return m_font; }

      private:
        HFONT m_font;
    };
    struct Fonts {
        explicit Fonts(int dpi) : normal(false, dpi), bold(true, dpi) {}
        CFont normal;
        CFont bold;
    };

    std::map<int, Fonts> m_fonts;
};
