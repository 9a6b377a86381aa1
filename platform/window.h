// The user-interface half of the seam to the operating system: the main window built from
// form::kControls, raw control primitives, message boxes, the popup menu, the notification icon,
// the open-file dialog, drops and the UI thread. The control model (ui/controls.h) puts the
// program's semantics (events, clamping, suppression) on top; backends only carry them out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "form/window_table.h"
#include "platform/handles.h"

namespace platform {

using form::Ctl;

// What the backend reports from native messages. The control model installs these.
struct UiCallbacks {
    std::function<void()> created;                 // window and all controls exist
    std::function<bool()> closeQuery;              // false refuses the close
    std::function<void(Ctl)> clicked;              // button or check box (new state in place)
    std::function<void(Ctl)> textChanged;          // native change notification of an edit box
    std::function<void(Ctl)> itemSelected;         // the user selected a list item
    std::function<void(unsigned mouseMessage)> trayMessage;
    std::function<void(int command)> menuCommand;  // a popup item was chosen
    std::function<void(int x, int y, int keys)> statusBarButtonDown;
    std::function<void(const std::string& paths)> filesDropped;
    std::function<void()> taskbarCreated;          // the shell's taskbar was recreated
    // Log-off or shut-down: 0 asked (WM_QUERYENDSESSION), 1 goes ahead, 2 refused after all.
    std::function<void(int)> session;
    std::function<void()> resumed;                 // the machine woke from sleep
    std::function<void()> anotherCopyStarted;      // this executable was started again
    void (*controlKey)(Ctl, char) = nullptr;       // Ctrl+C or Ctrl+V ('C', 'V') in the list
    void (*timer)(unsigned id) = nullptr;          // a StartTimer's time has come
};

// One copy per folder, since config.ini belongs to it: false when a copy from this same folder
// (by its final path, ASCII case aside: under any exe name, an 8.3 path or a subst drive)
// already runs; that copy is then asked to bring its window back, and may take the foreground.
bool ClaimOnlyCopy(const std::string& folder);

// Builds the window from the table, centred on the screen, visible; then calls created().
// False when the window cannot be made.
bool CreateMainWindow(const UiCallbacks& callbacks);
// Runs the message loop until EndProgram; returns the exit code.
int RunMessageLoop();
// Dispatches every pending message once (a quit request stays queued).
void PumpMessages();
// Destroys the window (which removes its notification icon) and ends the process.
[[noreturn]] void EndProgram(int exitCode);
WindowHandle MainWindowHandle();

// Control primitives. Text of MainWindow is its caption.
std::string GetText(Ctl c);
void SetText(Ctl c, std::string_view text);  // may raise a native change notification
bool IsEnabled(Ctl c);
void SetEnabled(Ctl c, bool enabled);
bool IsWindowVisible();
void SetWindowVisible(bool visible);
bool IsWindowMinimized();
void MinimizeWindow();
// Shows the window, restored if it was minimised, and in front of the others.
void BringWindowBack();
bool HasKeyboardFocus(Ctl c);
void GiveKeyboardFocus(Ctl c);
void SetTopMost(bool topMost);
bool IsChecked(Ctl c);
void SetChecked(Ctl c, bool checked);
void SetInputMode(Ctl c, form::InputMode mode);
form::InputMode GetInputMode(Ctl c);
int GetSelection(Ctl c);                // -1 for none
void SetSelection(Ctl c, int index);    // already clamped by the model; -1 clears
int ItemCount(Ctl c);
int AddItem(Ctl c, std::string_view text, int value);  // new index or -1
bool DeleteItem(Ctl c, int index);
std::string ItemText(Ctl c, int index);
// Replaces an existing item's text, keeping its value, the selection, first visible and focus item.
void ReplaceItemText(Ctl c, int index, std::string_view text);
std::string StatusText(int panel);
void SetStatusText(int panel, std::string_view text);
ByteVector WindowIcon();  // the window's icon as a complete icon file

// Open-file dialog; path in: the file name shown, out: the confirmed choice.
struct FileDialogOptions {
    std::string title, filter /* "desc|pattern||" */, initialDir, defaultExt;
    int filterIndex;  // 1-based
};
bool OpenFileDialog(const FileDialogOptions& options, std::string& path);

// Native message box (MessageBoxA style bits); returns the native button id (IDOK 1 ...).
int MessageBox(std::string_view text, std::string_view caption, unsigned style,
               WindowHandle owner);

// Notification icon: the first-version ANSI record of Shell_NotifyIconA.
struct TrayRecord {
    std::uint32_t size = 88;
    WindowHandle window{};
    std::uint32_t id = 0;
    std::uint32_t flags = 0;
    std::uint32_t callbackMessage = 0;
    IconHandle icon{};
    char tip[64] = {};
};
enum class TrayOp { Add = 0, Modify = 1, Delete = 2 };
// Which fields of the record are valid (NIF_MESSAGE, NIF_ICON, NIF_TIP).
constexpr std::uint32_t kTrayHasMessage = 1, kTrayHasIcon = 2, kTrayHasTip = 4;
// An icon that cannot be added (the shell is not ready yet at log-on) is added again every 2 s
// for 2 minutes, with the latest record; TrayIconShown tells whether the shell has it.
void NotifyIcon(TrayOp op, const TrayRecord& record);
bool TrayIconShown();
void StopTrayRetries();  // no more tries to add an icon the shell refused
// A balloon from the icon: one NIM_MODIFY of NIF_INFO alone, in the version-2 record's size.
// Dropped, never kept for later, where the shell does not show the icon. text: at most 255 bytes.
enum class BalloonIcon { Info = 1, Warning = 2 };  // NIIF_INFO, NIIF_WARNING
void ShowTrayBalloon(const std::string& title, const std::string& text, BalloonIcon icon);
IconHandle CreateIconFromBytes(const ByteVector& iconFile);  // none when undecodable
void DestroyIconHandle(IconHandle icon);

// Popup menu at the cursor: foreground first, right edge and top 5 pixels from the cursor,
// WM_NULL afterwards. A chosen entry arrives as UiCallbacks::menuCommand.
struct PopupEntry {
    int command;
    std::string caption;
    bool separator, disabled, checked;
};
void ShowPopupMenu(const std::vector<PopupEntry>& entries);

// Files dropped on the main window arrive as UiCallbacks::filesDropped.
bool RegisterDropTarget(WindowHandle window);

// One-shot timers of the window thread: ms after the start, UiCallbacks::timer(id) runs from
// the message loop (a Delay's included). Starting a started timer starts its wait over.
void StartTimer(unsigned id, std::uint32_t ms);
void StopTimer(unsigned id);

// The window thread. Work from another thread runs there while the caller waits.
bool IsUiThread();
void RunOnUiThread(const std::function<void()>& work);

}  // namespace platform
