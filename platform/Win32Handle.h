#pragma once
// Owner of a Windows kernel handle (file, process, thread, snapshot), closed with CloseHandle.
// Move-only. HANDLE is void* in windows.h, which stays out of this header; both of its "no
// handle" values, null and INVALID_HANDLE_VALUE, count as none. For the Win32 sources only.

class CWin32Handle {
  public:
    CWin32Handle() = default;
    explicit CWin32Handle(void* handle) : m_handle(handle) {}
    ~CWin32Handle() { Reset(); }
    CWin32Handle(CWin32Handle&& other) noexcept : m_handle(other.Release()) {}
    CWin32Handle& operator=(CWin32Handle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    CWin32Handle(const CWin32Handle&) = delete;
    CWin32Handle& operator=(const CWin32Handle&) = delete;

    void* Get() const { return m_handle; }
    bool IsValid() const;
    // Closes the handle held (if any) and holds `handle` instead.
    void Reset(void* handle = nullptr) noexcept;
    void* Release() noexcept {
        void* handle = m_handle;
        m_handle = nullptr;
        return handle;
    }

  private:
    void* m_handle = nullptr;
};
