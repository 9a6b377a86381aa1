// The client on the real Skiplane.exe under Wine: a fake client of our own shows the command
// line, the log and the process handling; a real kcptun client carries bytes through a tunnel
// to Debian's kcptun-server; recorders stand in for the browser and the log viewer.
//
// Arguments besides --skiplane and --artifacts: --fake-client=<fake_client.exe>,
// --browser=<Unix script Wine's browser launcher runs>, and for the tunnel
// --kcptun=<kcptun client for Windows> --tunnel-server=<kcptun-server's UDP port>
// --tunnel-target=<the TCP port kcptun-server forwards to>.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/driver.h"
#include "tests/e2e/fixture.h"
#include "version.h"
#include "tests/e2e/net.h"
#include "tests/e2e/processes.h"
#include "form/window_table.h"

using form::Ctl;

namespace {

const char* const kRunning = "状态：正在运行！";
const char* const kStopped = "状态：未启动！";

struct Node {
    std::string localPort = "1081", server = "127.0.0.1", serverPort = "29900", key = "k1",
                mode = "2", dscp = "46", other = "--note a b";
};

std::string ConfigFor(const std::string& clientPath, const Node& n,
                      const std::string& enable = "false") {
    return e2e::Lines({"[BasisConfig]", "ExeFile=" + clientPath, "Enable=" + enable,
                       "[BroadbandConfig]", "UP=10", "DOWN=50", "Mtu=1350", "Sndwnd=300",
                       "Rcvwnd=1200", "[NodeList]", "Quantity=1", "Current node=0", "[Node1]",
                       "remarks=测试", "local_port=" + n.localPort, "server_port=" + n.serverPort,
                       "server=" + n.server, "key=" + n.key, "mode=" + n.mode, "dscp=" + n.dscp,
                       "other=" + n.other});
}

bool SetRegistryText(HKEY root, const std::string& key, const char* name, const std::string& value) {
    HKEY h = nullptr;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr))
        return false;
    const LONG r = RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
    return r == ERROR_SUCCESS;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class ClientE2E : public e2e::SandboxTest {
protected:
    ClientE2E() : SandboxTest("skiplane-client") {}

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SandboxTest::SetUp());
        // Clients the program started are ended after each case, even when it was killed.
        sandbox_.KillAtEnd("client.exe");
        sandbox_.KillAtEnd("kcptun-client.exe");
        clientDir_ = Dir() + "\\客户端";  // the client's folder goes through cmd in GBK
        ASSERT_TRUE(CreateDirectoryA(clientDir_.c_str(), nullptr));
        fakeClient_ = e2e::ToWindowsPath(e2e::ArgValue("fake-client"));
        ASSERT_FALSE(fakeClient_.empty()) << "pass --fake-client=<path of fake_client.exe>";
    }

    std::string Log() const { return e2e::ReadFileBytes(clientDir_ + "\\kcptun.log"); }

    // Installs the fake client as client.exe and starts the program with one node.
    void LaunchWithFakeClient(const Node& node, const std::string& enable = "false") {
        client_ = clientDir_ + "\\client.exe";
        ASSERT_TRUE(CopyFileA(fakeClient_.c_str(), client_.c_str(), FALSE)) << fakeClient_;
        ASSERT_TRUE(e2e::WriteFileBytes(ConfigPath(), ConfigFor(client_, node, enable)));
        Relaunch();
    }
    void Relaunch() { StartProgram(app_); }

    void ExpectState(bool running) {
        EXPECT_EQ(app_.StatusText(1), running ? kRunning : kStopped);
        EXPECT_EQ(app_.Enabled(Ctl::按钮_启动), !running);
        EXPECT_EQ(app_.Enabled(Ctl::按钮_停止), running);
    }

    // The start check has passed: two seconds and a little after the click, no box came up.
    void ExpectStartCheckPassed() {
        Sleep(2600);
        Settle();
        EXPECT_TRUE(app_.MessageBoxes().empty());
        ExpectState(true);
    }

    // The outer command interpreter the program started, once it is there.
    DWORD OuterCmd() const {
        DWORD found = 0;
        e2e::WaitUntil([&] {
            for (DWORD pid : e2e::ChildrenOf(app_.Pid()))
                for (const e2e::ProcessInfo& p : e2e::Processes())
                    if (p.pid == pid && lstrcmpiA(p.exeName.c_str(), "cmd.exe") == 0) found = pid;
            return found != 0;
        });
        return found;
    }

    std::string clientDir_, fakeClient_, client_;
};

