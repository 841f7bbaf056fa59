#pragma once
// Standard output and standard error of tessara-updater.exe for --console and --help. The
// program is a GUI program, so that the window comes up without a console window behind it;
// its text output therefore finds its own way out: handles it inherited (a file or a pipe) as
// they are, otherwise the console of the program that started it or, without one, a new
// console. Text is UTF-8 inside; a console gets it as UTF-16 characters (WriteConsoleW), a file
// or a pipe as the UTF-8 bytes.

#include <memory>
#include <ostream>

class CWin32Console {
  public:
    CWin32Console();
    ~CWin32Console();  // flushes both streams and gives the console its code page back
    CWin32Console(const CWin32Console&) = delete;
    CWin32Console& operator=(const CWin32Console&) = delete;

    std::ostream& Out();
    std::ostream& Err();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
