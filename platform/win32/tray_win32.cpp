// The notification icon, icons from .ico bytes and the tray popup menu.
#include "platform/window.h"

#include "platform/win32/ui_win32.h"

#include <shellapi.h>

#include <cstring>

namespace platform {

namespace {
// The icon added for the main window and not yet deleted: it must go when the window does.
HWND g_trayWindow = nullptr;
UINT g_trayId = 0;

// An icon the shell refused to add, waiting for the next try.
bool g_trayPending = false;
TrayRecord g_pendingRecord;
int g_triesLeft = 0;
constexpr UINT kRetryMs = 2000;
constexpr int kTries = 60;  // 2 minutes

BOOL Send(TrayOp op, const TrayRecord& record) {
    // Only the first-version fields are filled; cbSize tells the shell so.
    NOTIFYICONDATAA d{};
    d.cbSize = record.size;
    d.hWnd = NativeOf<HWND__>(record.window);
    d.uID = record.id;
    d.uFlags = record.flags;
    d.uCallbackMessage = record.callbackMessage;
    d.hIcon = NativeOf<HICON__>(record.icon);
    static_assert(sizeof d.szTip >= sizeof record.tip);
    std::memcpy(d.szTip, record.tip, sizeof record.tip);
    DWORD message = op == TrayOp::Add ? NIM_ADD : op == TrayOp::Modify ? NIM_MODIFY : NIM_DELETE;
    BOOL done = Shell_NotifyIconA(message, &d);
    // An add that timed out may still have landed, and then every later add fails: where the
    // icon takes a change, it is there.
    if (op == TrayOp::Add && !done) done = Shell_NotifyIconA(NIM_MODIFY, &d);
    if (op == TrayOp::Add && done) {
        g_trayWindow = d.hWnd;
        g_trayId = d.uID;
    } else if (op == TrayOp::Delete && d.hWnd == g_trayWindow && d.uID == g_trayId) {
        g_trayWindow = nullptr;
    }
    return done;
}

}  // namespace

void ShowTrayBalloon(const std::string& title, const std::string& text, BalloonIcon icon) {
    if (!g_trayWindow || g_trayPending) return;  // no icon, or its add not yet taken
    NOTIFYICONDATAA d{};
    d.cbSize = NOTIFYICONDATAA_V2_SIZE;
    d.hWnd = g_trayWindow;
    d.uID = g_trayId;
    d.uFlags = NIF_INFO;
    lstrcpynA(d.szInfo, text.c_str(), sizeof d.szInfo);
    lstrcpynA(d.szInfoTitle, title.c_str(), sizeof d.szInfoTitle);
    d.dwInfoFlags = static_cast<DWORD>(icon);
    Shell_NotifyIconA(NIM_MODIFY, &d);
}

namespace {
void StopRetrying() {
    if (g_trayPending) KillTimer(win32::MainHwnd(), win32::kTrayRetryTimer);
    g_trayPending = false;
}

std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const unsigned char* p) { return U16(p) | static_cast<std::uint32_t>(U16(p + 2)) << 16; }
}  // namespace

namespace win32 {

HICON IconFromFileBytes(const unsigned char* data, size_t size, int cx, int cy) {
    // ICONDIR (6 bytes), then 16-byte entries; the first entry's image is used.
    if (!data || size < 6 + 16 || U16(data) != 0 || U16(data + 2) != 1 || U16(data + 4) < 1)
        return nullptr;
    const unsigned char* entry = data + 6;
    std::uint32_t length = U32(entry + 8), offset = U32(entry + 12);
    if (length == 0 || offset > size || length > size - offset) return nullptr;
    return CreateIconFromResourceEx(const_cast<PBYTE>(data + offset), length, TRUE, 0x00030000,
                                    cx, cy, LR_DEFAULTCOLOR);
}

void RetryTrayIcon() {
    if (!g_trayPending) return;
    if (Send(TrayOp::Add, g_pendingRecord) || --g_triesLeft <= 0) StopRetrying();
}

void RemoveTrayIconOf(HWND window) {
    StopRetrying();
    if (!g_trayWindow || g_trayWindow != window) return;
    NOTIFYICONDATAA d{};
    d.cbSize = NOTIFYICONDATAA_V1_SIZE;
    d.hWnd = g_trayWindow;
    d.uID = g_trayId;
    Shell_NotifyIconA(NIM_DELETE, &d);
    g_trayWindow = nullptr;
}

}  // namespace win32

// At log-on the shell may not be ready for the icon yet: without it, a hidden window could not
// be brought back, so the icon is tried again every 2 s for 2 minutes.
void NotifyIcon(TrayOp op, const TrayRecord& record) {
    if (op == TrayOp::Delete) {
        StopRetrying();
        Send(op, record);
        return;
    }
    if (op == TrayOp::Modify && g_trayPending) {  // not there yet: the next try adds this one
        g_pendingRecord = record;
        return;
    }
    if (Send(op, record) || op != TrayOp::Add) {
        if (op == TrayOp::Add) StopRetrying();
        return;
    }
    g_pendingRecord = record;
    g_triesLeft = kTries;
    if (!g_trayPending) SetTimer(win32::MainHwnd(), win32::kTrayRetryTimer, kRetryMs, nullptr);
    g_trayPending = true;
}

bool TrayIconShown() { return g_trayWindow != nullptr; }

void StopTrayRetries() { StopRetrying(); }

IconHandle CreateIconFromBytes(const ByteVector& iconFile) {
    return HandleOf<IconHandle>(
        win32::IconFromFileBytes(iconFile.data(), iconFile.size(), 0, 0));
}

void DestroyIconHandle(IconHandle icon) {
    if (IsSet(icon)) DestroyIcon(NativeOf<HICON__>(icon));
}

void ShowPopupMenu(const std::vector<PopupEntry>& entries) {
    HWND owner = win32::MainHwnd();
    HMENU menu = CreatePopupMenu();
    if (!owner || !menu) {
        if (menu) DestroyMenu(menu);
        return;
    }
    for (const PopupEntry& e : entries) {
        if (e.separator) {
            AppendMenuA(menu, MF_SEPARATOR, e.command, nullptr);
        } else {
            UINT flags = MF_STRING | (e.disabled ? MF_GRAYED : 0) | (e.checked ? MF_CHECKED : 0);
            AppendMenuA(menu, flags, e.command, e.caption.c_str());
        }
    }
    POINT at{};
    GetCursorPos(&at);
    // Foreground first and WM_NULL afterwards, or a tray menu does not close on a click elsewhere.
    SetForegroundWindow(owner);
    TrackPopupMenu(menu, TPM_RIGHTALIGN | TPM_LEFTBUTTON, at.x - 5, at.y - 5, 0, owner, nullptr);
    PostMessageA(owner, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

}  // namespace platform
