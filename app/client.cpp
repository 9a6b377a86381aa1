// The kcptun client: start it for the node on screen, watch it, stop it. The client is the
// process of its file name inside the tree of processes this copy started: another folder's
// client of the same name is never touched. The running state is the start button's disabled
// state.
#include <algorithm>
#include <cstring>

#include "app/app.h"
#include "platform/codepage.h"
#include "platform/network.h"
#include "platform/programs.h"
#include "services/process.h"
#include "services/runtime.h"
#include "services/storage.h"
#include "services/windows_functions.h"

namespace app {

using ui::Ctl;
using ui::Menu;

namespace {

constexpr std::uint32_t kSnapProcess = 2;  // TH32CS_SNAPPROCESS
constexpr int kSwHide = 0;
constexpr int kStartCheckMs = 2000;
constexpr std::uint32_t kOldClientEndMs = 5000;
// After an address comes or goes: the network settles first, and restarts come 10 s apart.
constexpr std::uint32_t kAddressQuietMs = 3000, kRestartGapMs = 10000;

// The command line of the client started last, its file name and its log then, for the restart
// after the machine wakes, the stop after the path was changed and the reason of a failed start.
Text g_commandLine;
Text g_clientName;
Text g_logPath;
platform::OwnedJob g_tree;  // the processes the last start made; closing it ends them
unsigned g_runs = 0;        // each start and each end of the tree counts one
bool g_restarting = false;
bool g_checking = false;  // a start check is waiting
bool g_restartedYet = false;
std::uint32_t g_lastRestart = 0;  // when the last restart (waking, addresses) began

bool Running() { return ui::Disabled(Ctl::按钮_启动); }

bool TreeRuns() { return g_tree && platform::JobProcesses(g_tree.get()).listed != 0; }

// The first process of the tree whose file name is the client's, ASCII case aside, or 0.
std::uint32_t FindClient() {
    if (!g_tree) return 0;
    const platform::JobProcessList tree = platform::JobProcesses(g_tree.get());
    if (tree.listed == 0) return 0;
    const sk::win::Handle handle = sk::win::CreateToolhelp32Snapshot(kSnapProcess, 0);
    if (handle == sk::win::kInvalidHandle || !platform::IsSet(handle)) return 0;
    const sk::win::OwnedHandle snapshot(handle);
    const Text wanted = sk::ToLower(g_clientName);
    platform::ProcessEntry entry;
    for (bool ok = sk::win::Process32First(snapshot.get(), entry); ok;
         ok = sk::win::Process32Next(snapshot.get(), entry)) {
        const Text exeName(entry.exeFile, strnlen(entry.exeFile, sizeof entry.exeFile));
        if (sk::ToLower(exeName) == wanted &&
            std::find(tree.ids, tree.ids + tree.listed, entry.processId) != tree.ids + tree.listed)
            return entry.processId;
    }
    return 0;
}

void StartTree() {
    ++g_runs;
    g_tree.reset(platform::StartProgramInJob(g_commandLine, kSwHide));
}

void SetRunningButtons(bool running) {
    // A click focuses the button, and the click disables it: the focus goes on to the button
    // that takes over, or Esc and Tab would do nothing until the next click.
    const Ctl leaving = running ? Ctl::按钮_启动 : Ctl::按钮_停止;
    const bool hadFocus = ui::HasFocus(leaving);
    ui::SetDisabled(Ctl::按钮_启动, running);
    ui::SetDisabled(Ctl::按钮_停止, !running);
    ui::SetMenuDisabled(Menu::启动, running);
    ui::SetMenuDisabled(Menu::停止, !running);
    if (hadFocus) ui::SetFocus(running ? Ctl::按钮_停止 : Ctl::按钮_启动);
}

void EnterRunningState() {
    ui::SetTrayIcon(ui::WindowIcon(), sk::JoinText(ui::WindowCaption(), "\r\n状态：正在运行！"));
    ui::StatusBarSetText(1, "状态：正在运行！");
    SetRunningButtons(true);
}

void EnterStoppedState() {
    EndServerWatch();
    SetRunningButtons(false);
    SetStoppedTrayIcon();
    ui::StatusBarSetText(1, "状态：未启动！");
}

// The client ended by itself: the stopped state, and a balloon saying so with the reason its log
// gives, where one of its lines holds an error (a killed client's last line is no reason).
void ShowClientDied() {
    EnterStoppedState();
    const Text reason = ClientEndReason(g_logPath, false);
    ui::ShowTrayBalloon(sk::JoinText("KCPTun 已意外退出。", reason.empty() ? "" : "\r\n", reason),
                        true);
}

// The client ended by itself while the window showed it running. While the session ends the
// window keeps what was recorded; a refused end brings it up to date.
void OnClientEnded() {
    if (!SessionEnding()) ShowClientDied();
}

void WatchAddresses();

// Two seconds after a start: the client runs and is watched, and its server asked, or the start
// failed and nothing of it runs on unseen. A failed restart (waking) says so in a balloon:
// nobody may be at the screen for a box. A start by the user expects the server to answer at
// once; one on its own or a restart gives the network time.
void CheckStartedClient(bool restart, bool patient) {
    const unsigned run = g_runs;
    g_checking = true;
    sk::Delay(kStartCheckMs);
    g_checking = false;
    // A stop, quit or restart during the wait has already taken over.
    if (run != g_runs) return;
    const std::uint32_t client = FindClient();
    if (client != 0 && sk::WatchProcessExit(client, OnClientEnded)) {
        ui::RunLater(WatchAddresses, 0);  // not inside the start's handler
        return BeginServerWatch(patient);
    }
    EndClient();
    if (client != 0) return ShowClientDied();  // it ended between the check and the watch
    const Text reason = ClientEndReason(g_logPath, true);
    if (restart) {
        EnterStoppedState();
        ui::ShowTrayBalloon(sk::JoinText("KCPTun 重新启动失败。\r\n", reason),
                            true);
        return;
    }
    sk::ShowMessageBox(sk::JoinText("KCPTun 启动失败！\r\n", reason));
    EnterStoppedState();
}

// The kcptun client keeps a dead session for 30 to 60 s before it dials again: after the
// machine's addresses change (a new network, a VPN, a lease), a fresh client is at work sooner.
// The change waits until the addresses have been quiet for a while, and comes at most once in
// the gap since the last restart, waking's included. Changes during a check or a restart are
// part of them.
void RestartAfterAddressChange() {
    if (!Running() || SessionEnding()) return;
    const std::uint32_t since = platform::TickCount() - g_lastRestart;
    if (g_restartedYet && since < kRestartGapMs)
        return ui::RunLater(RestartAfterAddressChange, kRestartGapMs - since);
    RestartClient();
}

void OnAddressChanged() {
    if (!Running() || g_checking || g_restarting || SessionEnding()) return;
    ui::RunLater(RestartAfterAddressChange, kAddressQuietMs);  // each change starts the wait over
}

void WatchAddresses() { platform::WatchAddressChanges(OnAddressChanged); }

// Everything the command line is made of, read from the window at the moment of the start.
struct ClientFields {
    Text path, server, serverPort, localPort, mode, mtu, rcvwnd, sndwnd, key, dscp, other;
    int modeIndex;
};

ClientFields ReadClientFields() {
    return {ui::Content(Ctl::编辑框_目录),    ui::Content(Ctl::编辑框_加速IP),
            ui::Content(Ctl::编辑框_加速端口), ui::Content(Ctl::编辑框_本地端口),
            ui::Content(Ctl::组合框_加速模式), ui::Content(Ctl::编辑框_mtu),
            ui::Content(Ctl::编辑框_rcvwnd),   ui::Content(Ctl::编辑框_sndwnd),
            ui::Content(Ctl::编辑框_验证密匙), ui::Content(Ctl::编辑框_dscp),
            ui::Content(Ctl::编辑框_其他参数), ui::Selection(Ctl::组合框_加速模式)};
}

// The first failed check's message, or null. Only emptiness is checked, and the file's presence.
const char* MissingField(const ClientFields& f) {
    const struct {
        bool failed;
        const char* message;
    } checks[] = {
        {f.path.empty(), "请填写 KCP Tun文件目录！"},
        {!sk::FileExists(f.path), "请填写 KcpTun客户端文件目录！"},
        {f.server.empty(), "请填写 加速IP！"},
        {f.serverPort.empty(), "请填写 加速端口！"},
        {f.localPort.empty(), "请填写 本地端口！"},
        {f.modeIndex < 0, "请选择 加速模式！"},
        {f.mtu.empty(), "请填写 MTU！"},
        {f.rcvwnd.empty(), "请填写 Rcvwnd！"},
        {f.sndwnd.empty(), "请填写 Sndwnd！"},
    };
    for (const auto& c : checks)
        if (c.failed) return c.message;
    return nullptr;
}

// Whether the text holds one of cmd's command characters & | < > ^ as a character of its own.
// cmd reads the line as characters: the second byte of a double-byte character (東 is 96 7C,
// 區 85 5E) is half of that character, never a '|' or '^'.
bool HasShellCharacter(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (platform::IsGbkLeadByte(text[i])) {
            ++i;
            continue;
        }
        if (std::string_view("&|<>^").find(text[i]) != std::string_view::npos) return true;
    }
    return false;
}

// The command line runs through cmd, where these characters would start commands of their own.
// The name of the first field that holds one, or null.
const char* FieldWithShellCharacter(const ClientFields& f) {
    const struct {
        const Text& value;
        const char* name;
    } fields[] = {
        {f.path, "KCP Tun文件目录"}, {f.localPort, "本地端口"}, {f.server, "加速IP"},
        {f.serverPort, "加速端口"},   {f.key, "验证密匙"},      {f.mtu, "MTU"},
        {f.sndwnd, "Sndwnd"},         {f.rcvwnd, "Rcvwnd"},     {f.dscp, "DSCP"},
        {f.other, "其他参数"},
    };
    for (const auto& field : fields)
        if (HasShellCharacter(field.value)) return field.name;
    return nullptr;
}

// Values go in as typed: no quoting, trimming or escaping.
Text ClientCommandLine(const ClientFields& f) {
    const Text key = f.key.empty() ? Text() : sk::JoinText(" -key ", f.key);
    const Text dscp = f.dscp.empty() ? Text() : sk::JoinText(" -dscp ", f.dscp);
    return sk::JoinText("cmd /c cmd /c \"", f.path, "\" -l :", f.localPort, " -r ", f.server, ":",
                        f.serverPort, key, " -mtu ", f.mtu, " -sndwnd ", f.sndwnd, " -rcvwnd ",
                        f.rcvwnd, " -mode ", f.mode, dscp, " ", f.other, " > \"", ClientDirectory,
                        "kcptun.log\" 2>&1");
}

void StartClient(bool onItsOwn) {
    const ClientFields fields = ReadClientFields();
    if (const char* message = MissingField(fields)) {
        sk::ShowMessageBox(message);
        return;
    }
    if (const char* name = FieldWithShellCharacter(fields)) {
        sk::ShowMessageBox(sk::JoinText(name, " 中不能含有 & | < > ^ 字符！"));
        return;
    }
    g_commandLine = ClientCommandLine(fields);
    g_clientName = ClientExeName;
    g_logPath = sk::JoinText(ClientDirectory, "kcptun.log");
    CaptureServerTarget(fields.server, fields.serverPort, fields.key, fields.other);
    StartTree();
    EnterRunningState();
    CheckStartedClient(false, onItsOwn);
}

}  // namespace

