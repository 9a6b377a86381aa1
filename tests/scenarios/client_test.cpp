// Starting, watching and stopping the client; its log, the about box and the home page.
#include "tests/scenarios/harness.h"
#include "version.h"
#include "platform/files.h"
#include "services/process.h"

#include <cstring>

namespace scenario {
namespace {

namespace hooks = platform::hooks;

const char* const kRunningStatus = "状态：正在运行！";
const char* const kStoppedStatus = "状态：未启动！";
// A start that failed with nothing in the log (no client wrote one here).
const char* const kFailedStart =
    "KCPTun 启动失败！\r\n客户端没有留下任何输出，请确认 KCPTun目录 指向 kcptun 客户端。";

// The window's changes on entering each state (the menu items follow the buttons).
const std::vector<std::string> kRunningOrder = {"tray", "status 1", "disable 按钮_启动",
                                                "enable 按钮_停止"};
const std::vector<std::string> kStoppedOrder = {"enable 按钮_启动", "disable 按钮_停止", "tray",
                                                "status 1"};

std::string Tip(const platform::TrayRecord& r) { return std::string(r.tip, strnlen(r.tip, 64)); }
std::string LastTip() { return Tip(headless::TrayCalls().back().record); }

class Client : public AppTest {
protected:
    // One node with every field filled, the client file beside the program.
    void StartReady(const std::string& basis = "") {
        std::ofstream(dir_ + "/client.exe") << "MZ";
        GivenConfig("[BasisConfig]\r\nExeFile=" + WinDir() + "client.exe\r\n" + basis +
                    "[BroadbandConfig]\r\nMtu=1350\r\nSndwnd=256\r\nRcvwnd=1024\r\n"
                    "[NodeList]\r\nQuantity=1\r\nCurrent node=0\r\n"
                    "[Node1]\r\nlocal_port=1080\r\nserver_port=4000\r\nserver=1.2.3.4\r\n"
                    "key=k1\r\nmode=2\r\ndscp=46\r\nother=-nocomp\r\n");
        Start();
    }
    // Starting the command line brings up a process with this name in the started tree.
    void ClientComesUpAs(const std::string& name) {
        hooks::OnProgramStart(
            [name](const std::string&) { client_ = hooks::AddProcess(name, hooks::LastJob()); });
    }
    std::string LastCommandLine() const {
        return hooks::ProgramsStarted().empty() ? "" : hooks::ProgramsStarted().back().commandLine;
    }
    void ExpectState(bool running) const {
        EXPECT_EQ(ui::Disabled(Ctl::按钮_启动), running);
        EXPECT_EQ(ui::Disabled(Ctl::按钮_停止), !running);
        EXPECT_EQ(ui::MenuDisabled(Menu::启动), running);
        EXPECT_EQ(ui::MenuDisabled(Menu::停止), !running);
        EXPECT_EQ(ui::StatusBarText(1), running ? kRunningStatus : kStoppedStatus);
        EXPECT_EQ(LastTip(), std::string("Skiplane   Ver" SKIPLANE_VERSION "\r\n") +
                                 (running ? kRunningStatus : kStoppedStatus));
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const auto& box : headless::MessageBoxes()) texts.push_back(box.text);
        return texts;
    }

