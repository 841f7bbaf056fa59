#include "app/win32/Win32Console.h"

#include <windows.h>

#include <streambuf>
#include <string>
#include <string_view>

#include "platform/Utf16.h"
#include "platform/Utf8.h"
#include "platform/Win32Handle.h"

namespace {

// An inherited standard handle that leads somewhere; a GUI program started from a console
// without redirection has none.
HANDLE InheritedHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return GetFileType(handle) == FILE_TYPE_UNKNOWN ? nullptr : handle;
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && GetConsoleMode(handle, &mode) != FALSE;
}

// A stream buffer over a Windows handle; text goes out at every flush (the journal flushes each
// line). Without a handle the text goes nowhere.
class CHandleBuffer : public std::streambuf {
  public:
    explicit CHandleBuffer(HANDLE handle) : m_handle(handle), m_console(IsConsole(handle)) {}
    ~CHandleBuffer() override { Write(); }
    CHandleBuffer(const CHandleBuffer&) = delete;
    CHandleBuffer& operator=(const CHandleBuffer&) = delete;

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            m_pending.push_back(traits_type::to_char_type(c));
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        m_pending.append(text, static_cast<size_t>(count));
        return count;
    }
    int sync() override { return Write() ? 0 : -1; }

  private:
    bool Write() {
        if (m_handle == nullptr) {
            m_pending.clear();
            return true;
        }
        bool written = true;
        if (m_console) {
            // WriteConsoleW takes whole characters: the end of a sequence cut by a flush waits.
            const size_t whole = Utf8CompletePrefix(m_pending);
            const std::wstring wide = ToUtf16(std::string_view(m_pending).substr(0, whole));
            for (size_t done = 0; written && done < wide.size();) {
                DWORD count = 0;
                written = WriteConsoleW(m_handle, wide.data() + done,
                                        static_cast<DWORD>(wide.size() - done), &count,
                                        nullptr) != FALSE &&
                          count > 0;
                done += count;
            }
            m_pending.erase(0, whole);
        } else {
            for (size_t done = 0; written && done < m_pending.size();) {
                DWORD count = 0;
                written = WriteFile(m_handle, m_pending.data() + done,
                                    static_cast<DWORD>(m_pending.size() - done), &count,
                                    nullptr) != FALSE &&
                          count > 0;
                done += count;
            }
            m_pending.clear();
        }
        if (!written) {
            m_pending.clear();  // a reader that went away does not stop the update
        }
        return written;
    }

    HANDLE m_handle;
    bool m_console;
    std::string m_pending;
};

struct ConsoleHandles {
    HANDLE out = nullptr;
    HANDLE err = nullptr;
    CWin32Handle console;  // CONOUT$, when one of the two goes to a console found here
};

ConsoleHandles FindHandles() {
    ConsoleHandles handles;
    handles.out = InheritedHandle(STD_OUTPUT_HANDLE);
    handles.err = InheritedHandle(STD_ERROR_HANDLE);
    if ((handles.out == nullptr || handles.err == nullptr) &&
        (AttachConsole(ATTACH_PARENT_PROCESS) != FALSE || AllocConsole() != FALSE)) {
        handles.console.Reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        if (handles.console.IsValid()) {
            handles.out = handles.out != nullptr ? handles.out : handles.console.Get();
            handles.err = handles.err != nullptr ? handles.err : handles.console.Get();
        }
    }
    return handles;
}

}  // namespace

// Members in this order: the buffers flush into the handles when they go, before the handles.
struct CWin32Console::Impl {
    Impl() : handles(FindHandles()), outBuffer(handles.out), errBuffer(handles.err) {}

    ConsoleHandles handles;
    // 0 without a console. What else writes to the console (a runtime message) reads as UTF-8
    // too; the console gets its code page back at the end, since it may be the caller's.
    UINT previousCodePage = GetConsoleOutputCP();
    CHandleBuffer outBuffer;
    CHandleBuffer errBuffer;
    std::ostream out{&outBuffer};
    std::ostream err{&errBuffer};
};

CWin32Console::CWin32Console() : m_impl(std::make_unique<Impl>()) {
    if (m_impl->previousCodePage != 0) {
        SetConsoleOutputCP(CP_UTF8);
    }
}

CWin32Console::~CWin32Console() {
    m_impl->out.flush();
    m_impl->err.flush();
    if (m_impl->previousCodePage != 0) {
        SetConsoleOutputCP(m_impl->previousCodePage);
    }
}

std::ostream& CWin32Console::Out() {
    return m_impl->out;
}

std::ostream& CWin32Console::Err() {
    return m_impl->err;
}
