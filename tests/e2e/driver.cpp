#include "tests/e2e/driver.h"

#include "platform/win32/ui_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace e2e {

namespace {

struct FindChildCtx {
    int id;
    HWND found;
};

BOOL CALLBACK FindChildProc(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<FindChildCtx*>(lp);
    if (GetDlgCtrlID(h) == ctx->id) {
        ctx->found = h;
        return FALSE;
    }
    return TRUE;
}

// Group box children may be children of the box or of the window: search every descendant.
HWND FindDescendant(HWND parent, int id) {
    FindChildCtx ctx{id, nullptr};
    EnumChildWindows(parent, FindChildProc, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

std::string ClassOf(HWND h) {
    char buf[256] = {};
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

// Plain SendMessage: Wine's SendMessageTimeout reports failure for some messages that
// succeed (WM_GETFONT with no font set), and a modal loop in the program still answers.
LRESULT SendTo(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return h ? SendMessageA(h, msg, wp, lp) : -1;
}

// List and combo items come back across processes in UTF-16 under Wine whatever the A/W
// flavour of the call, so ask for UTF-16 and turn it into the ANSI code page ourselves.
std::string ItemText(HWND h, UINT lenMsg, UINT textMsg, int index) {
    LRESULT len = SendMessageW(h, lenMsg, index, 0);
    if (len < 0) return {};
    std::vector<wchar_t> wide(static_cast<size_t>(len) + 16, L'\0');
    SendMessageW(h, textMsg, index, reinterpret_cast<LPARAM>(wide.data()));
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

std::string WindowText(HWND h) {
    if (!h) return {};
    std::vector<char> buf(8192, '\0');
    SendTo(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    return std::string(buf.data());
}

bool IsNativeKind(form::Kind k) {
    return k != form::Kind::Window && k != form::Kind::FileDialog && k != form::Kind::DropTarget;
}

// Memory in the program's process, for messages whose buffers Wine does not carry across.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t size) : process_(process), size_(size) {
        ptr_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (ptr_) VirtualFreeEx(process_, ptr_, 0, MEM_RELEASE);
    }
    LPARAM Address() const { return reinterpret_cast<LPARAM>(ptr_); }
    bool Ok() const { return ptr_ != nullptr; }
    bool Read(void* out, size_t n) const {
        SIZE_T got = 0;
        return n <= size_ && ReadProcessMemory(process_, ptr_, out, n, &got) && got == n;
    }
    bool Zero() const {
        std::vector<char> z(size_, '\0');
        return Write(z.data(), size_);
    }
    bool Write(const void* data, size_t n) const {
        SIZE_T put = 0;
        return n <= size_ && WriteProcessMemory(process_, ptr_, data, n, &put) && put == n;
    }

private:
    HANDLE process_;
    size_t size_;
    void* ptr_ = nullptr;
};

}  // namespace

double NowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs) return cond();
        Sleep(20);
    }
}

bool MouseClick(HWND window, int y) {
    RECT r{};
    GetWindowRect(window, &r);
    const int at = y < 0 ? (r.top + r.bottom) / 2 : r.top + y;
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = ((r.left + r.right) / 2 * 65536 + 32768) / GetSystemMetrics(SM_CXSCREEN);
    input.mi.dy = (at * 65536 + 32768) / GetSystemMetrics(SM_CYSCREEN);
    const auto send = [&input](DWORD flags) {
        input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
        SendInput(1, &input, sizeof input);
    };
    send(MOUSEEVENTF_MOVE);
    const bool over = WaitUntil([window] {
        POINT p{};
        GetCursorPos(&p);
        return WindowFromPoint(p) == window;
    });
    // Each press and release carries the position too: Wine may have put its pointer back where
    // X last saw it meanwhile, and a button event without MOUSEEVENTF_MOVE goes to wherever the
    // pointer is then.
    send(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN);
    send(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP);
    return over;
}

HWND FocusOf(HWND main) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info);
    return info.hwndFocus;
}