TEST_F(ClientE2E, FakeClientRunsHiddenWithTheExactCommandLineStopsAndComesBackAfterARestart) {
    LaunchWithFakeClient(Node{});
    ASSERT_TRUE(e2e::WriteFileBytes(clientDir_ + "\\kcptun.log", "stale output\r\n"));
    ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
    Settle();  // handled inside the two-second wait
    ExpectState(true);
    EXPECT_TRUE(app_.MessageBoxes().empty());

    const DWORD cmd = OuterCmd();
    ASSERT_NE(cmd, 0u);
    const std::string commandLine = e2e::ProcessCommandLine(cmd);
    EXPECT_EQ(commandLine, "cmd /c cmd /c \"" + client_ +
                               "\" -l :1081 -r 127.0.0.1:29900 -key k1 -mtu 1350 -sndwnd 300"
                               " -rcvwnd 1200 -mode fast -dscp 46 --note a b > \"" +
                               clientDir_ + "\\kcptun.log\" 2>&1");
    std::printf("[ client   ] command line: %s\n", commandLine.c_str());
    ASSERT_TRUE(e2e::WaitUntil([] { return e2e::FindProcess("client.exe") != 0; }));
    ExpectStartCheckPassed();
    const std::string log = Log();
    EXPECT_EQ(log.rfind("fake client: ", 0), 0u) << log;  // truncated: the stale line is gone
    EXPECT_NE(log.find("-l :1081 -r 127.0.0.1:29900 -key k1 -mtu 1350"), std::string::npos);
    EXPECT_TRUE(e2e::SaveScreenshot(e2e::ArtifactsDir() + "\\skiplane-running.bmp"));

    ASSERT_TRUE(app_.Click(Ctl::按钮_停止));
    Settle();
    ExpectState(false);
    EXPECT_TRUE(e2e::WaitProcessGone("client.exe"));
    EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::ChildrenOf(app_.Pid()).empty(); }));
    EXPECT_TRUE(app_.MessageBoxes().empty());

    // Running at the quit: stopped with it, and started again by the next start.
    ASSERT_TRUE(app_.PostMenuCommand(form::Menu::启动));
    ASSERT_TRUE(e2e::WaitUntil([] { return e2e::FindProcess("client.exe") != 0; }));
    ExpectStartCheckPassed();
    EXPECT_EQ(Count(Log(), "fake client: "), 1);
    ASSERT_TRUE(app_.PostMenuCommand(form::Menu::退出));
    EXPECT_EQ(app_.WaitExit(), 0u);
    EXPECT_TRUE(e2e::WaitProcessGone("client.exe"));
    EXPECT_NE(Config().find("Enable=true\r\n"), std::string::npos);

    Relaunch();
    ASSERT_TRUE(e2e::WaitUntil([] { return e2e::FindProcess("client.exe") != 0; }));
    ExpectStartCheckPassed();
}

// 東 is 96 7C and 區 85 5E in GBK: bytes that look like '|' and '^' but are halves of
// characters, which cmd reads as characters. A client in such a folder starts, the bytes reach
// it unchanged, and a real '|' is still refused.
TEST_F(ClientE2E, AFolderAndArgumentsWhoseSecondBytesLookLikeCommandCharactersPassUnchanged) {
    ASSERT_EQ(std::string("東區"), "\x96\x7C\x85\x5E");
    clientDir_ = Dir() + "\\東區";
    ASSERT_TRUE(CreateDirectoryA(clientDir_.c_str(), nullptr));
    Node node;
    node.other = "--note 東區";
    LaunchWithFakeClient(node);
    ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
    Settle();
    const DWORD cmd = OuterCmd();
    ASSERT_NE(cmd, 0u);
    EXPECT_EQ(e2e::ProcessCommandLine(cmd),
              "cmd /c cmd /c \"" + client_ +
                  "\" -l :1081 -r 127.0.0.1:29900 -key k1 -mtu 1350 -sndwnd 300"
                  " -rcvwnd 1200 -mode fast -dscp 46 --note 東區 > \"" +
                  clientDir_ + "\\kcptun.log\" 2>&1");
    ASSERT_TRUE(e2e::WaitUntil([] { return e2e::FindProcess("client.exe") != 0; }));
    ExpectStartCheckPassed();
    // The fake client prints the command line it got: the folder and the argument, byte for byte.
    const std::string log = Log();
    EXPECT_NE(log.find(client_), std::string::npos) << log;
    EXPECT_NE(log.find(" --note \x96\x7C\x85\x5E"), std::string::npos) << log;
    ASSERT_TRUE(app_.Click(Ctl::按钮_停止));
    Settle();
    EXPECT_TRUE(e2e::WaitProcessGone("client.exe"));

    ASSERT_TRUE(app_.Retype(Ctl::编辑框_其他参数, "--note 東區|calc"));
    ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
    e2e::MessageBoxInfo box;
    ASSERT_TRUE(app_.WaitMessageBox(&box));
    EXPECT_EQ(box.text, "其他参数 中不能含有 & | < > ^ 字符！");
    ASSERT_TRUE(e2e::App::PressMessageBoxButton(box, IDOK));
    Settle();
    ExpectState(false);
    EXPECT_TRUE(e2e::ChildrenOf(app_.Pid()).empty());
}