    static inline std::uint32_t client_ = 0;
};

TEST_F(Client, EachCheckStopsTheStartWithItsMessageAndChangesNothingElse) {
    struct Case {
        const char* message;
        std::function<void()> spoil;
    };
    const Case cases[] = {
        {"请填写 KCP Tun文件目录！", [] { headless::DropFiles({""}); }},
        {"请填写 KcpTun客户端文件目录！",
         [this] { std::filesystem::remove(dir_ + "/client.exe"); }},
        {"请填写 加速IP！", [this] { Retype(Ctl::编辑框_加速IP, ""); }},
        {"请填写 加速端口！", [this] { Retype(Ctl::编辑框_加速端口, ""); }},
        {"请填写 本地端口！", [this] { Retype(Ctl::编辑框_本地端口, ""); }},
        {"请选择 加速模式！", [] { ui::SetSelection(Ctl::组合框_加速模式, -1); }},
        {"请填写 MTU！", [this] { Retype(Ctl::编辑框_mtu, ""); }},
        {"请填写 Rcvwnd！", [this] { Retype(Ctl::编辑框_rcvwnd, ""); }},
        {"请填写 Sndwnd！", [this] { Retype(Ctl::编辑框_sndwnd, ""); }},
    };
    for (const Case& c : cases) {
        StartReady();
        hooks::ResetProcesses();
        c.spoil();
        const std::size_t trayCalls = headless::TrayCalls().size();
        headless::Click(Ctl::按钮_启动);
        EXPECT_EQ(Messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(headless::MessageBoxes().back().caption, "信息：");
        EXPECT_EQ(headless::MessageBoxes().back().style, 0x2000u);
        EXPECT_TRUE(hooks::ProgramsStarted().empty()) << c.message;
        EXPECT_EQ(headless::TrayCalls().size(), trayCalls);
        ExpectState(false);
    }
}

TEST_F(Client, CommandLineIsJoinedFromTheFieldsExactly) {
    struct Case {
        const char *key, *dscp, *other, *tail;
    };
    const Case cases[] = {
        {"k1", "46", "-nocomp", " -key k1 -mtu 1350 -sndwnd 256 -rcvwnd 1024 -mode fast -dscp 46 -nocomp"},
        {"", "", "", " -mtu 1350 -sndwnd 256 -rcvwnd 1024 -mode fast "},  // two blanks before >
        {"", "46", "", " -mtu 1350 -sndwnd 256 -rcvwnd 1024 -mode fast -dscp 46 "},
        {"a b", "", "--crypt \"none\"",
         " -key a b -mtu 1350 -sndwnd 256 -rcvwnd 1024 -mode fast --crypt \"none\""},
        {" ", " ", " ", " -key   -mtu 1350 -sndwnd 256 -rcvwnd 1024 -mode fast -dscp    "},
    };
    for (const Case& c : cases) {
        StartReady();
        hooks::ResetProcesses();
        for (auto [field, value] : {std::pair{Ctl::编辑框_验证密匙, c.key},
                                    std::pair{Ctl::编辑框_dscp, c.dscp},
                                    std::pair{Ctl::编辑框_其他参数, c.other}}) {
            headless::ClearByKeyboard(field);
            headless::Paste(field, value);  // past the digit filter of the DSCP box
        }
        headless::Click(Ctl::按钮_启动);
        ASSERT_EQ(hooks::ProgramsStarted().size(), 1u);
        EXPECT_EQ(LastCommandLine(), "cmd /c cmd /c \"" + WinDir() +
                                         "client.exe\" -l :1080 -r 1.2.3.4:4000" + c.tail +
                                         " > \"" + WinDir() + "kcptun.log\" 2>&1");
        EXPECT_EQ(hooks::ProgramsStarted()[0].showState, 0);  // SW_HIDE
        EXPECT_FALSE(hooks::ProgramsStarted()[0].waitForExit);
    }
}

TEST_F(Client, EveryModeItemGoesInAsItsText) {
    const char* const modes[] = {"default", "normal", "fast", "fast2", "fast3"};
    for (int i = 0; i < 5; ++i) {
        StartReady();
        hooks::ResetProcesses();
        ui::SetSelection(Ctl::组合框_加速模式, i);
        headless::Click(Ctl::按钮_启动);
        EXPECT_NE(LastCommandLine().find(std::string(" -mode ") + modes[i] + " -dscp 46 "),
                  std::string::npos);
    }
}

TEST_F(Client, CommandCharactersInAnyFieldAreRefusedByName) {
    const struct {
        Ctl field;
        const char* name;
    } fields[] = {{Ctl::编辑框_本地端口, "本地端口"}, {Ctl::编辑框_加速IP, "加速IP"},
                  {Ctl::编辑框_加速端口, "加速端口"}, {Ctl::编辑框_验证密匙, "验证密匙"},
                  {Ctl::编辑框_mtu, "MTU"},           {Ctl::编辑框_sndwnd, "Sndwnd"},
                  {Ctl::编辑框_rcvwnd, "Rcvwnd"},     {Ctl::编辑框_dscp, "DSCP"},
                  {Ctl::编辑框_其他参数, "其他参数"}};
    const char* const refused[] = {"&", "|", "<", ">", "^"};
    int n = 0;
    for (const auto& f : fields) {
        StartReady();
        hooks::ResetProcesses();
        headless::Paste(f.field, std::string("1") + refused[n++ % 5] + "calc");
        headless::Paste(Ctl::编辑框_其他参数, "&");  // a later field: the first one is named
        headless::Click(Ctl::按钮_启动);
        EXPECT_EQ(Messages(), std::vector<std::string>{std::string(f.name) +
                                                       " 中不能含有 & | < > ^ 字符！"});
        EXPECT_TRUE(hooks::ProgramsStarted().empty()) << f.name;
        ExpectState(false);
    }
    // The client's folder name goes through cmd too.
    std::filesystem::create_directory(dir_ + "/R&D");
    std::ofstream(dir_ + "/R&D/client.exe") << "MZ";
    StartReady();
    headless::DropFiles({WinDir() + "R&D\\client.exe"});
    headless::Click(Ctl::按钮_启动);
    EXPECT_EQ(Messages().back(), "KCP Tun文件目录 中不能含有 & | < > ^ 字符！");
    EXPECT_TRUE(hooks::ProgramsStarted().empty());
}

// cmd reads the line as characters: a '|' or '^' that is the second byte of a double-byte
// character (東 96 7C, 區 85 5E, 瑋 AC 7C) is half of that character and starts nothing.
TEST_F(Client, SecondBytesThatLookLikeCommandCharactersPass) {
    std::filesystem::create_directory(dir_ + "/東區");
    std::ofstream(dir_ + "/東區/client.exe") << "MZ";
    ASSERT_EQ(std::string("東區瑋"), "\x96\x7C\x85\x5E\xAC\x7C");
    StartReady();
    headless::DropFiles({WinDir() + "東區\\client.exe"});
    headless::ClearByKeyboard(Ctl::编辑框_其他参数);
    headless::Paste(Ctl::编辑框_其他参数, "--note 東區瑋");
    ClientComesUpAs("client.exe");
    headless::Click(Ctl::按钮_启动);
    EXPECT_TRUE(Messages().empty());
    ASSERT_EQ(hooks::ProgramsStarted().size(), 1u);
    const std::string line = LastCommandLine();
    EXPECT_NE(line.find("\"" + WinDir() + "東區\\client.exe\" -l :"), std::string::npos) << line;
    EXPECT_NE(line.find(" --note 東區瑋 > \"" + WinDir() + "東區\\kcptun.log\" 2>&1"),
              std::string::npos)
        << line;

    // A '|' of its own after such a character is still refused, and so is a '^' after 0x80,
    // which leads nothing in code page 936.
    for (const char* other : {"--note 東|calc", "--note \x80^calc"}) {
        StartReady();
        hooks::ResetProcesses();
        headless::ClearByKeyboard(Ctl::编辑框_其他参数);
        headless::Paste(Ctl::编辑框_其他参数, other);
        headless::Click(Ctl::按钮_启动);
        EXPECT_EQ(Messages(), std::vector<std::string>{"其他参数 中不能含有 & | < > ^ 字符！"})
            << other;
        EXPECT_TRUE(hooks::ProgramsStarted().empty());
    }
}

TEST_F(Client, StartShowsRunningAtOnceChecksAfterTwoSecondsAndKeepsRunning) {
    StartReady();
    ClientComesUpAs("CLIENT.EXE");  // file names match whatever their ASCII case
    hooks::AddProcess("other.exe");
    const std::uint32_t before = hooks::Now();
    hooks::DuringNextWait([this] { ExpectState(true); });
    headless::TakeJournal();
    headless::Click(Ctl::按钮_启动);
    EXPECT_EQ(headless::TakeJournal(), kRunningOrder);
    EXPECT_GT(hooks::Now() - before, 2000u);
    EXPECT_TRUE(Messages().empty());
    ExpectState(true);
    EXPECT_TRUE(hooks::Watching(client_));
    EXPECT_EQ(hooks::OpenHandles(), 0);
}

TEST_F(Client, AClientThatNeverComesUpIsReportedAfterTheRunningStateAndItsTreeEnded) {
    StartReady();
    std::uint32_t cmd = 0;
    hooks::OnProgramStart([&](const std::string&) { cmd = hooks::AddProcess("cmd.exe", hooks::LastJob()); });
    headless::WhileMessageBoxIsUp([this] { ExpectState(true); });
    headless::TakeJournal();
    headless::Click(Ctl::按钮_启动);
    std::vector<std::string> order = kRunningOrder;
    order.insert(order.end(), kStoppedOrder.begin(), kStoppedOrder.end());
    EXPECT_EQ(headless::TakeJournal(), order);
    EXPECT_EQ(Messages(), std::vector<std::string>{kFailedStart});
    ExpectState(false);
    EXPECT_EQ(hooks::TerminatedProcesses(), std::vector<std::uint32_t>{cmd});  // none runs unseen

    hooks::FailProgramStarts(true);  // cmd itself missing: the same report
    headless::Click(Ctl::按钮_启动);
    EXPECT_EQ(Messages().back(), kFailedStart);
}

// Another folder's client of the same name runs outside this copy's tree; the path changed
// since the start names no other client either.
TEST_F(Client, StopEndsThisStartsTreeOnlyWhateverThePathNowSays) {
    StartReady();
    hooks::AddProcess("Client.exe");
    ClientComesUpAs("client.exe");
    headless::Click(Ctl::按钮_启动);
    const std::uint32_t first = client_;
    std::ofstream(dir_ + "/other.exe") << "MZ";
    headless::DropFiles({WinDir() + "other.exe"});
    headless::TakeJournal();
    headless::ChooseFromTrayMenu(Menu::停止);
    EXPECT_EQ(headless::TakeJournal(), kStoppedOrder);
    EXPECT_EQ(hooks::TerminatedProcesses(), std::vector<std::uint32_t>{first});
    EXPECT_EQ(hooks::ProcessNames(), std::vector<std::string>{"Client.exe"});
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(hooks::Watching(first));
    EXPECT_EQ(hooks::OpenHandles(), 0);
    ExpectState(false);
}

TEST_F(Client, AStopDuringTheWaitEndsTheStartSilently) {
    StartReady();
    ClientComesUpAs("client.exe");
    hooks::DuringNextWait([] { headless::Click(Ctl::按钮_停止); });
    headless::Click(Ctl::按钮_启动);
    EXPECT_EQ(hooks::TerminatedProcesses().size(), 1u);
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(hooks::Watching(client_));
    ExpectState(false);

    // With no client at all, the stop says so, and nothing follows.
    hooks::OnProgramStart(nullptr);
    hooks::DuringNextWait([] { headless::ChooseFromTrayMenu(Menu::停止); });
    headless::Click(Ctl::按钮_启动);
    EXPECT_EQ(Messages(), std::vector<std::string>{"KCPTun进程似乎不存在！"});
    ExpectState(false);

    // Only cmd so far: the stop ends it, before it could bring the client up.
    std::uint32_t cmd = 0;
    hooks::OnProgramStart([&](const std::string&) { cmd = hooks::AddProcess("cmd.exe", hooks::LastJob()); });
    hooks::DuringNextWait([] { headless::Click(Ctl::按钮_停止); });
    headless::Click(Ctl::按钮_启动);
    EXPECT_EQ(hooks::TerminatedProcesses().back(), cmd);
    EXPECT_EQ(Messages().size(), 1u);
    EXPECT_TRUE(hooks::ProcessNames().empty());
}

// 退出 while the start waits: the tree is ended before the program ends, and the running client
// is what the next start brings back.
TEST_F(Client, QuitDuringTheStartWaitEndsTheTreeFirst) {
    StartReady("Enable=false\r\n");
    hooks::OnProgramStart([](const std::string&) { hooks::AddProcess("cmd.exe", hooks::LastJob()); });
    hooks::DuringNextWait([] { headless::ChooseFromTrayMenu(Menu::退出); });
    headless::Click(Ctl::按钮_启动);
    EXPECT_TRUE(headless::Ended());
    EXPECT_TRUE(hooks::ProcessNames().empty());
    EXPECT_TRUE(Messages().empty());
    EXPECT_NE(Config().find("Enable=true\r\n"), std::string::npos);
}

// The client ends between the check that found it and the watch: the window must not go on
// showing a client that is gone, and another folder's client of that name is not taken for it.
TEST_F(Client, AClientGoneBeforeTheWatchStopsSilentlyAndNoOtherOfItsNameIsTaken) {
    StartReady();
    hooks::OnProgramStart([this](const std::string&) {
        client_ = hooks::AddProcess("client.exe", hooks::LastJob());
        hooks::EndAfterNextSnapshot(client_);
    });
    headless::Click(Ctl::按钮_启动);
    EXPECT_TRUE(Messages().empty());
    ExpectState(false);
    EXPECT_EQ(LastTip(), std::string("Skiplane   Ver" SKIPLANE_VERSION "\r\n状态：未启动！"));

    std::uint32_t other = 0;
    hooks::OnProgramStart([this, &other](const std::string&) {
        client_ = hooks::AddProcess("client.exe", hooks::LastJob());
        hooks::EndAfterNextSnapshot(client_);
        other = hooks::AddProcess("client.exe");
    });
    headless::Click(Ctl::按钮_启动);
    ExpectState(false);
    EXPECT_FALSE(hooks::Watching(other));
    EXPECT_EQ(hooks::ProcessNames(), std::vector<std::string>{"client.exe"});
    EXPECT_TRUE(Messages().empty());
}

// A client that ends by itself turns the window back, and a balloon says so, with the reason
// where its log holds an error; a killed client's ordinary last line is none.
TEST_F(Client, AClientThatEndsByItselfTurnsTheWindowBackWithABalloon) {
    StartReady();
    ClientComesUpAs("client.exe");
    for (const char* log : {"remote address: 1.2.3.4:4000\n", "panic: runtime error\nmore\n"}) {
        headless::Click(Ctl::按钮_启动);
        std::ofstream(dir_ + "/kcptun.log", std::ios::binary) << log;
        headless::TakeJournal();
        hooks::EndProcess(client_);
        ExpectState(false);
        std::vector<std::string> ended = kStoppedOrder;
        ended.push_back(log[0] == 'r' ? "warning balloon Skiplane: KCPTun 已意外退出。"
                                      : "warning balloon Skiplane: KCPTun 已意外退出。\r\n"
                                        "客户端输出：panic: runtime error");
        EXPECT_EQ(headless::TakeJournal(), ended);
    }
    EXPECT_TRUE(Messages().empty());
    headless::ChooseFromTrayMenu(Menu::退出);
    EXPECT_NE(Config().find("Enable=false"), std::string::npos);
    EXPECT_TRUE(hooks::TerminatedProcesses().empty());
}

TEST_F(Client, ARunningClientIsStoppedAtQuitAndStartedAgainAtTheNextStart) {
    StartReady("Enable=false\r\n");
    ClientComesUpAs("client.exe");
    headless::Click(Ctl::按钮_启动);
    headless::ChooseFromTrayMenu(Menu::退出);
    EXPECT_TRUE(headless::Ended());
    EXPECT_EQ(hooks::TerminatedProcesses().size(), 1u);
    EXPECT_NE(Config().find("Enable=true"), std::string::npos);

    Restart();
    EXPECT_EQ(hooks::ProgramsStarted().size(), 2u);
    ExpectState(true);
    EXPECT_EQ(headless::TrayCalls().size(), 1u);  // the running icon is the first icon
    EXPECT_EQ(headless::TrayCalls()[0].op, platform::TrayOp::Add);
}

TEST_F(Client, AMissingWindowsFunctionEndsTheProgramWithoutItsExitRoutines) {
    struct Case {
        const char *library, *function, *report;
    };
    const Case cases[] = {
        {"kernel32.dll", "Process32First",
         "运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件中的输出命令“Process32First”\r\n"},
        {"kernel32.dll", "CloseHandle",
         "运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件“kernel32”中的输出命令“CloseHandle”\r\n"},
    };
    for (const Case& c : cases) {
        StartReady("Enable=false\r\n");
        const std::string before = Config();
        ClientComesUpAs("client.exe");
        hooks::RemoveExport(c.library, c.function);
        headless::Click(Ctl::按钮_启动);
        EXPECT_TRUE(headless::Ended());
        EXPECT_EQ(headless::ExitCode(), -1);
        ASSERT_FALSE(headless::MessageBoxes().empty());
        EXPECT_EQ(headless::MessageBoxes().back().text, c.report);
        EXPECT_EQ(headless::MessageBoxes().back().caption, "错误");
        EXPECT_EQ(Config(), before);
        sk::ReleaseWindowsFunctions();
        hooks::ResetProcesses();
    }
}

TEST_F(Client, UndeclaredLibrariesAreSearchedInOrderAndTheUnusedOnesFreed) {
    StartReady();
    ClientComesUpAs("client.exe");
    hooks::MoveExport("CreateToolhelp32Snapshot", "kernel32.dll", "user32.dll");
    headless::Click(Ctl::按钮_启动);
    ExpectState(true);
    const std::vector<std::string> events = hooks::LibraryEvents();
    ASSERT_GE(events.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 5),
              (std::vector<std::string>{"load kernel32.dll", "free kernel32.dll", "load gdi32.dll",
                                        "free gdi32.dll", "load user32.dll"}));
    headless::ChooseFromTrayMenu(Menu::退出);  // the normal end frees what stayed loaded
    int loads = 0;
    for (const std::string& e : hooks::LibraryEvents()) loads += e[0] == 'l' ? 1 : -1;
    EXPECT_EQ(loads, 0);
}

TEST_F(Client, DelayOfNothingReturnsAtOnce) {
    Start();
    const std::uint32_t before = hooks::Now();
    sk::Delay(0);
    sk::Delay(-5);
    EXPECT_EQ(hooks::Now(), before);
    EXPECT_TRUE(sk::RunProgram("x", false, 0));
    EXPECT_TRUE(sk::RunProgram("x", false, 9));
    EXPECT_TRUE(sk::RunProgram("x", true));
    const auto& runs = hooks::ProgramsStarted();
    EXPECT_EQ(runs[0].showState, 0);  // clamped to 1: hidden
    EXPECT_EQ(runs[1].showState, 6);  // clamped to 6: minimised without activation
    EXPECT_EQ(runs[2].showState, 1);  // omitted: normal
    EXPECT_TRUE(runs[2].waitForExit);
}

using LogAndAbout = Client;

TEST_F(LogAndAbout, LogOpensBesideTheClientOrBareWithoutOne) {
    StartReady();
    headless::ChooseFromTrayMenu(Menu::打开日志);
    headless::DropFiles({""});
    headless::ChooseFromTrayMenu(Menu::打开日志);
    const auto& calls = hooks::ShellCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].file, WinDir() + "kcptun.log");
    EXPECT_EQ(calls[1].file, "kcptun.log");
    EXPECT_EQ(calls[0].verb, std::optional<std::string>("open"));
    EXPECT_EQ(calls[0].parameters, std::nullopt);
    EXPECT_EQ(calls[0].directory, std::optional<std::string>(""));
    EXPECT_EQ(calls[0].showState, 1);
    EXPECT_EQ(calls[0].owner, platform::WindowHandle{});
}