std::string MakeTempDir(const std::string& prefix) {
    static int counter = 0;
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char name[MAX_PATH + 64];
        std::snprintf(name, sizeof name, "%s%s-%lu-%d", base, prefix.c_str(),
                      static_cast<unsigned long>(GetCurrentProcessId()), ++counter);
        if (CreateDirectoryA(name, nullptr)) return name;
    }
    return {};
}

void RemoveTree(const std::string& dir) {
    if (dir.empty()) return;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::string ReadFileBytes(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

bool FileExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

int ScreenDpi() {
    // Vista's function, which the headers for Windows XP leave out.
    using Function = BOOL(WINAPI*)();
    if (auto aware = reinterpret_cast<Function>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware"))))
        aware();
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

bool SaveScreenshot(const std::string& bmpPath) {
    int w = GetSystemMetrics(SM_CXSCREEN);
    int h = GetSystemMetrics(SM_CYSCREEN);
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as a .bmp file stores it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib && bits) {
        HGDIOBJ old = SelectObject(mem, dib);
        ok = BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY | CAPTUREBLT) != 0;
        GdiFlush();
        SelectObject(mem, old);
        if (ok) {
            DWORD stride = ((static_cast<DWORD>(w) * 3) + 3) & ~3u;
            DWORD imageSize = stride * static_cast<DWORD>(h);
            BITMAPFILEHEADER fh{};
            fh.bfType = 0x4D42;  // "BM"
            fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
            fh.bfSize = fh.bfOffBits + imageSize;
            bi.bmiHeader.biSizeImage = imageSize;
            std::string file(reinterpret_cast<const char*>(&fh), sizeof fh);
            file.append(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof(BITMAPINFOHEADER));
            file.append(static_cast<const char*>(bits), imageSize);
            ok = WriteFileBytes(bmpPath, file);
        }
    }
    if (dib) DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

namespace {

// The start of Wine 8.0's TOOLTIPS_INFO (dlls/comctl32/tooltips.c) up to the title: Wine's tooltip
// does not answer TTM_GETTITLE, so the title is read from explorer's memory. The layout holds
// for a driver of explorer's bitness; hwndSelf tells whether it does.
struct WineTooltipInfo {
    HWND hwndSelf;
    WCHAR szTipText[INFOTIPSIZE];
    BOOL bActive, bTrackActive;
    UINT uNumTools;
    COLORREF clrBk, clrText;
    HFONT hFont, hTitleFont;
    INT xTrackPos, yTrackPos, nMaxTipWidth, nTool, nCurrentTool, nTrackTool, nReshowTime,
        nAutoPopTime, nInitialTime;
    RECT rcMargin;
    BOOL bToolBelow;
    LPWSTR pszTitle;
};

std::string Gbk(const wchar_t* w) {
    int n = WideCharToMultiByte(936, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 1 ? static_cast<size_t>(n) - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(936, 0, w, -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::string BalloonTitle(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_READ, FALSE, pid);
    if (!process) return {};
    WineTooltipInfo info{};
    wchar_t title[64] = {};  // szInfoTitle's size
    SIZE_T got = 0;
    const auto* at = reinterpret_cast<const void*>(GetWindowLongPtrW(h, 0));
    if (!ReadProcessMemory(process, at, &info, sizeof info, &got) || info.hwndSelf != h ||
        !ReadProcessMemory(process, info.pszTitle, title, sizeof title - sizeof *title, &got))
        title[0] = L'\0';
    CloseHandle(process);
    return Gbk(title);
}

// The title icon's kind by its colours: on the balloon's white with black text, Wine's warning
// sign is the only yellow, its information sign the only blue and its error sign the only red.
// The icon sits 10 pixels in from the top left corner, 23 below a stem at the top.
int BalloonIcon(HWND h) {
    constexpr int kFrom = 8, kTo = 48;
    RECT r{};
    GetWindowRect(h, &r);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), kTo, -kTo, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    int counts[4] = {};
    if (dib && bits) {
        HGDIOBJ old = SelectObject(mem, dib);
        BitBlt(mem, 0, 0, kTo, kTo, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        SelectObject(mem, old);
        for (int y = kFrom; y < kTo; ++y)
            for (int x = kFrom; x < kTo; ++x) {
                const auto* p = static_cast<const unsigned char*>(bits) + (y * kTo + x) * 4;
                const int b = p[0], g = p[1], red = p[2];
                if (red > 200 && g > 150 && b < 100) ++counts[NIIF_WARNING];
                else if (red > 180 && g < 100 && b < 100) ++counts[NIIF_ERROR];
                else if (b > 110 && b > g + 50 && b > red + 50) ++counts[NIIF_INFO];
            }
    }
    if (dib) DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    int kind = NIIF_NONE;
    for (int k : {NIIF_INFO, NIIF_WARNING, NIIF_ERROR})
        if (counts[k] > 8 && counts[k] > counts[kind]) kind = k;
    return kind;
}

struct FindBalloonCtx {
    HWND skip, found;
};
BOOL CALLBACK FindBalloonProc(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<FindBalloonCtx*>(lp);
    if (h == ctx->skip || !IsWindowVisible(h) || ClassOf(h) != TOOLTIPS_CLASSA ||
        !(GetWindowLongA(h, GWL_STYLE) & TTS_BALLOON))
        return TRUE;
    ctx->found = h;
    return FALSE;
}

}  // namespace

std::optional<Balloon> WaitForBalloon(DWORD timeoutMs, HWND shown) {
    FindBalloonCtx ctx{shown, nullptr};
    WaitUntil([&] {
        EnumWindows(FindBalloonProc, reinterpret_cast<LPARAM>(&ctx));
        return ctx.found != nullptr;
    }, static_cast<int>(timeoutMs));
    if (!ctx.found) return std::nullopt;
    Balloon b;
    b.hwnd = ctx.found;
    wchar_t text[INFOTIPSIZE] = {};
    SendMessageW(b.hwnd, WM_GETTEXT, INFOTIPSIZE, reinterpret_cast<LPARAM>(text));
    b.text = Gbk(text);
    b.title = BalloonTitle(b.hwnd);
    // Shown before it is painted: the icon is given a moment.
    WaitUntil([&] { return (b.icon = BalloonIcon(b.hwnd)) != NIIF_NONE; }, 1000);
    return b;
}

std::string ToWindowsPath(std::string p) {
    if (!p.empty() && p[0] == '/') p = "Z:" + p;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

std::string ArgValue(const char* name) {
    std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < __argc; ++i) {
        if (std::strncmp(__argv[i], prefix.c_str(), prefix.size()) == 0)
            return __argv[i] + prefix.size();
    }
    return {};
}

std::string SkiplanePath() { return ToWindowsPath(ArgValue("skiplane")); }

std::string ArtifactsDir() {
    std::string dir = ArgValue("artifacts");
    dir = dir.empty() ? std::string("e2e-artifacts") : ToWindowsPath(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

App::~App() {
    Kill();
    if (pi_.hThread) CloseHandle(pi_.hThread);
    if (pi_.hProcess) CloseHandle(pi_.hProcess);
}

bool App::Start(const std::string& exePath, const std::string& workDir, int timeoutMs) {
    ScreenDpi();  // geometry in physical pixels
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string cmd = "\"" + exePath + "\"";
    std::vector<char> cmdBuf(cmd.begin(), cmd.end());
    cmdBuf.push_back('\0');
    if (!CreateProcessA(exePath.c_str(), cmdBuf.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi_)) {
        pi_ = PROCESS_INFORMATION{};
        return false;
    }
    WaitForInputIdle(pi_.hProcess, static_cast<DWORD>(timeoutMs));
    // The window counts as there once every native control of the table exists.
    return WaitUntil(
        [this] {
            main_ = FindMain();
            if (!main_) return false;
            for (const form::ControlDef& d : form::kControls) {
                if (IsNativeKind(d.kind) && !FindDescendant(main_, form::ControlId(d.id)))
                    return false;
            }
            return true;
        },
        timeoutMs);
}

namespace {
struct FindMainCtx {
    DWORD pid;
    HWND found;
};
BOOL CALLBACK FindMainProc(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<FindMainCtx*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != ctx->pid) return TRUE;
    HWND list = FindDescendant(h, form::ControlId(form::Ctl::列表框_列表));
    if (list && lstrcmpiA(ClassOf(list).c_str(), "ListBox") == 0) {
        ctx->found = h;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND App::FindMain() const {
    if (!pi_.hProcess) return nullptr;
    FindMainCtx ctx{pi_.dwProcessId, nullptr};
    EnumWindows(FindMainProc, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

bool App::Running() const {
    return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD App::WaitExit(int timeoutMs) {
    if (!pi_.hProcess) return STILL_ACTIVE;
    if (WaitForSingleObject(pi_.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

void App::Kill() {
    if (Running()) {
        TerminateProcess(pi_.hProcess, 1);
        WaitForSingleObject(pi_.hProcess, 5000);
    }
}

HWND App::Hwnd(form::Ctl c) const {
    if (c == form::Ctl::MainWindow) return main_;
    return main_ ? FindDescendant(main_, form::ControlId(c)) : nullptr;
}

std::string App::Caption() const { return WindowText(main_); }

RECT App::WindowRect() const {
    RECT r{};
    GetWindowRect(main_, &r);
    return r;
}

SIZE App::ClientSize() const {
    RECT r{};
    GetClientRect(main_, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

bool App::MainVisible() const { return main_ && IsWindowVisible(main_); }

std::string App::Text(form::Ctl c) const { return WindowText(Hwnd(c)); }

bool App::Enabled(form::Ctl c) const {
    HWND h = Hwnd(c);
    return h && IsWindowEnabled(h);
}

bool App::Visible(form::Ctl c) const {
    HWND h = Hwnd(c);
    return h && IsWindowVisible(h);
}

form::Rect App::RectInClient(form::Ctl c) const {
    RECT r{};
    GetWindowRect(Hwnd(c), &r);
    MapWindowPoints(HWND_DESKTOP, main_, reinterpret_cast<POINT*>(&r), 2);
    return form::Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::string App::ClassName(form::Ctl c) const { return ClassOf(Hwnd(c)); }
LONG App::Style(form::Ctl c) const { return GetWindowLongA(Hwnd(c), GWL_STYLE); }
LONG App::ExStyle(form::Ctl c) const { return GetWindowLongA(Hwnd(c), GWL_EXSTYLE); }

LRESULT App::Send(form::Ctl c, UINT msg, WPARAM wp, LPARAM lp) const {
    return SendTo(Hwnd(c), msg, wp, lp);
}

LRESULT App::SendWithData(form::Ctl c, UINT msg, WPARAM wp, void* data, size_t size) const {
    RemoteBuffer buf(pi_.hProcess, size);
    if (!buf.Ok() || !buf.Write(data, size)) return -1;
    LRESULT r = SendTo(Hwnd(c), msg, wp, buf.Address());
    return buf.Read(data, size) ? r : -1;
}

bool App::Click(form::Ctl button) const {
    HWND h = Hwnd(button);
    // A user cannot click a greyed button; BM_CLICK would click it all the same.
    if (!h || !IsWindowEnabled(h)) return false;
    return PostMessageA(h, BM_CLICK, 0, 0) != 0;
}

bool App::Type(form::Ctl edit, const std::string& chars) const {
    HWND h = Hwnd(edit);
    if (!h) return false;
#ifdef _WIN64
    // 64-bit Wine 8 turns a double-byte character posted as two ANSI WM_CHARs into "??": such a
    // character goes in as the edit's own replacement of the selection, after all posted before.
    for (size_t i = 0; i < chars.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(chars[i]);
        if (ch < 0x80 || i + 1 == chars.size()) {
            if (!PostMessageA(h, WM_CHAR, ch, 1)) return false;
            continue;
        }
        if (!Sync()) return false;
        const std::string pair = chars.substr(i++, 2);
        SendTo(h, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(pair.c_str()));
    }
#else
    for (unsigned char ch : chars) {
        if (!PostMessageA(h, WM_CHAR, ch, 1)) return false;
    }
#endif
    return true;
}

bool App::Retype(form::Ctl edit, const std::string& chars) const {
    HWND h = Hwnd(edit);
    if (!h || !PostMessageA(h, EM_SETSEL, 0, -1)) return false;
    if (chars.empty()) return PostMessageA(h, WM_CHAR, VK_BACK, 1) != 0;
    return Type(edit, chars);
}

bool App::PressKey(form::Ctl target, int vk) const {
    HWND h = Hwnd(target);
    if (!h) return false;
    UINT scan = MapVirtualKeyA(static_cast<UINT>(vk), 0);
    LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    LPARAM up = down | (1L << 30) | (1L << 31);
    return PostMessageA(h, WM_KEYDOWN, static_cast<WPARAM>(vk), down) &&
           PostMessageA(h, WM_KEYUP, static_cast<WPARAM>(vk), up);
}

bool App::SelectListItem(form::Ctl list, int index) const {
    HWND h = Hwnd(list);
    if (!h || !IsWindowEnabled(h)) return false;
    LRESULT count = SendTo(h, LB_GETCOUNT, 0, 0);
    if (index < 0 || index >= count) return false;
    // The item's rectangle from its height and the first visible row: plain numbers, so
    // nothing needs carrying between the processes.
    LRESULT top = SendTo(h, LB_GETTOPINDEX, 0, 0);
    LRESULT height = SendTo(h, LB_GETITEMHEIGHT, 0, 0);
    if (top < 0 || height <= 0 || index < top) return false;
    int y = static_cast<int>((index - top) * height + height / 2);
    RECT client{};
    GetClientRect(h, &client);
    if (y >= client.bottom) return false;
    LPARAM at = MAKELPARAM(10, y);
    return PostMessageA(h, WM_LBUTTONDOWN, MK_LBUTTON, at) &&
           PostMessageA(h, WM_LBUTTONUP, 0, at);
}

bool App::PostToMain(UINT msg, WPARAM wp, LPARAM lp) const {
    return main_ && PostMessageA(main_, msg, wp, lp) != 0;
}

bool App::PostTray(UINT mouseMsg) const {
    return PostToMain(form::kTrayCallbackMessage, form::kTrayIconId, mouseMsg);
}

bool App::PostMenuCommand(form::Menu item) const {
    return PostToMain(WM_COMMAND, MAKEWPARAM(form::MenuCommand(item), 0), 0);
}

bool App::Close() const { return PostToMain(WM_CLOSE, 0, 0); }

bool App::Sync(int timeoutMs) const {
    // Flip the modified flag of the read-only path box: no event, nothing drawn.
    HWND h = Hwnd(form::Ctl::编辑框_目录);
    if (!h) return false;
    LRESULT want = SendTo(h, EM_GETMODIFY, 0, 0) ? 0 : 1;
    if (!PostMessageA(h, EM_SETMODIFY, static_cast<WPARAM>(want), 0)) return false;
    bool ok = WaitUntil([&] { return SendTo(h, EM_GETMODIFY, 0, 0) == want; }, timeoutMs);
    PostMessageA(h, EM_SETMODIFY, want ? 0 : 1, 0);
    return ok;
}

std::vector<std::string> App::ListItems(form::Ctl list) const {
    HWND h = Hwnd(list);
    std::vector<std::string> items;
    LRESULT n = SendTo(h, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) items.push_back(ItemText(h, LB_GETTEXTLEN, LB_GETTEXT, i));
    return items;
}

int App::ListSelection(form::Ctl list) const {
    return static_cast<int>(Send(list, LB_GETCURSEL));
}

int App::ListItemHeight(form::Ctl list) const {
    return static_cast<int>(Send(list, LB_GETITEMHEIGHT));
}

std::vector<std::string> App::ComboItems(form::Ctl combo) const {
    HWND h = Hwnd(combo);
    std::vector<std::string> items;
    LRESULT n = SendTo(h, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) items.push_back(ItemText(h, CB_GETLBTEXTLEN, CB_GETLBTEXT, i));
    return items;
}

int App::ComboSelection(form::Ctl combo) const {
    return static_cast<int>(Send(combo, CB_GETCURSEL));
}

std::string App::ComboText(form::Ctl combo) const {
    int sel = ComboSelection(combo);
    if (sel < 0) return {};
    std::vector<std::string> items = ComboItems(combo);
    return sel < static_cast<int>(items.size()) ? items[sel] : std::string();
}

bool App::Checked(form::Ctl box) const { return Send(box, BM_GETCHECK) == BST_CHECKED; }

std::vector<int> App::StatusParts() const {
    HWND h = Hwnd(form::Ctl::状态条_状态);
    constexpr int kMax = 16;
    RemoteBuffer buf(pi_.hProcess, kMax * sizeof(int));
    if (!h || !buf.Ok()) return {};
    LRESULT n = SendTo(h, SB_GETPARTS, kMax, buf.Address());
    if (n <= 0 || n > kMax) return {};
    std::vector<int> parts(static_cast<size_t>(n));
    if (!buf.Read(parts.data(), parts.size() * sizeof(int))) return {};
    return parts;
}

std::string App::StatusText(int panel) const {
    HWND h = Hwnd(form::Ctl::状态条_状态);
    if (!h) return {};
    LRESULT lenInfo = SendTo(h, SB_GETTEXTLENGTHA, panel, 0);
    if (lenInfo == -1) return {};
    size_t len = LOWORD(lenInfo);
    RemoteBuffer buf(pi_.hProcess, len + 16);
    if (!buf.Ok() || !buf.Zero()) return {};
    SendTo(h, SB_GETTEXTA, panel, buf.Address());
    std::vector<char> local(len + 16, '\0');
    if (!buf.Read(local.data(), local.size())) return {};
    return std::string(local.data());
}

namespace {
struct FindBoxesCtx {
    DWORD pid;
    std::vector<HWND> found;
};
BOOL CALLBACK FindBoxesProc(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<FindBoxesCtx*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == ctx->pid && IsWindowVisible(h) && ClassOf(h) == "#32770") ctx->found.push_back(h);
    return TRUE;
}
BOOL CALLBACK CollectButtonsProc(HWND h, LPARAM lp) {
    auto* ids = reinterpret_cast<std::vector<int>*>(lp);
    if (IsWindowVisible(h) && lstrcmpiA(ClassOf(h).c_str(), "Button") == 0)
        ids->push_back(GetDlgCtrlID(h));
    return TRUE;
}
}  // namespace

namespace {
struct FindPopupCtx {
    DWORD pid;
    HWND found;
};
BOOL CALLBACK FindPopupProc(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<FindPopupCtx*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == ctx->pid && IsWindowVisible(h) && ClassOf(h) == "#32768") {
        ctx->found = h;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND App::PopupMenuWindow() const {
    FindPopupCtx ctx{pi_.dwProcessId, nullptr};
    if (pi_.hProcess) EnumWindows(FindPopupProc, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

std::vector<MessageBoxInfo> App::MessageBoxes() const {
    FindBoxesCtx ctx{pi_.dwProcessId, {}};
    if (pi_.hProcess) EnumWindows(FindBoxesProc, reinterpret_cast<LPARAM>(&ctx));
    std::vector<MessageBoxInfo> boxes;
    for (HWND h : ctx.found) {
        MessageBoxInfo info;
        info.hwnd = h;
        info.caption = WindowText(h);
        info.text = WindowText(GetDlgItem(h, 0xFFFF));  // the message text's static
        EnumChildWindows(h, CollectButtonsProc, reinterpret_cast<LPARAM>(&info.buttons));
        boxes.push_back(std::move(info));
    }
    return boxes;
}

bool App::WaitMessageBox(MessageBoxInfo* out, int timeoutMs) const {
    std::vector<MessageBoxInfo> boxes;
    bool found = WaitUntil(
        [&] {
            boxes = MessageBoxes();
            return boxes.size() == 1 && !boxes[0].buttons.empty();
        },
        timeoutMs);
    if (found && out) *out = boxes[0];
    return found;
}

bool App::PressMessageBoxButton(const MessageBoxInfo& box, int id) {
    HWND button = GetDlgItem(box.hwnd, id);
    if (!button) return false;
    return PostMessageA(box.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != 0;
}

namespace {
// The file name is typed into edt1 in the old-style template, and into the edit inside the
// combo box cmb13 in the newer one (Wine 8 wraps that combo box in a ComboBoxEx32, and the
// inner combo box and its edit carry the id as well).
constexpr int kFileNameEdit = 0x480;   // edt1
constexpr int kFileNameCombo = 0x47C;  // cmb13
constexpr int kFileTypeCombo = 0x470;  // cmb1

BOOL CALLBACK FindFileNameProc(HWND h, LPARAM lp) {
    if (!IsWindowVisible(h) || lstrcmpiA(ClassOf(h).c_str(), "Edit") != 0) return TRUE;
    const int id = GetDlgCtrlID(h);
    const HWND parent = GetParent(h);
    if (id == kFileNameEdit || id == kFileNameCombo ||
        (parent && GetDlgCtrlID(parent) == kFileNameCombo)) {
        *reinterpret_cast<HWND*>(lp) = h;
        return FALSE;
    }
    return TRUE;
}

HWND FileNameField(HWND dialog) {
    HWND found = nullptr;
    EnumChildWindows(dialog, FindFileNameProc, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The dialog's own push button with this id (its toolbar has id 1 as well).
HWND DialogButton(HWND dialog, int id) {
    for (HWND h = FindWindowExA(dialog, nullptr, "Button", nullptr); h;
         h = FindWindowExA(dialog, h, "Button", nullptr)) {
        if (GetDlgCtrlID(h) == id) return h;
    }
    return nullptr;
}
}  // namespace

bool App::WaitFileDialog(FileDialogInfo* out, int timeoutMs) const {
    FileDialogInfo found;
    bool ok = WaitUntil(
        [&] {
            FindBoxesCtx ctx{pi_.dwProcessId, {}};
            if (pi_.hProcess) EnumWindows(FindBoxesProc, reinterpret_cast<LPARAM>(&ctx));
            for (HWND h : ctx.found) {
                HWND field = FileNameField(h);
                if (!field || !DialogButton(h, IDOK)) continue;
                found.hwnd = h;
                found.fileName = field;
                return true;
            }
            return false;
        },
        timeoutMs);
    if (!ok) return false;
    found.caption = WindowText(found.hwnd);
    HWND types = FindDescendant(found.hwnd, kFileTypeCombo);
    LRESULT n = SendTo(types, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i)
        found.filters.push_back(ItemText(types, CB_GETLBTEXTLEN, CB_GETLBTEXT, i));
    if (out) *out = found;
    return true;
}

std::string App::FileDialogName(const FileDialogInfo& dialog) {
    return WindowText(dialog.fileName);
}

bool App::ChooseInFileDialog(const FileDialogInfo& dialog, const std::string& path) {
    if (!dialog.fileName) return false;
    if (!SendMessageA(dialog.fileName, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str())))
        return false;
    HWND open = DialogButton(dialog.hwnd, IDOK);
    return open && PostMessageA(dialog.hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                reinterpret_cast<LPARAM>(open)) != 0;
}

bool App::CancelFileDialog(const FileDialogInfo& dialog) {
    HWND cancel = DialogButton(dialog.hwnd, IDCANCEL);
    return cancel && PostMessageA(dialog.hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                                  reinterpret_cast<LPARAM>(cancel)) != 0;
}

bool PostAddressChange(const App& app) {
    return app.PostToMain(platform::win32::kAddressChangedMessage, 0, 0);
}

}  // namespace e2e
