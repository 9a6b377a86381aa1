// Files dropped from the file manager. WM_DROPFILES rather than an OLE drop target: OLE drag
// and drop cannot cross integrity levels, so a program run as administrator would never get a
// drop from Explorer, and OLE would have to be loaded at start-up.
#include "platform/window.h"

#include "platform/win32/ui_win32.h"

#include <shellapi.h>

#include <string>

namespace platform {

namespace {

// One path as it is; several paths each followed by CR LF.
std::string DroppedPaths(HDROP drop) {
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    std::string text;
    for (UINT i = 0; i < count; ++i) {
        UINT len = DragQueryFileA(drop, i, nullptr, 0);
        std::string path(len + 1, '\0');
        path.resize(DragQueryFileA(drop, i, path.data(), len + 1));
        text += path;
        if (count > 1) text += "\r\n";
    }
    return text;
}

bool g_bound = false;

}  // namespace

namespace win32 {

void OnFilesDropped(HDROP drop) {
    // The message is posted, so the file manager is not held while the program reacts.
    const std::string text = DroppedPaths(drop);
    DragFinish(drop);
    const UiCallbacks& cb = Callbacks();
    if (!text.empty() && EventsEnabled() && cb.filesDropped) cb.filesDropped(text);
}

}  // namespace win32

bool RegisterDropTarget(WindowHandle window) {
    if (g_bound || !IsSet(window)) return false;  // bound to one window for good
    DragAcceptFiles(NativeOf<HWND__>(window), TRUE);
    g_bound = true;
    return true;
}

}  // namespace platform
