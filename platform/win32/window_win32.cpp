// The main window on Win32: built from form::kControls, its message handling, the message loop,
// the UI thread and the raw control primitives. Native notifications go to the model through
// UiCallbacks; what they mean is decided above this layer.
#include "platform/window.h"

#include "platform/codepage.h"
#include "platform/win32/ui_win32.h"
#include "res/icon_data.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

namespace platform {

namespace {

using form::Kind;

struct Control {
    HWND hwnd = nullptr;
    WNDPROC oldProc = nullptr;  // subclassed edits and the status bar
    form::InputMode mode = form::InputMode::Normal;
};

Control g_ctl[form::kControlCount];
HWND g_main = nullptr;
// The window's own icons (its class's too): destroyed with the window.
OwnedIcon g_bigIcon, g_smallIcon;
DWORD g_uiThread = 0;
UiCallbacks g_callbacks;
bool g_eventsEnabled = false;
UINT g_taskbarCreated = 0;
UINT g_anotherCopyMessage = 0;  // this executable's own, from ClaimOnlyCopy
HWND g_lastFocus = nullptr;
bool g_redrawHeld = false;  // the list waits for kRedrawMessage to paint

constexpr char kClassName[] = "SkiplaneMainWindow";
constexpr int kComboDropHeight = 160;  // the list part of the mode combo, at least, at 96 DPI

HWND H(Ctl c) { return g_ctl[static_cast<int>(c)].hwnd; }
Kind KindOf(Ctl c) { return form::Def(c).kind; }

// --- DPI -----------------------------------------------------------------------------------
// The table's pixels are at 96 DPI; the window and its controls are laid out at the window's
// own DPI, the font too. At 96 DPI that is the table's pixels and the stock GUI font, exactly.

// Windows' numbers of the DPI messages (Windows 8.1 and Windows 10 1703), which the headers for
// the Windows versions this program still runs on leave out.
constexpr UINT kDpiChangedMessage = 0x02E0;        // WM_DPICHANGED
constexpr UINT kGetDpiScaledSizeMessage = 0x02E4;  // WM_GETDPISCALEDSIZE

struct FontDeleter {
    void operator()(HFONT font) const { DeleteObject(font); }
};
using MadeFont = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

int g_dpi = 96;       // what the window is laid out for
MadeFont g_madeFont;  // the controls' font when it is not the stock one; freed with the window

// GetDpiForSystem and GetDpiForWindow came with Windows 10 (1607): looked up by name, so that
// the program still starts on older Windows, which give the screen's DPI through its DC.
template <class Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

int ScreenDpi() {
    static const auto forSystem = User32Function<UINT(WINAPI*)()>("GetDpiForSystem");
    if (UINT dpi = forSystem ? forSystem() : 0) return static_cast<int>(dpi);
    HDC dc = GetDC(nullptr);
    int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND h) {
    static const auto forWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (UINT dpi = forWindow ? forWindow(h) : 0) return static_cast<int>(dpi);
    return ScreenDpi();
}

// Table pixels at the window's DPI, rounded.
int Px(int pixelsAt96) { return MulDiv(pixelsAt96, g_dpi, 96); }

HFONT StockGuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

// The stock GUI font is made for the screen's DPI (Wine's gdi32 conformance tests,
// test_stock_fonts: "MS Shell Dlg" of height -11 at 96 DPI, -13 at 120). For a window at
// another DPI (a monitor of another scale) its face at a height scaled to match; null where
// the stock font itself fits.
MadeFont FontForDpi(int dpi) {
    const int screen = ScreenDpi();
    LOGFONTA lf;
    if (dpi == screen || GetObjectA(StockGuiFont(), sizeof lf, &lf) != sizeof lf) return nullptr;
    lf.lfHeight = MulDiv(lf.lfHeight, dpi, screen);
    lf.lfWidth = MulDiv(lf.lfWidth, dpi, screen);
    return MadeFont(CreateFontIndirectA(&lf));
}

HFONT ControlFont() { return g_madeFont ? g_madeFont.get() : StockGuiFont(); }

// The window's size at a DPI: the table's, scaled.
SIZE WindowSizeAt(int dpi) {
    return {MulDiv(form::kWindowWidth, dpi, 96), MulDiv(form::kWindowHeight, dpi, 96)};
}

void LayOutForDpi(int dpi, const RECT& window);

// Table index of one of our child controls, -1 for anything else.
int IndexOf(HWND h) {
    if (!h || !g_main || GetParent(h) != g_main) return -1;
    int i = GetDlgCtrlID(h) - form::ControlId(Ctl::MainWindow);
    return (i > 0 && i < form::kControlCount && g_ctl[i].hwnd == h) ? i : -1;
}

std::string WindowText(HWND h) {
    if (!h) return {};
    int n = GetWindowTextLengthA(h);
    if (n <= 0) return {};
    std::string s(static_cast<size_t>(n) + 1, '\0');
    n = GetWindowTextA(h, s.data(), n + 1);
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

int KeyState() {
    return (GetKeyState(VK_CONTROL) < 0 ? 1 : 0) | (GetKeyState(VK_SHIFT) < 0 ? 2 : 0) |
           (GetKeyState(VK_MENU) < 0 ? 4 : 0);
}

// Edit boxes: the typing filter of the current input mode. Only typed characters pass through
// here; WM_PASTE does not, so pasting stays unfiltered.
LRESULT CALLBACK EditProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    int i = IndexOf(h);
    if (i < 0) return DefWindowProcA(h, m, w, l);
    form::InputMode mode = g_ctl[i].mode;
    if (m == WM_CHAR && !form::AdmitsTypedChar(mode, static_cast<unsigned char>(w))) return 0;
    if (m == WM_IME_CHAR) {  // a double-byte character from an IME, both bytes at once
        auto lo = static_cast<unsigned char>(w & 0xFF), hi = static_cast<unsigned char>(w >> 8);
        if (!form::AdmitsTypedChar(mode, lo) || (hi && !form::AdmitsTypedChar(mode, hi))) return 0;
    }
    return CallWindowProcA(g_ctl[i].oldProc, h, m, w, l);
}

// Status bar: a left press is reported first, then handled as usual.
LRESULT CALLBACK StatusProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    Control& sb = g_ctl[static_cast<int>(Ctl::状态条_状态)];
    WNDPROC old = sb.oldProc;
    if (m == WM_LBUTTONDOWN && g_eventsEnabled && g_callbacks.statusBarButtonDown)
        g_callbacks.statusBarButtonDown(static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l)),
                                        KeyState());
    return old ? CallWindowProcA(old, h, m, w, l) : DefWindowProcA(h, m, w, l);
}

