// The control model: named properties, control commands and events of the main window, its
// controls and the popup-menu items. The application never touches native controls; it reads
// and writes these properties and is called back through the event table it hands to Run().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "form/window_table.h"
#include "platform/handles.h"
#include "services/text.h"

namespace ui {

// The window table's names (Ctl, Menu, InputMode, ...) are the model's own.
using namespace form;
using sk::Text;

// --- events ------------------------------------------------------------------------------
enum class Event {
    Created,          // main window: creation complete
    CloseQuery,       // main window: handler result false refuses the close
    Tray,             // main window: EventArgs::tray
    LeftButtonDown,   // 状态条_状态: x, y, key state
    FileReceived,     // 拖放对象_目录: text
    ItemSelected,     // 列表框_列表, by the user only
    Click,            // buttons and check boxes, by the user only
    ContentChanged,   // edit boxes: typing, pasting or a content write
    Chosen,           // a popup-menu item
    SessionEndAsked,  // main window: log-off or shut-down is asked; another program may refuse
    SessionEnding,    // main window: log-off or shut-down goes ahead (follows SessionEndAsked)
    SessionEndCancelled,  // main window: it was refused after all (follows SessionEnding)
    Resumed,          // main window: the machine woke from sleep
    AnotherCopyStarted,  // main window: this executable was started again
    CopyKey,          // 列表框_列表: Ctrl+C
    PasteKey,         // 列表框_列表: Ctrl+V
};

// The notification icon's mouse actions the program answers.
enum class TrayKind { None, Click, DoubleClick, Menu };  // left up, left double, right up / menu

struct EventArgs {
    TrayKind tray = TrayKind::None;
    int x = 0, y = 0, keys = 0;  // LeftButtonDown
    std::string text;  // FileReceived
};

// One row of the application's event table. Control events name `control`, menu events `menu`.
using Handler = bool (*)(const EventArgs&);  // the result matters for CloseQuery only
struct Binding {
    Event event;
    Ctl control;
    Menu menu;
    Handler handler;
};

// Builds the window from the table and raises Created. False when it cannot be made.
bool Open(const std::vector<Binding>& eventTable);
// Open, then the message loop until the program ends; a window that cannot be made ends the
// program through the runtime error report.
int Run(const std::vector<Binding>& eventTable);
// One copy per folder: false when a copy from this same folder already runs (it is asked to
// bring its window back).
bool ClaimOnlyCopy(const Text& folder);
// The window (and with it the notification icon), then the process.
[[noreturn]] void EndProgram(int exitCode);

// --- main window -------------------------------------------------------------------------
bool WindowVisible();
void SetWindowVisible(bool visible);
Text WindowCaption();
void SetWindowCaption(const Text& caption);
sk::Bytes WindowIcon();
void SetAlwaysOnTop(bool onTop);
bool WindowMinimized();
void MinimizeWindow();
// Shown, restored if minimised, in front.
void BringWindowBack();
bool HasFocus(Ctl c);
void SetFocus(Ctl c);

// --- controls ----------------------------------------------------------------------------
// Edit box content; a write raises ContentChanged exactly once, after the text is in place.
Text Content(Ctl c);  // for the combo box: the selected item's text
void SetContent(Ctl c, const Text& text);
void SetInputMode(Ctl c, InputMode mode);
bool Disabled(Ctl c);
void SetDisabled(Ctl c, bool disabled);
int Selection(Ctl c);               // list or combo box, -1 for none
void SetSelection(Ctl c, int index);  // clamped; raises no event
bool Checked(Ctl c);
void SetChecked(Ctl c, bool checked);  // raises no event
Text DialogFileName(Ctl dialog);

// --- control commands --------------------------------------------------------------------
platform::WindowHandle GetWindowHandle();
bool FileDialogOpen(Ctl dialog);
int ListItemCount(Ctl list);
int ListAddItem(Ctl list, const Text& text, int value = 0);
bool ListSetItemText(Ctl list, int index, const Text& text);
bool ListDeleteItem(Ctl list, int index);
Text ListItemText(Ctl list, int index);
void StatusBarSetText(int panel, const Text& text = {});
Text StatusBarText(int panel);

// The window's notification icon: a complete icon file (empty removes the icon) and a tip.
void SetTrayIcon(const sk::Bytes& icon, sk::Opt<Text> tip = {});
// Whether the shell shows the icon (it may refuse one before it is ready; it is tried again).
bool TrayIconShown();
void StopTrayRetries();  // an icon not yet added is tried no more (the session ends)
// A balloon from the icon, titled "Skiplane", its text cut to 255 bytes on a character's
// boundary, with the warning icon or the info icon; nothing where the icon is not shown.
void ShowTrayBalloon(const Text& text, bool warning);
// Pops up 托盘菜单 at the cursor, built afresh from the items' current properties.
void PopupMenu();
bool RegisterDropTarget(Ctl dropTarget, platform::WindowHandle window);

// --- later work --------------------------------------------------------------------------
// Runs routine once on the window thread, from the message loop, ms from now; asking again
// before it ran starts the wait over. Cancelled, it does not run.
void RunLater(void (*routine)(), std::uint32_t ms);
void CancelRunLater(void (*routine)());

// --- menu items --------------------------------------------------------------------------
Text MenuCaption(Menu m);
void SetMenuCaption(Menu m, const Text& caption);
bool MenuDisabled(Menu m);
void SetMenuDisabled(Menu m, bool disabled);

}  // namespace ui
