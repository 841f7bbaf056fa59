#include "app/win32/Win32MessageBoxes.h"

#include <windows.h>

#include "platform/Utf16.h"

void ShowMessageBox(HWND__* owner, MessageKind kind, const std::string& title,
                    const std::string& text) {
    if (CMessageBoxRecorder::Record(kind, title, text)) {
        return;
    }
    const UINT icon = kind == MessageKind::Warning ? MB_ICONWARNING : MB_ICONERROR;
    // Without an owner the box still blocks every window of this thread.
    const UINT modality = owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL;
    MessageBoxW(owner, ToUtf16(text).c_str(), ToUtf16(title).c_str(), MB_OK | icon | modality);
}
