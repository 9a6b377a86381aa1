// Drives the real Skiplane.exe from outside, as a user and as a window inspector would: starts
// the process, finds its main window and controls by the ids of the window table, reads and
// changes them through window messages, answers message boxes and takes screenshots. Built
// with MinGW and run under Wine in the same prefix (and virtual desktop) as the program.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "form/window_table.h"

namespace e2e {

// Milliseconds from the performance counter, for timings and the benchmarks' figures.
double NowMs();

// Polls cond every 20 ms until it holds or timeoutMs passes; gives the last result.
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 10000);

// A real mouse click on window: the pointer moves there (absolute, 0..65535 of the screen, as a
// real mouse reports it), and presses once it is over the window. y: pixels below the window's
// top, or its middle when negative. False when the pointer never got over it.
bool MouseClick(HWND window, int y = -1);
// The window with the keyboard focus in the thread of the top-level window main.
HWND FocusOf(HWND main);

// File helpers for the test folders (paths and contents are bytes).
std::string MakeTempDir(const std::string& prefix);
void RemoveTree(const std::string& dir);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);

// Makes this process DPI aware, so that it measures in physical pixels as the program does at
// any scale, and gives the screen's DPI.
int ScreenDpi();

// A screenshot of the whole screen (the virtual desktop under Wine) as a 24-bit .bmp file.
bool SaveScreenshot(const std::string& bmpPath);

// A balloon the shell shows from a notification icon (under Wine, explorer's tooltip window).
struct Balloon {
    HWND hwnd = nullptr;
    std::string title, text;  // in code page 936, as the program wrote them
    int icon = -1;            // NIIF_NONE, NIIF_INFO, NIIF_WARNING or NIIF_ERROR; -1 unread
};
// The balloon on the screen, or the first to appear within timeoutMs; other than `shown`, so
// that a balloon that replaces another can be waited for. Nothing: no balloon within the time.
std::optional<Balloon> WaitForBalloon(DWORD timeoutMs, HWND shown = nullptr);

// Command line and paths of the test programs. Unix paths are reached through Wine's Z: drive.
std::string ToWindowsPath(std::string p);
// The value of --name=value among the program's arguments, or empty text.
std::string ArgValue(const char* name);
// --skiplane=<path of Skiplane.exe>, as a Windows path.
std::string SkiplanePath();
// --artifacts=<folder for screenshots> (default: e2e-artifacts in the current folder), created.
std::string ArtifactsDir();
// The lines joined, each ended by CR LF: a file as the profile functions write it.
std::string Lines(const std::vector<std::string>& lines);

// A message box (dialog class #32770) shown by the program.
struct MessageBoxInfo {
    HWND hwnd = nullptr;
    std::string caption;
    std::string text;
    std::vector<int> buttons;  // ids of its push buttons (IDOK, IDYES, ...), in z-order
};

// The open-file dialog shown by the program: a #32770 window with a file-name field.
struct FileDialogInfo {
    HWND hwnd = nullptr;
    std::string caption;
    HWND fileName = nullptr;           // the edit the user types the file name into
    std::vector<std::string> filters;  // the descriptions in its file-type list
};

class App {
public:
    App() = default;
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // Starts exePath with workDir as its current directory and waits until its main window
    // exists with all its controls. False if the process does not start or no window appears.
    bool Start(const std::string& exePath, const std::string& workDir, int timeoutMs = 10000);
    DWORD Pid() const { return pi_.dwProcessId; }
    bool Running() const;
    // Waits for the process to end; gives its exit code, or STILL_ACTIVE on timeout.
    DWORD WaitExit(int timeoutMs = 10000);
    // Ends the process if it still runs (test cleanup).
    void Kill();

    HWND Main() const { return main_; }
    HWND Hwnd(form::Ctl c) const;

    // The main window.
    std::string Caption() const;
    RECT WindowRect() const;  // screen coordinates
    SIZE ClientSize() const;
    bool MainVisible() const;

    // Any control.
    std::string Text(form::Ctl c) const;
    bool Enabled(form::Ctl c) const;
    bool Visible(form::Ctl c) const;
    form::Rect RectInClient(form::Ctl c) const;  // relative to the main window's client area
    std::string ClassName(form::Ctl c) const;
    LONG Style(form::Ctl c) const;
    LONG ExStyle(form::Ctl c) const;
    LRESULT Send(form::Ctl c, UINT msg, WPARAM wp = 0, LPARAM lp = 0) const;
    // Sends a message whose lParam points to size bytes of data, which are copied into the
    // program's process for it and back (for messages Wine does not carry across).
    LRESULT SendWithData(form::Ctl c, UINT msg, WPARAM wp, void* data, size_t size) const;

    // Input. Posted, so that a handler that opens a modal box does not block the driver.
    bool Click(form::Ctl button) const;
    bool Type(form::Ctl edit, const std::string& chars) const;
    // Selects the whole text of the edit box and types over it; empty chars erases it with
    // Backspace. Typed characters pass the program's input filters like a user's keys.
    bool Retype(form::Ctl edit, const std::string& chars) const;
    bool PressKey(form::Ctl target, int vk) const;
    bool SelectListItem(form::Ctl list, int index) const;
    bool PostToMain(UINT msg, WPARAM wp, LPARAM lp) const;
    bool PostTray(UINT mouseMsg) const;
    bool PostMenuCommand(form::Menu item) const;
    bool Close() const;  // WM_CLOSE to the main window
    // A round trip through the program's message queue: true once everything posted before
    // has been handled (the queue is first in, first out).
    bool Sync(int timeoutMs = 10000) const;

    // Lists, combo box, check boxes.
    std::vector<std::string> ListItems(form::Ctl list) const;
    int ListSelection(form::Ctl list) const;
    int ListItemHeight(form::Ctl list) const;
    std::vector<std::string> ComboItems(form::Ctl combo) const;
    int ComboSelection(form::Ctl combo) const;
    std::string ComboText(form::Ctl combo) const;
    bool Checked(form::Ctl box) const;

    // Status bar: panel right edges and texts, read through a buffer in the program's process.
    std::vector<int> StatusParts() const;
    std::string StatusText(int panel) const;

    // The program's open popup menu window (class #32768), or null.
    HWND PopupMenuWindow() const;

    // Message boxes of the program's process that are visible now.
    std::vector<MessageBoxInfo> MessageBoxes() const;
    // Waits for exactly one such box.
    bool WaitMessageBox(MessageBoxInfo* out, int timeoutMs = 10000) const;
    static bool PressMessageBoxButton(const MessageBoxInfo& box, int id);

    // The program's visible open-file dialog; waits for it to appear.
    bool WaitFileDialog(FileDialogInfo* out, int timeoutMs = 10000) const;
    // The text of the dialog's file-name field.
    static std::string FileDialogName(const FileDialogInfo& dialog);
    // Puts the path into the file-name field and presses Open, or presses Cancel.
    static bool ChooseInFileDialog(const FileDialogInfo& dialog, const std::string& path);
    static bool CancelFileDialog(const FileDialogInfo& dialog);

private:
    HWND FindMain() const;

    PROCESS_INFORMATION pi_{};
    HWND main_ = nullptr;
};

// Makes the program believe that one of the machine's IP addresses came or went: posts its
// window the message its own address watch posts on a change (Wine reports none). What follows
// is the program's real path; App::Sync tells when the message has been handled.
bool PostAddressChange(const App& app);

}  // namespace e2e
