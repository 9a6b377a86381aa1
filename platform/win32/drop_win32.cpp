// Files dropped from the file manager: an OLE drop target on the main window.
#include "platform/window.h"

#include "platform/win32/ui_win32.h"

#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace {

FORMATETC FileListFormat() { return {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

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

std::vector<std::string> g_pending;  // UI thread only: drops arrive there (single-threaded apartment)

// Lives as long as the process; the reference count only satisfies COM.
class DropTarget final : public IDropTarget {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropTarget)) {
            *out = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs_); }

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        FORMATETC format = FileListFormat();
        accept_ = data && data->QueryGetData(&format) == S_OK;
        *effect = accept_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override {
        *effect = accept_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override {
        accept_ = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        accept_ = false;
        *effect = DROPEFFECT_NONE;
        FORMATETC format = FileListFormat();
        STGMEDIUM medium{};
        if (!data || FAILED(data->GetData(&format, &medium))) return S_OK;
        std::string text = DroppedPaths(static_cast<HDROP>(medium.hGlobal));
        ReleaseStgMedium(&medium);
        if (text.empty()) return S_OK;
        *effect = DROPEFFECT_COPY;
        // Reported after Drop returns, so the file manager is not held while the program reacts
        // (which may mean a message box).
        g_pending.push_back(std::move(text));
        PostMessageA(win32::MainHwnd(), win32::kDropMessage, 0, 0);
        return S_OK;
    }

private:
    LONG refs_ = 1;
    bool accept_ = false;
};

DropTarget g_target;
HWND g_registered = nullptr;
bool g_bound = false;

}  // namespace

namespace win32 {

void RevokeDropTargetOf(HWND window) {
    if (g_registered && g_registered == window) RevokeDragDrop(window);
    g_registered = nullptr;
}

void DeliverDrops() {
    std::vector<std::string> drops;
    drops.swap(g_pending);
    const UiCallbacks& cb = Callbacks();
    for (const std::string& text : drops)
        if (EventsEnabled() && cb.filesDropped) cb.filesDropped(text);
}

}  // namespace win32

bool RegisterDropTarget(WindowHandle window) {
    static bool oleReady = false;
    if (g_bound) return false;  // bound to one window for good
    if (!oleReady) oleReady = SUCCEEDED(OleInitialize(nullptr));
    if (!oleReady) return false;
    HWND hwnd = NativeOf<HWND__>(window);
    g_bound = SUCCEEDED(RegisterDragDrop(hwnd, &g_target));
    if (g_bound) g_registered = hwnd;
    return g_bound;
}

}  // namespace platform
