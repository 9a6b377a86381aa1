// Start-up, the creation handler and the one way out (退出).

#include <optional>

#include "app/app.h"
#include "app/config.h"
#include "version.h"
#include "services/http.h"
#include "services/runtime.h"
#include "services/storage.h"
#include "services/windows_functions.h"

namespace app {

using ui::Ctl;
using ui::Menu;

Text VersionText;
Text VersionNumber;
Text ClientDirectory;
Text ClientExeName;
platform::OwnedThread UpdateThread;

namespace {
bool g_sessionEnding = false;
bool g_runningAtQuestion = false;  // the client ran when the session's end was asked

void ReleaseState() {
    ClientDirectory.clear();
    ClientExeName.clear();
    VersionText.clear();
    VersionNumber.clear();
}
}  // namespace

int Main() {
    sk::InitRunDirectory();
    // A second start in this same folder brings the running copy back; two copies would
    // overwrite each other's node list.
    if (!ui::ClaimOnlyCopy(sk::GetRunDirectory()))
        return 0;
    sk::RegisterExitRoutine(ReleaseState);
    g_sessionEnding = false;
    return ui::Run(EventTable());
}

void OnWindowCreated() {
    // What a killed save left complete beside config.ini goes in first.
    sk::RecoverFileContents(ConfigPath());
    const ConfigReadOnce readOnce;  // a thousand nodes are three thousand values
    VersionText = Text(SKIPLANE_VERSION);
    VersionNumber = Text(SKIPLANE_VERSION_NUMBER);
    ui::SetWindowCaption(sk::JoinText("Skiplane   Ver", VersionText));
    ui::StatusBarSetText(0, sk::JoinText("当前版本：Ver", VersionText));
    ui::RegisterDropTarget(Ctl::拖放对象_目录, ui::GetWindowHandle());

    ui::SetContent(Ctl::编辑框_目录, ReadConfig("BasisConfig", "ExeFile"));
    const Text clientPath = ui::Content(Ctl::编辑框_目录);
    if (sk::FileExists(clientPath)) {
        SplitClientPath(clientPath);
    } else {
        ui::SetContent(Ctl::编辑框_目录, "");
        ClientDirectory.clear();
        ClientExeName.clear();
    }
    ui::SetMenuDisabled(Menu::打开日志, false);
    ui::SetChecked(Ctl::选择框_开机启动, ReadConfig("BasisConfig", "Run", Text("false")) == "true");

    // UP and DOWN first: their change events compute the windows, which the stored windows
    // then overwrite.
    ui::SetContent(Ctl::编辑框_上传宽带, ReadConfig("BroadbandConfig", "UP"));
    ui::SetContent(Ctl::编辑框_下载宽带, ReadConfig("BroadbandConfig", "DOWN"));
    ui::SetContent(Ctl::编辑框_mtu, ReadConfig("BroadbandConfig", "Mtu", Text("1400")));
    ui::SetContent(Ctl::编辑框_sndwnd, ReadConfig("BroadbandConfig", "Sndwnd"));
    ui::SetContent(Ctl::编辑框_rcvwnd, ReadConfig("BroadbandConfig", "Rcvwnd"));

    // A corrupt Quantity is cut by the node sections in the file: it would otherwise list blank
    // nodes by the thousand, or the billion.
    const int count = ListedNodeCount(sk::ToInteger(ReadConfig("NodeList", "Quantity")));
    if (count > 0) {
        for (int p = 0; p < count; ++p) {
            const Text section = NodeSection(p);
            const Text remarks = ReadConfig(section, "remarks");
            const Text port = ReadConfig(section, "server_port");
            const Text server = ReadConfig(section, "server");
            ui::ListAddItem(Ctl::列表框_列表, NodeListText(remarks, server, port));
        }
        int current = sk::ToInteger(ReadConfig("NodeList", "Current node", Text("0")));
        if (current < 0) current = 0;
        ui::SetSelection(Ctl::列表框_列表, current);
        LoadSelectedNode();
        if (ReadConfig("BasisConfig", "Enable", Text("false")) == "true")
            StartAccelerationOnItsOwn();
    }

    // An automatic start above has already put up the icon with the running tip.
    if (!ui::Disabled(Ctl::按钮_启动)) SetStoppedTrayIcon();
    StartUpdateCheck(kCheckAtStartUp);
}

namespace {
void Quit(bool atSessionEnd) {
    const bool running = g_sessionEnding ? g_runningAtQuestion : ui::Disabled(Ctl::按钮_启动);
    if (running && !atSessionEnd) {
        StopAcceleration();
    } else {
        EndClient();  // what a start left, or a client the session has not ended yet
    }
    {
        std::optional<ConfigFailuresUnshown> quiet;  // nobody is left at the session's end
        if (atSessionEnd) quiet.emplace();
        const ConfigEnding ending;  // a save waiting below lands with these, at once
        const ConfigWritesTogether together;  // what a quit records lands in one replace
        WriteConfig("BasisConfig", "Enable", running ? "true" : "false");
        WriteConfig("NodeList", "Current node", sk::ToText(ui::Selection(Ctl::列表框_列表)));
        SaveSettings();
    }
    if (!atSessionEnd) EndProgram(0);
    // The session is over: a save waiting below writes nothing more, and the icon's retries end.
    sk::StopReplacements();
    ui::StopTrayRetries();
}
}  // namespace

void ExitProgram() { Quit(false); }

void OnSessionEndAsked() {
    g_sessionEnding = true;
    g_runningAtQuestion = ui::Disabled(Ctl::按钮_启动);
}

void OnSessionEnding() { Quit(true); }

void OnSessionEndCancelled() {
    g_sessionEnding = false;
    g_runningAtQuestion = false;
    ShowClientAsItIs();
}

bool SessionEnding() { return g_sessionEnding; }

// The normal end: the exit routines, then what the program holds of the system (the internet
// handle, the libraries of the functions bound by name), the window and its icon last.
void EndProgram(int exitCode) {
    sk::RunExitRoutines();
    sk::CloseInternetHandle();
    sk::ReleaseWindowsFunctions();
    ui::EndProgram(exitCode);
}

void SplitClientPath(const Text& path) {
    const int p = sk::FindTextReverse(path, "\\");
    ClientExeName = sk::TextRight(path, sk::TextLength(path) - p);
    ClientDirectory = sk::TextLeft(path, p);
}

}  // namespace app
