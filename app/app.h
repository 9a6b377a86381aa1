// The application: its state and the routines the event table binds. Everything here runs on
// the window thread unless a routine says otherwise.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/handles.h"
#include "services/text.h"
#include "ui/controls.h"

namespace app {

using sk::Text;

// Application state (set on the window thread).
extern Text VersionText;    // SKIPLANE_VERSION
extern Text VersionNumber;  // SKIPLANE_VERSION_NUMBER, compared as an integer by the update check
extern Text ClientDirectory;  // the client path up to and including its last backslash
extern Text ClientExeName;    // the client's file name
extern platform::OwnedThread UpdateThread;  // the last update check's thread

// The home page and the update check's version file: the build settings' addresses
// (build_settings.cpp.in), and the home page's host, which the about box names.
extern Text HomePageUrl;
extern Text VersionFileUrl;
extern const Text HomePageHost;

// Process entry: runtime, exit routine, window, message loop.
int Main();

// Start-up and exit.
void OnWindowCreated();
void ExitProgram();
// The session's end is asked: from here on nothing new starts, and whether the client runs is
// recorded, as the session may end console programs before it goes ahead.
void OnSessionEndAsked();
// The session ends: what 退出 records, with the running state recorded at the question,
// without a message box, which would hold the end up. The session removes the window and icon.
void OnSessionEnding();
// The end was refused: things may start again, and the window shows the client as it is.
void OnSessionEndCancelled();
// From the session's end being asked until it is refused (or for good): nothing that could
// start something (a restart, a check, a balloon, a retry) may start.
bool SessionEnding();
[[noreturn]] void EndProgram(int exitCode);

// Node list.
void LoadSelectedNode();
void SaveSettings();
void NewNode();
void DeleteNode();
void ToggleKeyVisible();
void UpdateSendWindow();
void UpdateReceiveWindow();
void BrowseForClient();
void OnClientDropped(const Text& paths);
void SetClientPath();
// Dropped .json files are imported as nodes, one by one; false when none of them is one.
bool ImportDroppedConfigs(const Text& paths);
// Ctrl+V and Ctrl+C in the list: a node from and to the clipboard as the client's JSON config.
void PasteNode();
void CopyNode();
// Splits a client path at its last backslash into ClientDirectory and ClientExeName.
void SplitClientPath(const Text& path);

// Notification icon and window visibility.
void OnTrayEvent(ui::TrayKind kind);
bool OnCloseQuery();
void ShowMainWindow();
void SetStoppedTrayIcon();

// The client.
void StartAcceleration();  // by the user: the button or the menu
// Enable=true at start-up: the network may not be up yet, so the server gets more patience.
void StartAccelerationOnItsOwn();
void StopAcceleration();
void OnResumed();
// Ends the client's tree of processes that the last start made, and it alone, without a word
// (no watch fires). False when nothing of it ran.
bool EndClient();
// Ends the client and starts it again with the same command line, once the old one has ended
// (5 s at most); the window stays in the running state. Nothing happens while the client is
// stopped or the session ends; a request while a restart runs is part of it.
void RestartClient();
// After a refused end of the session: the stopped state if the client ended meanwhile.
void ShowClientAsItIs();
// Why the client ended, from its log: an explaining line where the client's line has a known
// form, then "客户端输出：" and that line, joined with CR LF. anyLine: a line holding none of the
// error words still counts, the last one (a failed start); otherwise there is no reason then (a
// killed client's last line is an ordinary log line).
Text ClientEndReason(const Text& logPath, bool anyLine);

// Whether the server answers, asked after each start and every minute while the client runs.
// The node's values the asking frames from, taken at a start and kept for its restarts.
void CaptureServerTarget(const Text& server, const Text& port, const Text& key, const Text& other);
// The client passed its start check: ask now, then every minute. patient: two failed rounds in
// a row before the no-answer balloon, rather than one (a start on its own, a restart).
void BeginServerWatch(bool patient);
// The client stopped, ended or restarts: no more asking, and the round under way stops.
void EndServerWatch();

// Log, about, autostart and update check.
void OpenLogFile();
void ShowAbout();
void OpenHomePage();
void OnAutostartClicked();
void OnCheckVersionClicked();
// A check by hand also says when no newer version exists.
enum UpdateCheck : int { kCheckAtStartUp = 0, kCheckByHand = 1 };
void StartUpdateCheck(UpdateCheck kind);

// The event table: which routine handles which event of which object.
const std::vector<ui::Binding>& EventTable();

}  // namespace app