TEST_F(ClientE2E, AClientThatExitsIsReportedAndOneThatIsKilledTurnsTheWindowBack) {
    Node exits;
    exits.other = "--exit";
    LaunchWithFakeClient(exits);
    ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
    e2e::MessageBoxInfo box;
    ASSERT_TRUE(app_.WaitMessageBox(&box));
    // The client's last line follows, cut to 160 bytes: it holds none of the error words.
    const std::string said = "KCPTun 启动失败！\r\n客户端输出：";
    ASSERT_EQ(box.text.substr(0, said.size()), said);
    const std::string own = box.text.substr(said.size());
    EXPECT_TRUE(own.size() == 159 || own.size() == 160) << own;
    EXPECT_EQ(Log().substr(0, own.size()), own);
    EXPECT_EQ(own.substr(0, 13), "fake client: ");
    EXPECT_EQ(box.caption, "信息：");
    ASSERT_TRUE(e2e::App::PressMessageBoxButton(box, IDOK));
    Settle();
    ExpectState(false);

    ASSERT_TRUE(app_.Retype(Ctl::编辑框_其他参数, ""));
    ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
    ExpectStartCheckPassed();
    const DWORD client = e2e::FindProcess("client.exe");
    ASSERT_NE(client, 0u);
    const DWORD killedAt = GetTickCount();
    ASSERT_TRUE(e2e::KillProcess(client));
    EXPECT_TRUE(e2e::WaitUntil([&] { return app_.StatusText(1) == kStopped; }, 1000))
        << "the window still shows the client running";
    std::printf("[ client   ] window stopped %lu ms after the kill\n",
                static_cast<unsigned long>(GetTickCount() - killedAt));
    Settle();
    ExpectState(false);
    EXPECT_TRUE(app_.MessageBoxes().empty());
    ASSERT_TRUE(app_.PostMenuCommand(form::Menu::退出));
    EXPECT_EQ(app_.WaitExit(), 0u);
    EXPECT_NE(Config().find("Enable=false\r\n"), std::string::npos);
}

TEST_F(ClientE2E, LogAboutAndHomePageGoToTheShell) {
    const std::string browser = e2e::ArgValue("browser");
    ASSERT_FALSE(browser.empty()) << "pass --browser=<Unix path of a recording script>";
    const std::string browserLog =
        e2e::ToWindowsPath(browser.substr(0, browser.rfind('/')) + "/e2e-browser.log");
    DeleteFileA(browserLog.c_str());
    ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", "Browsers",
                                browser));
    const std::string recorder = Dir() + "\\recorder.exe";
    ASSERT_TRUE(CopyFileA(fakeClient_.c_str(), recorder.c_str(), FALSE));
    ASSERT_TRUE(SetRegistryText(HKEY_CLASSES_ROOT, ".log", nullptr, "SkiplaneE2E.log"));
    ASSERT_TRUE(SetRegistryText(HKEY_CLASSES_ROOT, "SkiplaneE2E.log\\shell\\open\\command",
                                nullptr, "\"" + recorder + "\" --record \"%1\""));
    LaunchWithFakeClient(Node{});

    ASSERT_TRUE(e2e::WriteFileBytes(clientDir_ + "\\kcptun.log", "output\r\n"));  // the shell opens files that exist
    ASSERT_TRUE(app_.PostMenuCommand(form::Menu::打开日志));
    const std::string recorded = Dir() + "\\recorded.txt";
    EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::ReadFileBytes(recorded).empty(); }));
    EXPECT_EQ(e2e::ReadFileBytes(recorded), clientDir_ + "\\kcptun.log\r\n");

    ASSERT_TRUE(app_.PostMenuCommand(form::Menu::关于));
    e2e::MessageBoxInfo box;
    ASSERT_TRUE(app_.WaitMessageBox(&box));
    EXPECT_EQ(box.text, "制作：skiplane.example\r\n请勿用于商业用途。\r\n当前版本：" SKIPLANE_VERSION);
    EXPECT_EQ(box.caption, "信息：");
    Sleep(500);
    EXPECT_FALSE(e2e::FileExists(browserLog)) << "the home page opened before the box closed";
    ASSERT_TRUE(e2e::App::PressMessageBoxButton(box, IDOK));
    EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::ReadFileBytes(browserLog).empty(); }));
    EXPECT_EQ(e2e::ReadFileBytes(browserLog), "http://skiplane.example/\n");

    HWND status = app_.Hwnd(Ctl::状态条_状态);
    ASSERT_TRUE(PostMessageA(status, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(400, 8)));
    ASSERT_TRUE(PostMessageA(status, WM_LBUTTONUP, 0, MAKELPARAM(400, 8)));
    EXPECT_TRUE(e2e::WaitUntil([&] { return Count(e2e::ReadFileBytes(browserLog), "\n") == 2; }));
    EXPECT_EQ(e2e::ReadFileBytes(browserLog), "http://skiplane.example/\nhttp://skiplane.example/\n");
}

