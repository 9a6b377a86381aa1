// What the real kcptun client tells, on the real Skiplane.exe under Wine: why a start failed,
// in the words of the log it left, the balloon when it is killed while running, and whether
// Debian's kcptun-server on loopback answers the program's own probe. Arguments:
// --kcptun=<kcptun client for Windows>, --tunnel-server=<kcptun-server's UDP port, key
// skiplane-e2e; the next port has one without crypt or FEC> (run_e2e.sh passes them).

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "form/window_table.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/fixture.h"
#include "tests/e2e/net.h"
#include "tests/e2e/processes.h"

using form::Ctl;

namespace {

class TunnelE2E : public e2e::SandboxTest {
protected:
    TunnelE2E() : SandboxTest("skiplane-tunnel") {}

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SandboxTest::SetUp());
        sandbox_.KillAtEnd("kcptun-client.exe");
        const std::string kcptun = e2e::ToWindowsPath(e2e::ArgValue("kcptun"));
        ASSERT_FALSE(kcptun.empty()) << "pass --kcptun (scripts/build-kcptun.sh builds it)";
        const std::string dir = Dir() + "\\客户端";
        client_ = dir + "\\kcptun-client.exe";
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
        ASSERT_TRUE(CopyFileA(kcptun.c_str(), client_.c_str(), FALSE)) << kcptun;
    }

    void Launch(int localPort, const std::string& other, int serverPort = 29900,
                const std::string& key = "") {
        ASSERT_TRUE(e2e::WriteFileBytes(
            ConfigPath(),
            e2e::Lines({"[BasisConfig]", "ExeFile=" + client_, "[BroadbandConfig]", "Mtu=1350",
                        "Sndwnd=128", "Rcvwnd=512", "[NodeList]", "Quantity=1", "Current node=0",
                        "[Node1]", "local_port=" + std::to_string(localPort),
                        "server_port=" + std::to_string(serverPort), "server=127.0.0.1",
                        "key=" + key, "mode=2", "other=" + other})));
        StartProgram(app_);
    }

    // Starts the client and answers the box its failed start brings up; its text.
    std::string FailedStartBox() {
        if (!app_.Click(Ctl::按钮_启动)) return "no click";
        e2e::MessageBoxInfo box;
        if (!app_.WaitMessageBox(&box)) return "no box";
        e2e::App::PressMessageBoxButton(box, IDOK);
        Settle();
        return box.caption + "|" + box.text;
    }

    // Starts the client and waits out the start's two-second check.
    void StartAndCheck() {
        ASSERT_TRUE(app_.Click(Ctl::按钮_启动));
        ASSERT_TRUE(e2e::WaitUntil([] { return e2e::FindProcess("kcptun-client.exe") != 0; }));
        Sleep(2600);
        Settle();
        ASSERT_EQ(app_.StatusText(1), "状态：正在运行！");
    }

    std::string client_;
};

// Wine has no text for error 10048: Go writes "winapi error #10048" there, where a Chinese
// Windows writes its own message, which the program shows converted from UTF-8.
TEST_F(TunnelE2E, AFailedStartSaysWhyInTheClientsOwnWords) {
    const e2e::EchoServer taken;  // holds the local port
    ASSERT_GT(taken.Port(), 0);
    const std::string port = std::to_string(taken.Port());
    Launch(taken.Port(), "");
    EXPECT_EQ(FailedStartBox(), "信息：|KCPTun 启动失败！\r\n本地端口 " + port +
                                    " 无法监听：已被其他程序占用，或被系统保留。\r\n"
                                    "客户端输出：listen tcp :" + port +
                                    ": bind: winapi error #10048");

    ASSERT_TRUE(app_.Retype(Ctl::编辑框_本地端口, std::to_string(taken.Port() + 1)));
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_其他参数, "-bogus"));
    EXPECT_EQ(FailedStartBox(),
              "信息：|KCPTun 启动失败！\r\n其他参数中有客户端不认识的参数：-bogus\r\n"
              "客户端输出：Incorrect Usage. flag provided but not defined: -bogus");
}