TEST_F(LogAndAbout, AboutShowsItsTextThenOpensTheHomePage) {
    Start();
    hooks::SetTopLevelWindow("Microsoft Internet Explorer", platform::WindowHandle{0x4242});
    headless::WhileMessageBoxIsUp([] { EXPECT_TRUE(hooks::ShellCalls().empty()); });
    headless::ChooseFromTrayMenu(Menu::关于);
    ASSERT_EQ(headless::MessageBoxes().size(), 1u);
    EXPECT_EQ(headless::MessageBoxes()[0].text,
              "制作：skiplane.example\r\n请勿用于商业用途。\r\n当前版本：" SKIPLANE_VERSION);
    EXPECT_EQ(headless::MessageBoxes()[0].caption, "信息：");
    headless::ClickStatusBar(400, 7, 0);
    headless::ClickStatusBar(3, 3, 1);
    const auto& calls = hooks::ShellCalls();
    ASSERT_EQ(calls.size(), 3u);
    for (const auto& call : calls) {
        EXPECT_EQ(call.file, "http://skiplane.example/");
        EXPECT_EQ(call.verb, std::optional<std::string>("open"));
        EXPECT_EQ(call.directory, std::nullopt);
        EXPECT_EQ(call.owner, platform::WindowHandle{0x4242});
    }
}

