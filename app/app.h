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
// The session ends: what 退出 does, without a message box, which would hold the end up.
void OnSessionEnding();
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
void StartAcceleration();
void StopAcceleration();
void OnResumed();
// Ends the running client without a word (no watch fires); false when none of its name runs.
bool EndClient();
// The first process whose file name matches, ASCII case aside, or 0.
std::uint32_t FindProcessIdByName(const Text& name);
bool TerminateProcessById(std::uint32_t processId);

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
