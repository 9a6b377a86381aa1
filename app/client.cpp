// The kcptun client: start it for the node on screen, watch it, stop it. The client is known by
// its file name only; the running state is the start button's disabled state.
#include <cstring>

#include "app/app.h"
#include "platform/codepage.h"
#include "services/process.h"
#include "services/runtime.h"
#include "services/storage.h"
#include "services/windows_functions.h"

namespace app {

using ui::Ctl;
using ui::Menu;

namespace {

constexpr std::uint32_t kSnapProcess = 2;     // TH32CS_SNAPPROCESS
constexpr std::uint32_t kProcessTerminate = 1;  // PROCESS_TERMINATE
constexpr int kHidden = 1;
constexpr int kStartCheckMs = 2000;

// The command line of the client started last, for its restart after the machine wakes, and
// the log it writes to.
Text g_commandLine;
Text g_logPath;

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
    SetRunningButtons(false);
    SetStoppedTrayIcon();
    ui::StatusBarSetText(1, "状态：未启动！");
}

// The client ended by itself while the window showed it running.
void OnClientEnded() { EnterStoppedState(); }

// Two seconds after a start: the client runs and is watched, or the start failed.
void CheckStartedClient() {
    sk::Delay(kStartCheckMs);
    // A stop during the wait has already put the window back: nothing to check or watch.
    if (!ui::Disabled(Ctl::按钮_启动)) return;
    const std::uint32_t client = FindProcessIdByName(ClientExeName);
    if (client == 0) {
        sk::ShowMessageBox(sk::JoinText("KCPTun 启动失败！\r\n", ClientEndReason(g_logPath, true)));
        EnterStoppedState();
        return;
    }
    if (sk::WatchProcessExit(client, OnClientEnded)) return;
    // It ended between the check and the watch; one of that name may still run.
    const std::uint32_t again = FindProcessIdByName(ClientExeName);
    if (again == 0 || !sk::WatchProcessExit(again, OnClientEnded)) EnterStoppedState();
}

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

}  // namespace

void StartAcceleration() {
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
    g_logPath = sk::JoinText(ClientDirectory, "kcptun.log");
    sk::RunProgram(g_commandLine, false, kHidden);
    EnterRunningState();
    CheckStartedClient();
}

void StopAcceleration() {
    if (!EndClient()) sk::ShowMessageBox("KCPTun进程似乎不存在！");
    EnterStoppedState();
}

// After sleep the client's session is dead, and stays so for its keepalive or longer: the same
// command line starts a fresh one. The window stays in the running state throughout.
void OnResumed() {
    if (!ui::Disabled(Ctl::按钮_启动)) return;  // a stopped client stays stopped
    EndClient();
    sk::RunProgram(g_commandLine, false, kHidden);
    CheckStartedClient();
}

bool EndClient() {
    sk::StopWatchingProcess();  // the end we cause is no news
    const std::uint32_t client = FindProcessIdByName(ClientExeName);
    if (client == 0) return false;
    TerminateProcessById(client);
    return true;
}

std::uint32_t FindProcessIdByName(const Text& name) {
    const sk::win::Handle handle = sk::win::CreateToolhelp32Snapshot(kSnapProcess, 0);
    if (handle == sk::win::kInvalidHandle || !platform::IsSet(handle)) return 0;
    const sk::win::OwnedHandle owned(handle);
    const sk::win::Handle snapshot = owned.get();
    const Text wanted = sk::ToLower(name);
    platform::ProcessEntry entry;
    std::uint32_t found = 0;
    for (bool ok = sk::win::Process32First(snapshot, entry); ok;
         ok = sk::win::Process32Next(snapshot, entry)) {
        const Text exeName(entry.exeFile, strnlen(entry.exeFile, sizeof entry.exeFile));
        if (sk::ToLower(exeName) == wanted) {
            found = entry.processId;
            break;
        }
    }
    return found;
}

bool TerminateProcessById(std::uint32_t processId) {
    const sk::win::OwnedHandle process(sk::win::OpenProcess(kProcessTerminate, false, processId));
    return sk::win::TerminateProcess(process.get(), 0);
}

}  // namespace app