// Log-off and shut-down: the session's end records what 退出 records, without a box, with the
// running state of the moment it was asked (the session may end the client first); it leaves
// the window and its icon to the session. A cancelled end changes nothing.
TEST_F(Client, TheSessionsEndRecordsTheClientAsItRanWhenAsked) {
    for (const bool clientGone : {false, true}) {
        StartReady("Enable=false\r\n");
        ClientComesUpAs("client.exe");
        headless::Click(Ctl::按钮_启动);
        const std::string before = Config();
        headless::AskEndSession();
        headless::EndSession(false);
        EXPECT_EQ(Config(), before);
        ExpectState(true);

        headless::AskEndSession();
        if (clientGone) hooks::EndProcess(client_);  // the session ended it first
        Retype(Ctl::编辑框_备注说明, "东京");
        const std::size_t trayCalls = headless::TrayCalls().size();
        headless::TakeJournal();
        headless::EndSession(true);
        EXPECT_FALSE(headless::Ended());
        EXPECT_EQ(headless::TrayCalls().size(), trayCalls);
        const std::vector<std::string> journal = headless::TakeJournal();
        EXPECT_NE(std::find(journal.begin(), journal.end(), "tray retries stopped"), journal.end());
        EXPECT_TRUE(Messages().empty());
        EXPECT_TRUE(hooks::ProcessNames().empty());
        const std::string config = Config();
        EXPECT_NE(config.find("Enable=true\r\n"), std::string::npos) << clientGone;
        EXPECT_NE(config.find("Current node=0\r\n"), std::string::npos);
        EXPECT_NE(config.find("remarks=东京\r\n"), std::string::npos);
        hooks::ResetProcesses();
    }
}