TEST_F(ClientE2E, ARealKcptunClientCarriesBytesThroughTheTunnelUntilStopped) {
    const std::string kcptun = e2e::ToWindowsPath(e2e::ArgValue("kcptun"));
    const int serverPort = std::atoi(e2e::ArgValue("tunnel-server").c_str());
    const int targetPort = std::atoi(e2e::ArgValue("tunnel-target").c_str());
    ASSERT_TRUE(!kcptun.empty() && serverPort > 0 && targetPort > 0)
        << "pass --kcptun, --tunnel-server and --tunnel-target (scripts/build-kcptun.sh builds "
           "the client; run_e2e.sh starts the server)";
    e2e::EchoServer echo(targetPort);
    ASSERT_EQ(echo.Port(), targetPort);
    const int localPort = targetPort + 1;
    ASSERT_FALSE(e2e::PortListening(localPort));

    client_ = clientDir_ + "\\kcptun-client.exe";
    ASSERT_TRUE(CopyFileA(kcptun.c_str(), client_.c_str(), FALSE)) << kcptun;
    Node node;
    node.localPort = std::to_string(localPort);
    node.serverPort = std::to_string(serverPort);
    node.key = "skiplane-e2e";
    node.dscp = node.other = "";
    ASSERT_TRUE(e2e::WriteFileBytes(Dir() + "\\config.ini", ConfigFor(client_, node)));
    Relaunch();
    ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
    ExpectStartCheckPassed();

    std::string payload;
    for (int i = 0; i < 64 * 1024; ++i) payload += static_cast<char>((i * 131 + 7) & 0xFF);
    std::string got;
    EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::TcpRoundTrip(localPort, payload, 3000, &got); },
                               20000))
        << "came back: " << got.size() << " bytes; log:\n" << Log();
    EXPECT_NE(Log().find("remote address: 127.0.0.1:" + node.serverPort), std::string::npos)
        << Log();

    ASSERT_TRUE(app_.Click(Ctl::按钮_停止));
    Settle();
    ExpectState(false);
    EXPECT_TRUE(e2e::WaitProcessGone("kcptun-client.exe"));
    EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::PortListening(localPort); }));
}

}  // namespace

// --- a day on Windows: log-off, sleep, a second start, minimise, a mouse click ------------

namespace {
int CountProcesses(const char* exeName) {
    int n = 0;
    for (const e2e::ProcessInfo& p : e2e::Processes())
        if (lstrcmpiA(p.exeName.c_str(), exeName) == 0) ++n;
    return n;
}
bool SendWithin(HWND window, UINT msg, WPARAM w, LPARAM l, DWORD_PTR* answer) {
    return SendMessageTimeoutA(window, msg, w, l, SMTO_ABORTIFHUNG, 5000, answer) != 0;
}
}  // namespace

