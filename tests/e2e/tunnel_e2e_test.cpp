// What the real kcptun client tells, on the real Skiplane.exe under Wine: why a start failed,
// in the words of the log it left, and the balloon when it is killed while running. Arguments:
// --kcptun=<kcptun client for Windows>.

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

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

    void Launch(int localPort, const std::string& other) {
        ASSERT_TRUE(e2e::WriteFileBytes(
            ConfigPath(),
            e2e::Lines({"[BasisConfig]", "ExeFile=" + client_, "[BroadbandConfig]", "Mtu=1350",
                        "Sndwnd=128", "Rcvwnd=512", "[NodeList]", "Quantity=1", "Current node=0",
                        "[Node1]", "local_port=" + std::to_string(localPort),
                        "server_port=29900", "server=127.0.0.1", "mode=2", "other=" + other})));
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
    EXPECT_EQ(app_.StatusText(1), "状态：未启动！");
    EXPECT_TRUE(app_.Enabled(Ctl::按钮_启动));
    EXPECT_FALSE(app_.Enabled(Ctl::按钮_停止));
    EXPECT_TRUE(e2e::SaveScreenshot(e2e::ArtifactsDir() + "\\skiplane-balloon.bmp"));
}

}  // namespace