// While the end is asked nothing restarts; refused, the window shows the client that ended
// meanwhile as stopped, and waking restarts again.
TEST_F(Client, ARefusedEndShowsTheClientAsItIsAndLetsRestartsBackIn) {
    StartReady();
    ClientComesUpAs("client.exe");
    headless::Click(Ctl::按钮_启动);
    headless::AskEndSession();
    headless::Wake();
    EXPECT_EQ(hooks::ProgramsStarted().size(), 1u);
    headless::EndSession(false);
    headless::Wake();
    EXPECT_EQ(hooks::ProgramsStarted().size(), 2u);

    headless::AskEndSession();
    hooks::EndProcess(client_);
    ExpectState(true);
    headless::EndSession(false);
    ExpectState(false);
    EXPECT_TRUE(Messages().empty());
}

// A save that another program's handle keeps out would say so in a box; at the session's end
// nobody is left to answer it, and it would hold the end up.
TEST_F(Client, AtTheSessionsEndASaveKeptOutShowsNoBox) {
    StartReady();
    const platform::FileHandle held = platform::HoldFileExclusively(WinDir() + "config.ini");
    ASSERT_TRUE(platform::IsSet(held));
    headless::EndSession(true);
    EXPECT_TRUE(Messages().empty());
    platform::ReleaseHeldFile(held);
}