void StartAcceleration() { StartClient(false); }
void StartAccelerationOnItsOwn() { StartClient(true); }

void StopAcceleration() {
    if (!EndClient()) sk::ShowMessageBox("KCPTun进程似乎不存在！");
    EnterStoppedState();
}

// After sleep the client's session is dead, and stays so for its keepalive or longer: the same
// command line starts a fresh one.
void OnResumed() { RestartClient(); }

void RestartClient() {
    if (!Running() || g_restarting || SessionEnding()) return;
    g_restarting = true;
    g_restartedYet = true;
    g_lastRestart = platform::TickCount();
    ui::CancelRunLater(RestartAfterAddressChange);  // this restart is the one it waited for
    EndClient();
    const unsigned run = g_runs;
    // The new client would fail on the port the old one still holds.
    const std::uint32_t start = platform::TickCount();
    while (run == g_runs && TreeRuns() && platform::TickCount() - start < kOldClientEndMs)
        sk::Delay(50);
    if (run == g_runs && !SessionEnding()) {  // no stop, quit or session end meanwhile
        StartTree();
        CheckStartedClient(true, true);
    }
    g_restarting = false;
}

bool EndClient() {
    ++g_runs;
    EndServerWatch();
    sk::StopWatchingProcess();  // the end we cause is no news
    const bool ran = TreeRuns();
    if (g_tree) platform::EndJob(g_tree.get());
    return ran;
}

void ShowClientAsItIs() {
    if (Running() && FindClient() == 0) {
        sk::StopWatchingProcess();
        EnterStoppedState();
    }
}

}  // namespace app