void Subclass(int i, WNDPROC proc) {
    g_ctl[i].oldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(g_ctl[i].hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

void OnCommand(WPARAM w, LPARAM l) {
    if (!g_eventsEnabled) return;
    HWND from = reinterpret_cast<HWND>(l);
    WORD code = HIWORD(w);
    if (!from) {  // a popup menu entry (accelerators do not exist here)
        if (code == 0 && g_callbacks.menuCommand) g_callbacks.menuCommand(LOWORD(w));
        return;
    }
    int i = IndexOf(from);
    if (i < 0) return;
    Ctl c = static_cast<Ctl>(i);
    switch (KindOf(c)) {
        case Kind::Button:
        case Kind::CheckBox:
            // BM_CLICK reaches a disabled button too; a user's click never does.
            if (code == BN_CLICKED && IsWindowEnabled(from) && g_callbacks.clicked)
                g_callbacks.clicked(c);
            break;
        case Kind::Edit:
            if (code == EN_CHANGE && g_callbacks.textChanged) g_callbacks.textChanged(c);
            break;
        case Kind::ListBox:
            if (code == LBN_SELCHANGE && g_callbacks.itemSelected) g_callbacks.itemSelected(c);
            break;
        default: break;
    }
}

LRESULT CALLBACK MainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    switch (m) {
        case WM_CLOSE:
            // Close box, system menu, Alt+F4 and Esc all end up here.
            if (!g_eventsEnabled || !g_callbacks.closeQuery || g_callbacks.closeQuery())
                DestroyWindow(h);
            return 0;
        case WM_DESTROY:
            win32::RemoveTrayIconOf(h);
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            g_eventsEnabled = false;
            g_main = nullptr;
            g_bigIcon.reset();
            g_smallIcon.reset();
            for (Control& c : g_ctl) c = Control{};
            g_madeFont.reset();
            break;
        case WM_COMMAND:
            OnCommand(w, l);
            return 0;
        case WM_QUERYENDSESSION:
            // Console programs may be ended from here on, before WM_ENDSESSION arrives.
            if (g_eventsEnabled && g_callbacks.session) g_callbacks.session(0);
            return TRUE;
        case WM_ENDSESSION:
            // Going ahead, what a quit records is recorded now, or never; the session removes
            // the window and its icon itself.
            if (g_eventsEnabled && g_callbacks.session) g_callbacks.session(w ? 1 : 2);
            return 0;
        case WM_POWERBROADCAST:
            // Sent on every wake, whether or not a user is there to see it.
            if (w == PBT_APMRESUMEAUTOMATIC && g_eventsEnabled && g_callbacks.resumed)
                g_callbacks.resumed();
            return TRUE;
        case WM_DROPFILES:
            win32::OnFilesDropped(reinterpret_cast<HDROP>(w));
            return 0;
        case WM_TIMER:
            if (w == win32::kTrayRetryTimer) {
                win32::RetryTrayIcon();
                return 0;
            }
            if (w >= win32::kFirstCallerTimer) {
                KillTimer(h, w);  // one-shot
                if (g_eventsEnabled && g_callbacks.timer)
                    g_callbacks.timer(static_cast<unsigned>(w - win32::kFirstCallerTimer));
                return 0;
            }
            break;
        case kDpiChangedMessage:  // moved to a monitor of another scale, or the scale changed
            LayOutForDpi(LOWORD(w), *reinterpret_cast<const RECT*>(l));
            return 0;
        case kGetDpiScaledSizeMessage:  // the size the suggested rectangle above will have
            *reinterpret_cast<SIZE*>(l) = WindowSizeAt(LOWORD(w));
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            // Read-only edit boxes still draw black on white like the others; disabled ones grey.
            HWND c = reinterpret_cast<HWND>(l);
            int i = IndexOf(c);
            if (i >= 0 && form::kControls[i].kind == Kind::Edit && IsWindowEnabled(c)) {
                HDC dc = reinterpret_cast<HDC>(w);
                SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
                SetBkColor(dc, GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        }
        case WM_ACTIVATE:
            // Hiding to the tray and coming back keeps the focused control, as a dialog does.
            if (LOWORD(w) == WA_INACTIVE) {
                HWND f = GetFocus();
                if (f && IsChild(h, f)) g_lastFocus = f;
            } else if (g_lastFocus && IsWindow(g_lastFocus) && IsWindowEnabled(g_lastFocus) &&
                       !HIWORD(w)) {
                ::SetFocus(g_lastFocus);
                return 0;
            }
            break;
        case win32::kRunWorkMessage:
            (*reinterpret_cast<const std::function<void()>*>(l))();
            return 0;
        case win32::kProcessEndedMessage:
            win32::OnProcessEnded(w);
            return 0;
        case win32::kAddressChangedMessage:
            win32::OnAddressChanged();
            return 0;
        case win32::kRedrawMessage: {
            HWND list = reinterpret_cast<HWND>(l);
            SendMessageA(list, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(list, nullptr, TRUE);
            g_redrawHeld = false;
            return 0;
        }
        default:
            if (m == form::kTrayCallbackMessage) {
                if (g_eventsEnabled && g_callbacks.trayMessage) g_callbacks.trayMessage(LOWORD(l));
                return 0;
            }
            if (g_taskbarCreated && m == g_taskbarCreated) {
                if (g_eventsEnabled && g_callbacks.taskbarCreated) g_callbacks.taskbarCreated();
                return 0;
            }
            if (g_anotherCopyMessage && m == g_anotherCopyMessage) {
                if (g_eventsEnabled && g_callbacks.anotherCopyStarted)
                    g_callbacks.anotherCopyStarted();
                return 0;
            }
            break;
    }
    return DefWindowProcA(h, m, w, l);
}

// Where a control goes at the window's DPI, relative to the client area.
form::Rect PlacedRect(int i) {
    const form::ControlDef& d = form::kControls[i];
    // The status bar docks itself to the bottom edge; the table's rectangle is nominal.
    if (d.kind == Kind::StatusBar) return {0, 0, 0, 0};
    form::Rect r = form::ClientRect(d.id);
    r = {Px(r.left), Px(r.top), Px(r.width), Px(r.height)};
    if (d.kind == Kind::ComboBox) r.height += Px(kComboDropHeight);
    return r;
}

// What follows the DPI besides the rectangle: the font, the combo box's list, the list's rows,
// the status bar's panels. When the control is made and again when the DPI changes.
void FitControl(int i) {
    const form::ControlDef& d = form::kControls[i];
    HWND h = g_ctl[i].hwnd;
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(ControlFont()), FALSE);
    switch (d.kind) {
        case Kind::ComboBox: {
            // The window height of a drop-down list combo is its dropped height: the field as
            // the font made it plus the list part.
            RECT field;
            GetWindowRect(h, &field);
            int fieldHeight = field.bottom - field.top;
            SetWindowPos(h, nullptr, 0, 0, Px(d.width), fieldHeight + Px(kComboDropHeight),
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            break;
        }
        case Kind::ListBox: {
            // The font gives the row height; the rows get 2 pixels more at 96 DPI.
            auto height = SendMessageA(h, LB_GETITEMHEIGHT, 0, 0);
            if (height > 0) SendMessageA(h, LB_SETITEMHEIGHT, 0, MAKELPARAM(height + Px(2), 0));
            break;
        }
        case Kind::StatusBar: {
            int edges[form::kStatusPanelCount];
            int right = 0;
            for (int p = 0; p < form::kStatusPanelCount; ++p) {
                int width = form::kStatusPanelWidths[p];
                edges[p] = width < 0 ? -1 : (right += Px(width));
            }
            SendMessageA(h, SB_SETPARTS, form::kStatusPanelCount, reinterpret_cast<LPARAM>(edges));
            SendMessageA(h, WM_SIZE, 0, 0);  // dock again now that the font is known
            break;
        }
        default: break;
    }
}

void SetUpControl(int i) {
    const form::ControlDef& d = form::kControls[i];
    HWND h = g_ctl[i].hwnd;
    FitControl(i);
    switch (d.kind) {
        case Kind::Edit:
            g_ctl[i].mode = d.mode;
            if (d.maxLength > 0) SendMessageA(h, EM_LIMITTEXT, d.maxLength, 0);
            if (d.mode == form::InputMode::Password) SendMessageA(h, EM_SETPASSWORDCHAR, '*', 0);
            Subclass(i, EditProc);
            break;
        case Kind::ComboBox:
            for (const char* item : form::kModeItems)
                SendMessageA(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
            SendMessageA(h, CB_SETCURSEL, form::kInitialMode, 0);
            break;
        case Kind::StatusBar:
            for (int p = 0; p < form::kStatusPanelCount; ++p)
                SendMessageA(h, SB_SETTEXTA, p, reinterpret_cast<LPARAM>(form::kStatusPanelTexts[p]));
            Subclass(i, StatusProc);
            break;
        default: break;
    }
}

// The window and every control at a new DPI, the window at the given rectangle (screen
// coordinates); the font it replaces is freed once no control uses it.
void LayOutForDpi(int dpi, const RECT& window) {
    g_dpi = dpi;
    MadeFont replaced = std::exchange(g_madeFont, FontForDpi(dpi));  // freed on return
    SetWindowPos(g_main, nullptr, window.left, window.top, window.right - window.left,
                 window.bottom - window.top, SWP_NOZORDER | SWP_NOACTIVATE);
    for (int i = 1; i < form::kControlCount; ++i) {
        if (!g_ctl[i].hwnd) continue;
        form::Rect r = PlacedRect(i);
        if (form::kControls[i].kind != Kind::StatusBar)
            SetWindowPos(g_ctl[i].hwnd, nullptr, r.left, r.top, r.width, r.height,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        FitControl(i);
    }
    RedrawWindow(g_main, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

bool CreateControl(int i) {
    const form::ControlDef& d = form::kControls[i];
    form::Rect r = PlacedRect(i);
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | (d.enabled ? 0 : WS_DISABLED);
    DWORD ex = 0;
    const char* cls = nullptr;
    switch (d.kind) {
        case Kind::Label:
            cls = "STATIC";
            style |= SS_LEFT | SS_CENTERIMAGE;
            break;
        case Kind::Edit:
            cls = "EDIT";
            ex = WS_EX_STATICEDGE;
            style |= WS_TABSTOP | ES_AUTOHSCROLL | (d.align == form::Align::Center ? ES_CENTER : ES_LEFT);
            if (d.mode == form::InputMode::ReadOnly) style |= ES_READONLY;
            if (d.mode == form::InputMode::Password) style |= ES_PASSWORD;
            break;
        case Kind::Button:
            cls = "BUTTON";
            style |= WS_TABSTOP | BS_PUSHBUTTON;
            break;
        case Kind::CheckBox:
            cls = "BUTTON";
            style |= WS_TABSTOP | BS_AUTOCHECKBOX;
            break;
        case Kind::ComboBox:
            cls = "COMBOBOX";
            style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
            break;
        case Kind::ListBox:
            cls = "LISTBOX";
            ex = WS_EX_STATICEDGE;
            style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
            break;
        case Kind::GroupBox:
            cls = "BUTTON";
            style |= BS_GROUPBOX;
            break;
        case Kind::StatusBar:
            cls = STATUSCLASSNAMEA;
            style &= ~WS_CLIPSIBLINGS;
            break;
        default:
            return true;  // the file dialog and the drop target have no window
    }
    HWND h = CreateWindowExA(ex, cls, d.caption, style, r.left, r.top, r.width, r.height, g_main,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(form::ControlId(static_cast<Ctl>(i)))),
                             GetModuleHandleA(nullptr), nullptr);
    if (!h) return false;
    g_ctl[i].hwnd = h;
    // Z order (and with it the tab order) follows the table.
    SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetUpControl(i);
    return true;
}

// Keys the window handles before translation: Esc asks to close from anywhere in the window,
// Tab walks the tab stops. Enter is left alone, so it moves no focus.
bool PreTranslate(const MSG& m) {
    if (m.message != WM_KEYDOWN || !g_main) return false;
    if (m.hwnd != g_main && !IsChild(g_main, m.hwnd)) return false;
    HWND combo = H(Ctl::组合框_加速模式);
    if (combo && SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0)) return false;  // Esc closes the list
    // Ctrl+C and Ctrl+V in the node list (which has no clipboard use of its own).
    if ((m.wParam == 'C' || m.wParam == 'V') && m.hwnd == H(Ctl::列表框_列表) &&
        GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0 && GetKeyState(VK_SHIFT) >= 0) {
        if (g_eventsEnabled && g_callbacks.controlKey)
            g_callbacks.controlKey(Ctl::列表框_列表, static_cast<char>(m.wParam));
        return true;
    }
    if (m.wParam == VK_ESCAPE) {
        SendMessageA(g_main, WM_CLOSE, 0, 0);
        return true;
    }
    if (m.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0) {
        HWND focus = GetFocus();
        if (focus && !IsChild(g_main, focus)) focus = nullptr;
        HWND next = GetNextDlgTabItem(g_main, focus, GetKeyState(VK_SHIFT) < 0);
        if (next) {
            ::SetFocus(next);
            int i = IndexOf(next);
            if (i >= 0 && form::kControls[i].kind == Kind::Edit) SendMessageA(next, EM_SETSEL, 0, -1);
        }
        return true;
    }
    return false;
}

void Dispatch(MSG& m) {
    if (PreTranslate(m)) return;
    TranslateMessage(&m);
    DispatchMessageA(&m);
}

// Run as administrator, the window would hear nothing from the shell and other programs of the
// user, which run at a lower integrity level: the shell's TaskbarCreated, files dropped from
// Explorer (WM_DROPFILES, with WM_COPYDATA and WM_COPYGLOBALDATA that carry them) and a second
// copy's request. ChangeWindowMessageFilterEx exists from Windows 7 on; before, there is no
// filter to pass.
void LetThroughTheFilter() {
    using Allow = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    const auto allow = reinterpret_cast<Allow>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("user32.dll"), "ChangeWindowMessageFilterEx")));
    if (!allow) return;
    constexpr UINT kCopyGlobalData = 0x0049;
    for (UINT m : {g_taskbarCreated, g_anotherCopyMessage, static_cast<UINT>(WM_DROPFILES),
                   static_cast<UINT>(WM_COPYDATA), kCopyGlobalData})
        if (m) allow(g_main, m, 1 /* MSGFLT_ALLOW */, nullptr);
}

// The name both copies in one folder derive from its path: ASCII letters folded (second bytes
// of double-byte characters kept as they are), then hashed, since a kernel object's name takes
// no backslash.
std::string CopyName(const std::string& path) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (std::size_t i = 0; i < path.size(); ++i) {
        auto byte = static_cast<unsigned char>(path[i]);
        if (IsGbkLeadByte(byte) && i + 1 < path.size()) {
            hash = (hash ^ byte) * 1099511628211ull;
            byte = static_cast<unsigned char>(path[++i]);
        } else if (byte >= 'A' && byte <= 'Z') {
            byte = static_cast<unsigned char>(byte - 'A' + 'a');
        }
        hash = (hash ^ byte) * 1099511628211ull;
    }
    char name[40];
    wsprintfA(name, "Skiplane-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
              static_cast<unsigned long>(hash));
    return name;
}

// The folder's final path, which an 8.3 name or a subst drive leads to as well; the path as
// given where it cannot be had (GetFinalPathNameByHandleA came with Vista: looked up by name).
std::string FinalPath(const std::string& folder) {
    using Final = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    static const auto final = reinterpret_cast<Final>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    HANDLE h = final ? CreateFileA(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                   FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                     : INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) return folder;
    char path[MAX_PATH * 2];
    const DWORD n = final(h, path, sizeof path, 0);
    CloseHandle(h);
    return n > 0 && n < sizeof path ? std::string(path, n) : folder;
}

}  // namespace