// Waking from sleep restarts a running client with the same command line, silently; a client
// that does not come back is a failed start; a stopped client stays stopped.
TEST_F(Client, WakingRestartsARunningClientWithTheSameCommandLine) {
    StartReady();
    ClientComesUpAs("client.exe");
    headless::Click(Ctl::按钮_启动);
    const std::uint32_t first = client_;
    Retype(Ctl::编辑框_加速IP, "9.9.9.9");  // not saved, not started: not part of the restart
    headless::TakeJournal();
    headless::Wake();
    ASSERT_EQ(hooks::ProgramsStarted().size(), 2u);
    EXPECT_EQ(hooks::ProgramsStarted()[1].commandLine, hooks::ProgramsStarted()[0].commandLine);
    EXPECT_EQ(hooks::TerminatedProcesses(), std::vector<std::uint32_t>{first});
    EXPECT_TRUE(hooks::Watching(client_));
    EXPECT_NE(client_, first);
    EXPECT_TRUE(headless::TakeJournal().empty());  // the window never left the running state
    EXPECT_TRUE(Messages().empty());

    // A restart that fails says so in a balloon, with the log's reason: nobody may be there.
    hooks::OnProgramStart(nullptr);
    headless::TakeJournal();
    headless::Wake();
    EXPECT_TRUE(Messages().empty());
    std::vector<std::string> failed = kStoppedOrder;
    failed.push_back("warning balloon Skiplane: KCPTun 重新启动失败。\r\n"
                     "客户端没有留下任何输出，请确认 KCPTun目录 指向 kcptun 客户端。");
    EXPECT_EQ(headless::TakeJournal(), failed);
    ExpectState(false);
    headless::Wake();
    EXPECT_EQ(hooks::ProgramsStarted().size(), 3u);
}