// Explorer shows a balloon 2 s after the icon's change. A killed client's log holds no error
// line, so its balloon has no reason.
TEST_F(TunnelE2E, AKilledClientShowsTheBalloonAndAStopShowsNone) {
    const int port = e2e::EchoServer().Port();  // free again once the server is gone
    ASSERT_GT(port, 0);
    Launch(port, "");
    ASSERT_NO_FATAL_FAILURE(StartAndCheck());
    ASSERT_TRUE(app_.Click(Ctl::按钮_停止));
    EXPECT_FALSE(e2e::WaitForBalloon(4000));

    ASSERT_NO_FATAL_FAILURE(StartAndCheck());
    ASSERT_TRUE(e2e::KillProcess(e2e::FindProcess("kcptun-client.exe")));
    const std::optional<e2e::Balloon> balloon = e2e::WaitForBalloon(5000);
    ASSERT_TRUE(balloon);
    EXPECT_EQ(balloon->title, "Skiplane");
    EXPECT_EQ(balloon->text, "KCPTun 已意外退出。");
    EXPECT_EQ(balloon->icon, NIIF_WARNING);
    EXPECT_EQ(app_.StatusText(1), "状态：未启动！");  // the buttons follow: a scenario's check
    EXPECT_TRUE(e2e::SaveScreenshot(e2e::ArtifactsDir() + "\\skiplane-balloon.bmp"));
}

// The first round of asking ends 4.5 s after the check at the latest; explorer shows a balloon
// 2 s after it is sent.
TEST_F(TunnelE2E, TheServerIsAskedAsTheClientWouldFrameItsPackets) {
    const int server = std::atoi(e2e::ArgValue("tunnel-server").c_str());
    ASSERT_GT(server, 0) << "pass --tunnel-server";
    const int local = e2e::EchoServer().Port();
    ASSERT_GT(local, 0);
    const auto noAnswer = [](int port) {
        return "服务器 127.0.0.1:" + std::to_string(port) +
               " 没有回应。\r\n请检查加速 IP、加速端口、验证密匙和加密方式，以及 UDP 是否被防火墙拦截。";
    };
    const struct {
        int port;
        std::string key, other;
        bool answers;
    } cases[] = {
        {server, "skiplane-e2e", "", true},
        {server + 1, "skiplane-e2e", "-crypt none -ds 0 -ps 0", true},
        {server, "wrong-key", "", false},
        {e2e::EchoServer().Port(), "skiplane-e2e", "", false},  // nothing listens on UDP there
    };
    for (const auto& c : cases) {
        Launch(local, c.other, c.port, c.key);
        ASSERT_NO_FATAL_FAILURE(StartAndCheck());
        const std::optional<e2e::Balloon> balloon = e2e::WaitForBalloon(c.answers ? 12000 : 10000);
        if (c.answers) {
            EXPECT_FALSE(balloon) << c.other << ": " << balloon->text;
        } else {
            ASSERT_TRUE(balloon) << c.port << " " << c.key;
            EXPECT_EQ(balloon->text, noAnswer(c.port));
            EXPECT_EQ(balloon->icon, NIIF_WARNING);
            e2e::SaveScreenshot(e2e::ArtifactsDir() + "\\skiplane-no-answer.bmp");
        }
        app_.PostMenuCommand(form::Menu::退出);
        app_.WaitExit();
        ASSERT_TRUE(e2e::WaitProcessGone("kcptun-client.exe"));
    }
}

// Wine reports no address that comes or goes: the driver posts the program's own message, and
// the real path goes on from there.
TEST_F(TunnelE2E, AnAddressChangeStartsAFreshClientAfterThreeQuietSeconds) {
    const int local = e2e::EchoServer().Port();
    ASSERT_GT(local, 0);
    Launch(local, "");
    ASSERT_NO_FATAL_FAILURE(StartAndCheck());
    const DWORD first = e2e::FindProcess("kcptun-client.exe");
    ASSERT_TRUE(e2e::PostAddressChange(app_));
    Settle();
    Sleep(2000);
    EXPECT_EQ(e2e::FindProcess("kcptun-client.exe"), first);  // the network is left to settle
    EXPECT_TRUE(e2e::WaitUntil([&] {
        const DWORD now = e2e::FindProcess("kcptun-client.exe");
        return now != 0 && now != first;
    }, 4000));
    Sleep(2600);  // the fresh client's check
    Settle();
    EXPECT_EQ(app_.StatusText(1), "状态：正在运行！");
    EXPECT_FALSE(app_.Enabled(Ctl::按钮_启动));
}

}  // namespace
