#include "platform/Win32Handle.h"

#include <windows.h>

bool CWin32Handle::IsValid() const {
    return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE;
}

void CWin32Handle::Reset(void* handle) noexcept {
    if (IsValid()) {
        CloseHandle(m_handle);
    }
    m_handle = handle;
}