// The query changes nothing and a cancelled end leaves the client running; the real end records
// what 退出 records, with the client as it ran when asked (the session may end console programs
// first), within a second, and leaves the window to the session.
TEST_F(ClientE2E, TheSessionsEndRecordsTheRunningClientLikeAQuit) {
    LaunchWithFakeClient(Node{});
    ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
    ExpectStartCheckPassed();
    const std::string before = Config();
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendWithin(app_.Main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, &answer));
    EXPECT_EQ(answer, 1u);
    ASSERT_TRUE(SendWithin(app_.Main(), WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF, &answer));
    Settle();
    EXPECT_EQ(Config(), before);
    EXPECT_EQ(CountProcesses("client.exe"), 1);
    ExpectState(true);

    ASSERT_TRUE(SendWithin(app_.Main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, &answer));
    ASSERT_TRUE(e2e::KillProcess(e2e::FindProcess("client.exe")));
    Sleep(300);  // the watch's news arrives meanwhile
    const DWORD sentAt = GetTickCount();
    ASSERT_TRUE(SendWithin(app_.Main(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, &answer));
    const DWORD took = GetTickCount() - sentAt;
    std::printf("[ client   ] WM_ENDSESSION took %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_LT(took, 1000u);
    EXPECT_TRUE(IsWindow(app_.Main()));
    EXPECT_TRUE(app_.Running());
    const std::string config = Config();
    EXPECT_NE(config.find("Enable=true\r\n"), std::string::npos) << config;
    EXPECT_NE(config.find("Current node=0\r\n"), std::string::npos) << config;
}

// Two copies in two folders, each with a client of the same file name: each stop ends its own
// client's tree alone, and a copy that dies takes its client with it (the job ends its processes
// when its last handle closes).
TEST_F(ClientE2E, EachCopyEndsItsOwnClientOnly) {
    LaunchWithFakeClient(Node{});
    const std::string otherDir = Dir() + "\\其他";
    ASSERT_TRUE(CreateDirectoryA(otherDir.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(Exe().c_str(), (otherDir + "\\Skiplane.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(fakeClient_.c_str(), (otherDir + "\\client.exe").c_str(), FALSE));
    Node otherNode;
    otherNode.localPort = "1082";
    ASSERT_TRUE(e2e::WriteFileBytes(otherDir + "\\config.ini",
                                    ConfigFor(otherDir + "\\client.exe", otherNode, "true")));
    ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
    ExpectStartCheckPassed();
    const DWORD mine = e2e::FindProcess("client.exe");
    ASSERT_NE(mine, 0u);
    e2e::App other;
    ASSERT_TRUE(other.Start(otherDir + "\\Skiplane.exe", otherDir));
    DWORD theirs = 0;
    auto clients = [] {
        std::vector<DWORD> pids;
        for (const e2e::ProcessInfo& p : e2e::Processes())
            if (lstrcmpiA(p.exeName.c_str(), "client.exe") == 0) pids.push_back(p.pid);
        return pids;
    };
    ASSERT_TRUE(e2e::WaitUntil([&] { return clients().size() == 2; }));
    for (DWORD pid : clients())
        if (pid != mine) theirs = pid;
    Sleep(2600);
    EXPECT_EQ(other.StatusText(1), kRunning);

    ASSERT_TRUE(app_.Click(Ctl::按钮_停止));
    Settle();
    ExpectState(false);
    EXPECT_TRUE(e2e::WaitUntil([&] { return clients() == std::vector<DWORD>{theirs}; }));
    Sleep(500);
    EXPECT_EQ(clients(), std::vector<DWORD>{theirs});
    EXPECT_EQ(other.StatusText(1), kRunning);

    other.Kill();  // no 退出: the job's last handle closes with the process
    EXPECT_TRUE(e2e::WaitProcessGone("client.exe", 3000));
}

// A stop or 退出 right after the click, while cmd is still on its way to the client: what was
// started is ended, and no client comes up later.
TEST_F(ClientE2E, AStopOrQuitDuringTheStartWaitLeavesNoClient) {
    for (const form::Menu how : {form::Menu::停止, form::Menu::退出}) {
        SCOPED_TRACE(how == form::Menu::停止 ? "stop" : "quit");
        LaunchWithFakeClient(Node{});
        ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
        ASSERT_TRUE(app_.PostMenuCommand(how));
        if (how == form::Menu::退出) {
            EXPECT_EQ(app_.WaitExit(), 0u);
        } else {
            Settle();
            ExpectState(false);
        }
        Sleep(3000);  // the client would be up by now
        EXPECT_EQ(e2e::FindProcess("client.exe"), 0u);
        EXPECT_EQ(Count(Log(), "fake client: "), 0) << Log();
        if (how == form::Menu::停止) {
            EXPECT_TRUE(app_.MessageBoxes().empty());
            app_.Kill();
        }
    }
}

// After sleep a new client replaces the old one, under the same command line, while the window
// stays in the running state.
TEST_F(ClientE2E, WakingRestartsTheClientWithTheSameCommandLine) {
    LaunchWithFakeClient(Node{});
    ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
    ExpectStartCheckPassed();
    const DWORD cmd = OuterCmd();
    const DWORD client = e2e::FindProcess("client.exe");
    ASSERT_NE(client, 0u);
    const std::string commandLine = e2e::ProcessCommandLine(cmd);
    ASSERT_TRUE(app_.PostToMain(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0));
    ASSERT_TRUE(e2e::WaitUntil([&] {
        const DWORD now = e2e::FindProcess("client.exe");
        return now != 0 && now != client;
    }));
    ExpectStartCheckPassed();
    EXPECT_EQ(CountProcesses("client.exe"), 1);
    DWORD newCmd = 0;
    ASSERT_TRUE(e2e::WaitUntil([&] { return (newCmd = OuterCmd()) != 0 && newCmd != cmd; }));
    EXPECT_EQ(e2e::ProcessCommandLine(newCmd), commandLine);
}

// A second start of the same file (its path in other case) brings the hidden or minimised
// window back and ends with 0, touching no file; a copy in another folder is a program of its
// own. A minimised window also comes back by the icon.
TEST_F(ClientE2E, ASecondStartBringsTheRunningCopyBack) {
    LaunchWithFakeClient(Node{});
    const std::string before = Config();
    std::string upper = Exe();
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const char* away : {"hidden", "minimised"}) {
        SCOPED_TRACE(away);
        if (away[0] == 'h') ASSERT_TRUE(app_.Close());
        else ASSERT_TRUE(app_.PostToMain(WM_SYSCOMMAND, SC_MINIMIZE, 0));
        ASSERT_TRUE(e2e::WaitUntil([&] {
            return away[0] == 'h' ? !app_.MainVisible() : IsIconic(app_.Main()) != 0;
        }));
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::string line = "\"" + upper + "\"";
        ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   Dir().c_str(), &si, &pi));
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        EXPECT_TRUE(e2e::WaitUntil([&] { return app_.MainVisible() && !IsIconic(app_.Main()); }));
    }
    EXPECT_EQ(Config(), before);

    ASSERT_TRUE(app_.PostToMain(WM_SYSCOMMAND, SC_MINIMIZE, 0));
    ASSERT_TRUE(e2e::WaitUntil([&] { return IsIconic(app_.Main()) != 0; }));
    ASSERT_TRUE(app_.PostTray(WM_LBUTTONUP));
    EXPECT_TRUE(e2e::WaitUntil([&] { return app_.MainVisible() && !IsIconic(app_.Main()); }));

    const std::string otherDir = Dir() + "\\其他";
    ASSERT_TRUE(CreateDirectoryA(otherDir.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(Exe().c_str(), (otherDir + "\\Skiplane.exe").c_str(), FALSE));
    e2e::App other;
    EXPECT_TRUE(other.Start(otherDir + "\\Skiplane.exe", otherDir)) << "the other folder's copy";
    EXPECT_TRUE(app_.Running());
    other.Kill();
}

// A real mouse click on 启动加速 focuses it, and the start disables it: the focus goes on to
// 停止, and back when 停止 is clicked, so that Esc still closes the window to the tray.
TEST_F(ClientE2E, AfterAMouseClickOnTheButtonsEscStillWorks) {
    LaunchWithFakeClient(Node{});
    EXPECT_TRUE(e2e::MouseClick(app_.Hwnd(Ctl::按钮_启动)));
    ExpectStartCheckPassed();
    EXPECT_EQ(e2e::FocusOf(app_.Main()), app_.Hwnd(Ctl::按钮_停止));
    // 停止 has the focus already; a posted click is enough for the way back.
    ASSERT_TRUE(app_.Click(Ctl::按钮_停止));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app_.Enabled(Ctl::按钮_启动); }));
    Settle();
    EXPECT_EQ(e2e::FocusOf(app_.Main()), app_.Hwnd(Ctl::按钮_启动));
    keybd_event(VK_ESCAPE, 0, 0, 0);
    keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    EXPECT_TRUE(e2e::WaitUntil([&] { return !app_.MainVisible(); }));
}