// The new client would fail on the port the old one holds: the restart waits for the old tree's
// end, 5 s at the most, and then starts anyway.
TEST_F(Client, ARestartWaitsForTheOldClientsEndFiveSecondsAtMost) {
    for (const std::uint32_t linger : {3000u, 9000u}) {
        StartReady();
        ClientComesUpAs("client.exe");
        headless::Click(Ctl::按钮_启动);
        hooks::EndedProcessesLinger(linger);
        std::vector<std::string> running;
        hooks::OnProgramStart([&](const std::string&) {
            running = hooks::ProcessNames();
            client_ = hooks::AddProcess("client.exe", hooks::LastJob());
        });
        const std::uint32_t woke = hooks::Now();
        headless::Wake();
        const std::uint32_t waited = hooks::Now() - woke - 2000;  // the start check's wait follows
        ExpectState(true);
        EXPECT_TRUE(hooks::Watching(client_));
        if (linger == 3000u) {
            EXPECT_TRUE(running.empty());
            EXPECT_GE(waited, 3000u);
            EXPECT_LT(waited, 3200u);
        } else {
            EXPECT_EQ(running, std::vector<std::string>{"client.exe"});
            EXPECT_GE(waited, 5000u);
            EXPECT_LT(waited, 5200u);
        }
        hooks::ResetProcesses();
    }
}

