#include "ui/controls.h"


#include <mutex>  // std::lock_guard only

#include "platform/codepage.h"
#include "platform/lock.h"
#include "platform/window.h"
#include "services/runtime.h"

namespace ui {

namespace {

const std::vector<Binding>* g_events = nullptr;
std::vector<void (*)()> g_later;  // RunLater's routines, by timer id

// A content write raises its event itself; the native notification it causes is swallowed.
Ctl g_writing = Ctl::Count;

// Menu items are plain data read by PopupMenu; the update thread may rename one meanwhile.
struct MenuState {
    std::string caption;
    bool disabled;
    bool hidden;
};
platform::Mutex g_menuMutex;
MenuState g_menu[kMenuCount];

std::string g_dialogFile;     // the file-name property of 通用对话框_目录
bool g_dropBound = false;     // the drop target binds to one window only

// The notification icon as the shell knows it.
platform::OwnedIcon g_trayIcon;
platform::TrayRecord g_trayRecord;

bool Raise(Event e, Ctl c, Menu m, const EventArgs& args = {}) {
    if (!g_events) return true;
    for (const Binding& b : *g_events) {
        if (b.event != e) continue;
        if (e == Event::Chosen ? b.menu == m : b.control == c) return b.handler(args);
    }
    return true;  // no handler: the default action goes ahead
}
bool Raise(Event e, Ctl c, const EventArgs& args = {}) { return Raise(e, c, Menu::Count, args); }

// Native changes happen on the window thread; a writer on another thread waits for them.
template <class Work>
void OnUi(Work&& work) {
    if (platform::IsUiThread()) {
        work();
    } else {
        platform::RunOnUiThread(std::function<void()>(work));
    }
}

// Cuts a tip to at most 62 bytes without splitting a double-byte character.
void CopyTip(const Text& tip, char (&field)[64]) {
    std::size_t n = 0;
    while (n < tip.size()) {
        std::size_t step = platform::IsGbkLeadByte(tip[n]) ? 2 : 1;
        if (n + step > 62 || n + step > tip.size()) break;
        n += step;
    }
    std::fill(std::begin(field), std::end(field), 0);
    std::copy(tip.begin(), tip.begin() + static_cast<std::ptrdiff_t>(n), field);
}

void ResetState() {
    std::lock_guard<platform::Mutex> lock(g_menuMutex);
    for (int i = 0; i < kMenuCount; ++i)
        g_menu[i] = {kMenu[i].caption, kMenu[i].disabled, kMenu[i].hidden};
    g_trayIcon.release();  // an earlier window's icon went with its process
    g_trayRecord = {};
    g_writing = Ctl::Count;
    g_dialogFile.clear();
    g_dropBound = false;
}

platform::UiCallbacks MakeCallbacks() {
    platform::UiCallbacks cb;
    cb.created = [] { Raise(Event::Created, Ctl::MainWindow); };
    cb.closeQuery = [] { return Raise(Event::CloseQuery, Ctl::MainWindow); };
    cb.clicked = [](Ctl c) { Raise(Event::Click, c); };
    cb.textChanged = [](Ctl c) {
        if (c != g_writing) Raise(Event::ContentChanged, c);
    };
    cb.itemSelected = [](Ctl c) { Raise(Event::ItemSelected, c); };
    cb.trayMessage = [](unsigned mouseMessage) {
        TrayKind kind;
        switch (mouseMessage) {
            case 0x202: kind = TrayKind::Click; break;        // WM_LBUTTONUP
            case 0x203: kind = TrayKind::DoubleClick; break;  // WM_LBUTTONDBLCLK
            case 0x205:                                       // WM_RBUTTONUP
            case 0x07B: kind = TrayKind::Menu; break;         // WM_CONTEXTMENU
            default: return;
        }
        EventArgs args;
        args.tray = kind;
        Raise(Event::Tray, Ctl::MainWindow, args);
    };
    cb.menuCommand = [](int command) {
        int index = command - kFirstMenuCommand;
        if (index <= 0 || index >= kMenuCount) return;
        Raise(Event::Chosen, Ctl::Count, static_cast<Menu>(index));
    };
    cb.statusBarButtonDown = [](int x, int y, int keys) {
        EventArgs args;
        args.x = x;
        args.y = y;
        args.keys = keys;
        Raise(Event::LeftButtonDown, Ctl::状态条_状态, args);
    };
    cb.filesDropped = [](const std::string& paths) {
        EventArgs args;
        args.text = paths;
        Raise(Event::FileReceived, Ctl::拖放对象_目录, args);
    };
    // After the shell restarts, the icon would be gone: add it again with its current tip.
    cb.taskbarCreated = [] {
        if (g_trayIcon) platform::NotifyIcon(platform::TrayOp::Add, g_trayRecord);
    };
    cb.session = [](int step) {
        Raise(static_cast<Event>(static_cast<int>(Event::SessionEndAsked) + step), Ctl::MainWindow);
    };
    cb.resumed = [] { Raise(Event::Resumed, Ctl::MainWindow); };
    cb.anotherCopyStarted = [] { Raise(Event::AnotherCopyStarted, Ctl::MainWindow); };
    cb.timer = [](unsigned id) {
        if (id < g_later.size()) g_later[id]();
    };
    cb.controlKey = [](Ctl c, char key) {
        if (key == 'C') Raise(Event::CopyKey, c);
        if (key == 'V') Raise(Event::PasteKey, c);
    };
    return cb;
}

}  // namespace

bool Open(const std::vector<Binding>& eventTable) {
    ResetState();
    g_events = &eventTable;
    return platform::CreateMainWindow(MakeCallbacks());
}

int Run(const std::vector<Binding>& eventTable) {
    if (!Open(eventTable)) sk::RuntimeErrorReport("载入启动窗口失败");
    return platform::RunMessageLoop();
}

bool ClaimOnlyCopy(const Text& folder) { return platform::ClaimOnlyCopy(folder); }

[[noreturn]] void EndProgram(int exitCode) {
    SetTrayIcon({});  // the icon goes with the window
    platform::EndProgram(exitCode);
}

// --- main window -------------------------------------------------------------------------
bool WindowVisible() { return platform::IsWindowVisible(); }
void SetWindowVisible(bool visible) {
    OnUi([&] { platform::SetWindowVisible(visible); });
}
Text WindowCaption() { return platform::GetText(Ctl::MainWindow); }
void SetWindowCaption(const Text& caption) {
    OnUi([&] { platform::SetText(Ctl::MainWindow, caption); });
}
sk::Bytes WindowIcon() { return platform::WindowIcon(); }
void SetAlwaysOnTop(bool onTop) {
    OnUi([&] { platform::SetTopMost(onTop); });
}
bool WindowMinimized() { return platform::IsWindowMinimized(); }
void MinimizeWindow() {
    OnUi([] { platform::MinimizeWindow(); });
}
void BringWindowBack() {
    OnUi([] { platform::BringWindowBack(); });
}
bool HasFocus(Ctl c) { return platform::HasKeyboardFocus(c); }
void SetFocus(Ctl c) {
    OnUi([&] { platform::GiveKeyboardFocus(c); });
}

// --- controls ----------------------------------------------------------------------------
Text Content(Ctl c) {
    if (Def(c).kind == Kind::ComboBox) return platform::ItemText(c, platform::GetSelection(c));
    return platform::GetText(c);
}

void SetContent(Ctl c, const Text& text) {
    OnUi([&] {
        Ctl outer = g_writing;
        g_writing = c;
        platform::SetText(c, text);
        g_writing = outer;
        Raise(Event::ContentChanged, c);
    });
}

void SetInputMode(Ctl c, InputMode mode) {
    OnUi([&] { platform::SetInputMode(c, mode); });
}
bool Disabled(Ctl c) { return !platform::IsEnabled(c); }
void SetDisabled(Ctl c, bool disabled) {
    OnUi([&] { platform::SetEnabled(c, !disabled); });
}

int Selection(Ctl c) { return platform::GetSelection(c); }
void SetSelection(Ctl c, int index) {
    OnUi([&] {
        int last = platform::ItemCount(c) - 1;
        int clamped = index > last ? last : index;
        if (clamped < -1) clamped = -1;
        platform::SetSelection(c, clamped);
    });
}

bool Checked(Ctl c) { return platform::IsChecked(c); }
void SetChecked(Ctl c, bool checked) {
    OnUi([&] { platform::SetChecked(c, checked); });
}

Text DialogFileName(Ctl) { return g_dialogFile; }

// --- control commands --------------------------------------------------------------------
platform::WindowHandle GetWindowHandle() { return platform::MainWindowHandle(); }

bool FileDialogOpen(Ctl) {
    platform::FileDialogOptions options;
    options.filter = kClientFilter;
    if (options.filter.size() < 2 || options.filter.compare(options.filter.size() - 2, 2, "||") != 0)
        options.filter += "||";
    options.filterIndex = 1;
    std::string path = g_dialogFile;
    if (!platform::OpenFileDialog(options, path)) return false;
    g_dialogFile = path;
    return true;
}

int ListItemCount(Ctl list) { return platform::ItemCount(list); }

int ListAddItem(Ctl list, const Text& text, int value) {
    int index = -1;
    OnUi([&] { index = platform::AddItem(list, text, value); });
    return index;
}

bool ListSetItemText(Ctl list, int index, const Text& text) {
    bool ok = false;
    OnUi([&] {
        if (index < 0 || index >= platform::ItemCount(list)) return;
        ok = true;
        if (platform::ItemText(list, index) != text) platform::ReplaceItemText(list, index, text);
    });
    return ok;
}

bool ListDeleteItem(Ctl list, int index) {
    bool ok = false;
    OnUi([&] { ok = platform::DeleteItem(list, index); });
    return ok;
}

Text ListItemText(Ctl list, int index) { return platform::ItemText(list, index); }

void StatusBarSetText(int panel, const Text& text) {
    if (panel < 0 || panel >= kStatusPanelCount) return;
    OnUi([&] { platform::SetStatusText(panel, text); });
}
Text StatusBarText(int panel) { return platform::StatusText(panel); }

void SetTrayIcon(const sk::Bytes& icon, sk::Opt<Text> tip) {
    OnUi([&] {
        platform::OwnedIcon handle(icon.empty() ? platform::IconHandle{}
                                                : platform::CreateIconFromBytes(icon));
        platform::TrayRecord record;
        record.window = platform::MainWindowHandle();
        record.id = kTrayIconId;
        record.callbackMessage = kTrayCallbackMessage;
        record.icon = handle.get();
        record.flags = handle ? platform::kTrayHasMessage | platform::kTrayHasIcon |
                                    platform::kTrayHasTip
                              : 0;
        if (tip) CopyTip(*tip, record.tip);
        if (g_trayIcon) {
            platform::NotifyIcon(handle ? platform::TrayOp::Modify : platform::TrayOp::Delete,
                                 record);
        } else if (handle) {
            platform::NotifyIcon(platform::TrayOp::Add, record);
        }
        g_trayIcon = std::move(handle);  // the icon the shell showed until now is destroyed
        g_trayRecord = record;
    });
}

bool TrayIconShown() { return platform::TrayIconShown(); }
void StopTrayRetries() { platform::StopTrayRetries(); }
void ShowTrayBalloon(const Text& text, bool warning) {
    const auto icon = warning ? platform::BalloonIcon::Warning : platform::BalloonIcon::Info;
    OnUi([&] { platform::ShowTrayBalloon("Skiplane", sk::CutOnCharacter(text, 255), icon); });
}

void PopupMenu() {
    std::vector<platform::PopupEntry> entries;
    {
        std::lock_guard<platform::Mutex> lock(g_menuMutex);
        for (int i = 1; i < kMenuCount; ++i) {  // the items under the hidden 托盘菜单
            const MenuState& s = g_menu[i];
            if (s.hidden) continue;
            entries.push_back({kFirstMenuCommand + i, s.caption, s.caption == "-", s.disabled,
                               false});
        }
    }
    platform::ShowPopupMenu(entries);
}

bool RegisterDropTarget(Ctl, platform::WindowHandle window) {
    if (g_dropBound) return false;
    g_dropBound = platform::RegisterDropTarget(window);
    return g_dropBound;
}

// --- later work --------------------------------------------------------------------------
namespace {
// A timer per routine: its index in g_later is the timer's id.
unsigned LaterId(void (*routine)()) {
    for (unsigned i = 0; i < g_later.size(); ++i)
        if (g_later[i] == routine) return i;
    g_later.push_back(routine);
    return static_cast<unsigned>(g_later.size() - 1);
}
}  // namespace

void RunLater(void (*routine)(), std::uint32_t ms) { platform::StartTimer(LaterId(routine), ms); }
void CancelRunLater(void (*routine)()) { platform::StopTimer(LaterId(routine)); }

// --- menu items --------------------------------------------------------------------------
Text MenuCaption(Menu m) {
    std::lock_guard<platform::Mutex> lock(g_menuMutex);
    return g_menu[static_cast<int>(m)].caption;
}
void SetMenuCaption(Menu m, const Text& caption) {
    std::lock_guard<platform::Mutex> lock(g_menuMutex);
    g_menu[static_cast<int>(m)].caption = caption;
}
bool MenuDisabled(Menu m) {
    std::lock_guard<platform::Mutex> lock(g_menuMutex);
    return g_menu[static_cast<int>(m)].disabled;
}
void SetMenuDisabled(Menu m, bool disabled) {
    std::lock_guard<platform::Mutex> lock(g_menuMutex);
    g_menu[static_cast<int>(m)].disabled = disabled;
}

}  // namespace ui
