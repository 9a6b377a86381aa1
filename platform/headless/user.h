// The headless window's other side: tests act as the user here and read back what the user
// would see. Only tests include this header.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace headless {

using form::Ctl;
using form::Menu;

// The process ended through EndProgram; user actions after it do nothing.
bool Ended();
int ExitCode();

// Starts a program entry (it returns once the window is up; the test is the message loop).
// Resets every control, record and answer first.
int Launch(int (*entry)());

// --- acting as the user (each does nothing while the control is disabled or the window gone)
void Click(Ctl c);
void Type(Ctl c, const std::string& chars);  // key by key, through the input filter
void Paste(Ctl c, const std::string& text);  // unfiltered, appended
void ClearByKeyboard(Ctl c);                 // select all + Delete
void SelectItem(Ctl list, int index);
void DropFiles(const std::vector<std::string>& paths);
void TrayMouse(unsigned mouseMessage);
void RequestClose();  // close box, Alt+F4
void PressEsc();
void ClickStatusBar(int x, int y, int keys);
void TaskbarRecreated();
void Minimize();            // the title bar's minimise box
void AskEndSession();           // WM_QUERYENDSESSION
void EndSession(bool ending);  // WM_ENDSESSION after the session's end was asked
void Wake();                // the machine woke from sleep
void Idle(std::uint32_t ms);  // ms of the clock pass in the message loop: timers run when due,
                              // and the program's threads run to their end meanwhile
void StartAnotherCopy();    // the user starts this executable again while it runs
// Ctrl + `key` ('C', 'V') with the focus on `c`.
void PressControlKey(Ctl c, char key);
// The system's clipboard (it outlives Launch): text, or nullopt for none. What was written
// last: as CF_UNICODETEXT and as CF_TEXT.
void SetClipboard(std::optional<std::u16string> text);
std::optional<std::u16string> ClipboardUnicode();
std::string ClipboardAnsi();
// Another copy of the program in this folder (any ASCII case) already runs: a start there asks
// that copy to come back and ends. "": none (the starting state).
void OtherCopyRunsAt(const std::string& folder);
int CopiesAskedToComeBack();  // how many starts asked the other copy
// The next n attempts to add the notification icon fail, as before the shell is ready (also
// across Launch).
void FailTrayAdds(int n);
// Right-clicks the icon and picks `item` in the popup (nothing happens if it is greyed).
void ChooseFromTrayMenu(Menu item);

// --- scripted answers --------------------------------------------------------------------
// Native button ids (IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7) for the next message boxes; with no
// answer queued a box is answered IDOK. The hook, when set, runs while the box is up.
void AnswerMessageBoxes(const std::vector<int>& ids);
void WhileMessageBoxIsUp(std::function<void()> hook);
// The next file dialogs: a path confirms, nullopt cancels; with none queued, cancel.
void AnswerFileDialogs(const std::vector<std::optional<std::string>>& answers);
// The next popup picks this command (0: dismissed).
void AnswerPopup(int command);

// --- what the user sees ------------------------------------------------------------------
struct MessageBoxShown {
    std::string text, caption;
    unsigned style;
    platform::WindowHandle owner;
};
const std::vector<MessageBoxShown>& MessageBoxes();

struct TrayCall {
    platform::TrayOp op;
    platform::TrayRecord record;
};
const std::vector<TrayCall>& TrayCalls();
int LiveIcons();  // icon handles created and not yet destroyed

const std::vector<std::vector<platform::PopupEntry>>& Popups();
struct FileDialogShown {
    platform::FileDialogOptions options;
    std::string initialFile;  // the file name it opened with
};
const std::vector<FileDialogShown>& FileDialogs();
// The window changes since the last call, in order: "enable NAME", "disable NAME", "status N"
// (a status-bar panel's text), "tray" (a notification-icon call), "tray retries stopped".
std::vector<std::string> TakeJournal();
bool TopMost();
bool Minimized();
Ctl Focus();  // the control with the keyboard focus, Ctl::Count for none
int TopMostChanges();  // how many times always-on-top was written
struct Geometry { int left, top, width, height; };
Geometry WindowGeometry();  // on a 1024x768 screen
form::InputMode InputModeOf(Ctl c);

}  // namespace headless