bool ClaimOnlyCopy(const std::string& folder) {
    const std::string name = CopyName(FinalPath(folder));
    g_anotherCopyMessage = RegisterWindowMessageA(name.c_str());
    // Held until the process ends; the system closes it then. A copy running elevated made a
    // mutex this one may not open: refused, it runs all the same.
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str());
    const DWORD error = GetLastError();
    if (mutex && error != ERROR_ALREADY_EXISTS) return true;
    if (!mutex && error != ERROR_ACCESS_DENIED) return true;
    // The running copy may take the foreground from this one, which the user just started.
    AllowSetForegroundWindow(ASFW_ANY);
    PostMessageA(HWND_BROADCAST, g_anotherCopyMessage, 0, 0);
    return false;
}

namespace win32 {
HWND MainHwnd() { return g_main; }
const UiCallbacks& Callbacks() { return g_callbacks; }
bool EventsEnabled() { return g_eventsEnabled; }
}  // namespace win32

bool CreateMainWindow(const UiCallbacks& callbacks) {
    if (g_main) return false;
    g_callbacks = callbacks;
    g_uiThread = GetCurrentThreadId();
    HINSTANCE inst = GetModuleHandleA(nullptr);

    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    g_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");

    HICON big = win32::IconFromFileBytes(res::kIconFile, res::kIconFileSize,
                                         GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    HICON small = win32::IconFromFileBytes(res::kIconFile, res::kIconFileSize,
                                           GetSystemMetrics(SM_CXSMICON),
                                           GetSystemMetrics(SM_CYSMICON));
    // A class left from an earlier window of this process would keep that window's icons.
    UnregisterClassA(kClassName, inst);
    g_bigIcon.reset(HandleOf<IconHandle>(big));
    g_smallIcon.reset(HandleOf<IconHandle>(small));
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainProc;
    wc.hInstance = inst;
    wc.hIcon = big;
    wc.hIconSm = small;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

    // Centred on the screen at the screen's DPI. Where the window's own DPI differs (per-monitor
    // Windows whose scale changed since the user logged on) it is sized and centred again for
    // its own before any control is made.
    g_dpi = ScreenDpi();
    SIZE size = WindowSizeAt(g_dpi);
    int left = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
    g_main = CreateWindowExA(0, kClassName, form::kInitialCaption,
                             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, left, top,
                             size.cx, size.cy, nullptr, nullptr, inst, nullptr);
    if (!g_main) return false;
    g_ctl[0].hwnd = g_main;
    if (int dpi = WindowDpi(g_main); dpi != g_dpi) {
        size = WindowSizeAt(dpi);
        left = (GetSystemMetrics(SM_CXSCREEN) - size.cx) / 2;
        top = (GetSystemMetrics(SM_CYSCREEN) - size.cy) / 2;
        LayOutForDpi(dpi, {left, top, left + size.cx, top + size.cy});
    }
    for (int i = 1; i < form::kControlCount; ++i) {
        if (!CreateControl(i)) {
            DestroyWindow(g_main);
            return false;
        }
    }
    // Group boxes lie beneath the controls they frame and leave them out when they paint.
    for (int i = 1; i < form::kControlCount; ++i)
        if (form::kControls[i].kind == Kind::GroupBox)
            SetWindowPos(g_ctl[i].hwnd, HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    LetThroughTheFilter();
    SendMessageA(g_main, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageA(g_main, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

    ShowWindow(g_main, SW_SHOW);
    UpdateWindow(g_main);
    g_eventsEnabled = true;
    if (g_callbacks.created) g_callbacks.created();
    return true;
}

int RunMessageLoop() {
    MSG m;
    for (;;) {
        BOOL r = GetMessageA(&m, nullptr, 0, 0);
        if (r == 0) return static_cast<int>(m.wParam);
        if (r == -1) return -1;
        Dispatch(m);
    }
}

void PumpMessages() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_QUIT) {  // stays for the message loop
            PostQuitMessage(static_cast<int>(m.wParam));
            return;
        }
        Dispatch(m);
    }
}

void EndProgram(int exitCode) {
    RunOnUiThread([] {
        if (g_main) DestroyWindow(g_main);
    });
    ExitProcess(static_cast<UINT>(exitCode));
}

WindowHandle MainWindowHandle() { return HandleOf<WindowHandle>(g_main); }

// Before the window exists there is only the starting thread, which will become the UI thread.
bool IsUiThread() { return g_uiThread == 0 || GetCurrentThreadId() == g_uiThread; }

void RunOnUiThread(const std::function<void()>& work) {
    if (!g_main || IsUiThread()) {
        work();
        return;
    }
    SendMessageA(g_main, win32::kRunWorkMessage, 0, reinterpret_cast<LPARAM>(&work));
}

void StartTimer(unsigned id, std::uint32_t ms) {
    if (g_main) SetTimer(g_main, win32::kFirstCallerTimer + id, ms, nullptr);
}

void StopTimer(unsigned id) {
    if (g_main) KillTimer(g_main, win32::kFirstCallerTimer + id);
}

// --- control primitives ------------------------------------------------------------------

std::string GetText(Ctl c) { return WindowText(H(c)); }

void SetText(Ctl c, std::string_view text) {
    if (HWND h = H(c)) SetWindowTextA(h, std::string(text).c_str());
}

bool IsEnabled(Ctl c) { return H(c) && IsWindowEnabled(H(c)); }

void SetEnabled(Ctl c, bool enabled) {
    if (HWND h = H(c)) EnableWindow(h, enabled);
}

bool IsWindowVisible() { return g_main && ::IsWindowVisible(g_main); }

void SetWindowVisible(bool visible) {
    if (g_main) ShowWindow(g_main, visible ? SW_SHOW : SW_HIDE);
}

bool IsWindowMinimized() { return g_main && IsIconic(g_main); }

void MinimizeWindow() {
    if (g_main) ShowWindow(g_main, SW_MINIMIZE);
}

void BringWindowBack() {
    if (!g_main) return;
    // SW_RESTORE also shows a window hidden while minimised, and shows it restored.
    ShowWindow(g_main, IsIconic(g_main) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(g_main);
}

bool HasKeyboardFocus(Ctl c) { return H(c) && GetFocus() == H(c); }

void GiveKeyboardFocus(Ctl c) {
    if (HWND h = H(c)) ::SetFocus(h);
}

void SetTopMost(bool topMost) {
    if (g_main)
        SetWindowPos(g_main, topMost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool IsChecked(Ctl c) { return H(c) && SendMessageA(H(c), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void SetChecked(Ctl c, bool checked) {
    if (HWND h = H(c)) SendMessageA(h, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void SetInputMode(Ctl c, form::InputMode mode) {
    HWND h = H(c);
    if (!h || KindOf(c) != Kind::Edit) return;
    g_ctl[static_cast<int>(c)].mode = mode;
    SendMessageA(h, EM_SETREADONLY, mode == form::InputMode::ReadOnly, 0);
    SendMessageA(h, EM_SETPASSWORDCHAR, mode == form::InputMode::Password ? '*' : 0, 0);
    InvalidateRect(h, nullptr, TRUE);
}

form::InputMode GetInputMode(Ctl c) { return g_ctl[static_cast<int>(c)].mode; }

int GetSelection(Ctl c) {
    HWND h = H(c);
    if (!h) return -1;
    auto r = SendMessageA(h, KindOf(c) == Kind::ComboBox ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
    return r < 0 ? -1 : static_cast<int>(r);
}

void SetSelection(Ctl c, int index) {
    if (HWND h = H(c))
        SendMessageA(h, KindOf(c) == Kind::ComboBox ? CB_SETCURSEL : LB_SETCURSEL,
                     static_cast<WPARAM>(index), 0);
}

int ItemCount(Ctl c) {
    HWND h = H(c);
    if (!h) return 0;
    auto r = SendMessageA(h, KindOf(c) == Kind::ComboBox ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
    return r < 0 ? 0 : static_cast<int>(r);
}

int AddItem(Ctl c, std::string_view text, int value) {
    HWND h = H(c);
    if (!h) return -1;
    bool combo = KindOf(c) == Kind::ComboBox;
    // A handler that fills the list adds item after item; a visible list would repaint for
    // each one (seconds for a thousand nodes). Paint once, when the messages are handled next.
    if (!combo && !g_redrawHeld) {
        SendMessageA(h, WM_SETREDRAW, FALSE, 0);
        PostMessageA(g_main, win32::kRedrawMessage, 0, reinterpret_cast<LPARAM>(h));
        g_redrawHeld = true;
    }
    std::string s(text);
    auto index = SendMessageA(h, combo ? CB_ADDSTRING : LB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(s.c_str()));
    if (index < 0) return -1;
    SendMessageA(h, combo ? CB_SETITEMDATA : LB_SETITEMDATA, index, value);
    return static_cast<int>(index);
}

bool DeleteItem(Ctl c, int index) {
    HWND h = H(c);
    if (!h || index < 0) return false;
    return SendMessageA(h, KindOf(c) == Kind::ComboBox ? CB_DELETESTRING : LB_DELETESTRING, index,
                        0) >= 0;
}

std::string ItemText(Ctl c, int index) {
    HWND h = H(c);
    if (!h || index < 0) return {};
    bool combo = KindOf(c) == Kind::ComboBox;
    auto len = SendMessageA(h, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, index, 0);
    if (len < 0) return {};
    std::string s(static_cast<size_t>(len) + 1, '\0');
    auto got = SendMessageA(h, combo ? CB_GETLBTEXT : LB_GETTEXT, index,
                            reinterpret_cast<LPARAM>(s.data()));
    s.resize(got > 0 ? std::min<size_t>(static_cast<size_t>(got), s.size() - 1) : 0);
    return s;
}

void ReplaceItemText(Ctl c, int index, std::string_view text) {
    HWND h = H(c);
    if (!h || KindOf(c) != Kind::ListBox || index < 0 || index >= ItemCount(c)) return;
    auto selected = SendMessageA(h, LB_GETCURSEL, 0, 0);
    auto top = SendMessageA(h, LB_GETTOPINDEX, 0, 0);
    auto caret = SendMessageA(h, LB_GETCARETINDEX, 0, 0);
    auto data = SendMessageA(h, LB_GETITEMDATA, index, 0);
    std::string s(text);
    SendMessageA(h, WM_SETREDRAW, FALSE, 0);
    SendMessageA(h, LB_DELETESTRING, index, 0);
    SendMessageA(h, LB_INSERTSTRING, index, reinterpret_cast<LPARAM>(s.c_str()));
    SendMessageA(h, LB_SETITEMDATA, index, data);
    SendMessageA(h, LB_SETCURSEL, static_cast<WPARAM>(selected < 0 ? -1 : selected), 0);
    if (caret >= 0 && caret != selected) SendMessageA(h, LB_SETCARETINDEX, caret, FALSE);
    if (top >= 0) SendMessageA(h, LB_SETTOPINDEX, top, 0);
    SendMessageA(h, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(h, nullptr, TRUE);
}

std::string StatusText(int panel) {
    HWND sb = H(Ctl::状态条_状态);
    if (!sb || panel < 0 || panel >= form::kStatusPanelCount) return {};
    // The reported length may count UTF-16 units (comctl32 6); leave room for two bytes each.
    auto len = LOWORD(SendMessageA(sb, SB_GETTEXTLENGTHA, panel, 0));
    std::string s(2 * static_cast<size_t>(len) + 2, '\0');
    SendMessageA(sb, SB_GETTEXTA, panel, reinterpret_cast<LPARAM>(s.data()));
    s.resize(s.find('\0'));
    return s;
}

void SetStatusText(int panel, std::string_view text) {
    HWND sb = H(Ctl::状态条_状态);
    if (!sb || panel < 0 || panel >= form::kStatusPanelCount) return;
    auto style = HIWORD(SendMessageA(sb, SB_GETTEXTLENGTHA, panel, 0)) &
                 (SBT_NOBORDERS | SBT_POPOUT | SBT_RTLREADING | SBT_NOTABPARSING);
    std::string s(text);
    SendMessageA(sb, SB_SETTEXTA, static_cast<WPARAM>(panel) | style,
                 reinterpret_cast<LPARAM>(s.c_str()));
}

ByteVector WindowIcon() { return ByteVector(res::kIconFile, res::kIconFile + res::kIconFileSize); }

}  // namespace platform