// What comes in while the restart waits: a stop, a quit or the session's end leave nothing to
// start; another wake-up is part of the running restart.
TEST_F(Client, WhatComesInDuringARestartsWaitDecidesWhetherItStarts) {
    struct Case {
        std::function<void()> meanwhile;
        std::size_t starts;
    };
    const Case cases[] = {
        {[] { headless::Click(Ctl::按钮_停止); }, 1},
        {[] { headless::ChooseFromTrayMenu(Menu::退出); }, 1},
        {[] { headless::AskEndSession(); }, 1},
        {[] { headless::Wake(); }, 2},
    };
    for (const Case& c : cases) {
        StartReady();
        ClientComesUpAs("client.exe");
        headless::Click(Ctl::按钮_启动);
        hooks::EndedProcessesLinger(1000);
        hooks::DuringNextWait(c.meanwhile);
        headless::Wake();
        EXPECT_EQ(hooks::ProgramsStarted().size(), c.starts);
        EXPECT_TRUE(Messages().empty());
        hooks::ResetProcesses();
    }
}

// A click focuses the button it disables: the focus goes on to the one that takes over.
TEST_F(Client, TheFocusMovesToTheButtonThatTakesOver) {
    StartReady();
    ClientComesUpAs("client.exe");
    headless::Click(Ctl::按钮_启动);
    EXPECT_EQ(headless::Focus(), Ctl::按钮_停止);
    headless::Click(Ctl::按钮_停止);
    EXPECT_EQ(headless::Focus(), Ctl::按钮_启动);
}

}  // namespace
}  // namespace scenario
