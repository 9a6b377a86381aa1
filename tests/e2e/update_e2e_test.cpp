// Autostart and the update check on the real program under Wine. The update cases run a build
// whose version file and home page are on a loopback server of the test's own.
//
// Arguments besides --skiplane and --artifacts: --skiplane-local-site=<Skiplane.exe built for
// http://127.0.0.1:<site-port>/>, --site-port=<its port>, --browser=<Unix recorder script>.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/e2e/driver.h"
#include "version.h"
#include "tests/e2e/fixture.h"
#include "tests/support/http_server.h"
#include "form/window_table.h"

using form::Ctl;

namespace {

const char* const kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string RunValue(HKEY root) {
    char data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueA(root, kRunKey, "Skiplane", RRF_RT_REG_SZ, nullptr, data, &size)) return "";
    return data;
}

std::string VersionFile(const std::string& latest, const std::string& number) {
    return testhttp::Ok("[Skiplane]\r\n最新版本=" + latest + "\r\n版本号=" + number + "\r\n");
}

class UpdateE2E : public e2e::SandboxTest {
protected:
    UpdateE2E() : SandboxTest("skiplane-update", "skiplane-local-site") {}

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SandboxTest::SetUp());
        const int port = std::atoi(e2e::ArgValue("site-port").c_str());
        ASSERT_GT(port, 0) << "pass --site-port";
        site_ = "http://127.0.0.1:" + std::to_string(port) + "/";
        server_ = std::make_unique<testhttp::Server>(port);
        ASSERT_EQ(server_->Port(), port);

        const std::string browser = e2e::ArgValue("browser");
        ASSERT_FALSE(browser.empty()) << "pass --browser=<Unix path of a recording script>";
        browserLog_ = e2e::ToWindowsPath(browser.substr(0, browser.rfind('/')) + "/e2e-browser.log");
        DeleteFileA(browserLog_.c_str());
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
        RegSetValueExA(key, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(browser.c_str()),
                       static_cast<DWORD>(browser.size() + 1));
        RegCloseKey(key);
    }
    void TearDown() override {
        app_.Kill();
        server_.reset();
        SandboxTest::TearDown();
    }
    void Launch() { StartProgram(app_); }
    bool Asked(std::size_t requests) const {
        return e2e::WaitUntil([&] { return server_->Requests().size() >= requests; });
    }

    std::string site_, browserLog_;
    std::unique_ptr<testhttp::Server> server_;
};

TEST_F(UpdateE2E, ANewerVersionIsFoundAtStartUpWhileTheWindowStaysUsable) {
    server_->Serve("/Ver.ini", VersionFile("1.0.4", "5"));
    Launch();
    e2e::MessageBoxInfo box;
    ASSERT_TRUE(app_.WaitMessageBox(&box));
    EXPECT_EQ(box.caption, "Skiplane 检测版本");
    EXPECT_EQ(box.text, "Skiplane 检测到最新版本 Ver1.0.4 ，请访问项目主页更新。");
    EXPECT_EQ(app_.Caption(), "Skiplane   Ver" SKIPLANE_VERSION "  -  发现新版本！v1.0.4");
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_mtu, "1200"));  // the box belongs to the check's thread
    ASSERT_TRUE(app_.Sync());
    EXPECT_EQ(app_.Text(Ctl::编辑框_mtu), "1200");
    EXPECT_TRUE(e2e::FileExists(Dir() + "\\Ver.ini"));  // only while the check runs
    EXPECT_FALSE(e2e::FileExists(browserLog_)) << "the home page opened before the box closed";
    EXPECT_TRUE(e2e::SaveScreenshot(e2e::ArtifactsDir() + "\\skiplane-update-found.bmp"));
    ASSERT_TRUE(e2e::App::PressMessageBoxButton(box, IDOK));
    EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::ReadFileBytes(browserLog_).empty(); }));
    EXPECT_EQ(e2e::ReadFileBytes(browserLog_), site_ + "\n");
    EXPECT_TRUE(e2e::WaitUntil([&] { return !e2e::FileExists(Dir() + "\\Ver.ini"); }));
    EXPECT_EQ(server_->Requests()[0].rfind("GET /Ver.ini HTTP/1.0\r\n", 0), 0u);
}

TEST_F(UpdateE2E, ACheckByHandFindsNoneAndTellsSo) {
    server_->Serve("/Ver.ini", VersionFile("1.0.2", "3"));
    Launch();
    ASSERT_TRUE(Asked(1));
    Sleep(500);
    EXPECT_TRUE(app_.MessageBoxes().empty()) << "the start-up check stays silent";
    ASSERT_TRUE(app_.PostMenuCommand(form::Menu::检测版本));
    e2e::MessageBoxInfo box;
    ASSERT_TRUE(app_.WaitMessageBox(&box));
    EXPECT_EQ(box.text, "Skiplane 没有发现新版本。");
    EXPECT_EQ(box.caption, "Skiplane 检测版本");
    ASSERT_TRUE(e2e::App::PressMessageBoxButton(box, IDOK));
    EXPECT_EQ(server_->Requests().size(), 2u);
    EXPECT_EQ(app_.Caption(), "Skiplane   Ver" SKIPLANE_VERSION);
    EXPECT_FALSE(e2e::FileExists(browserLog_));
}

TEST_F(UpdateE2E, HostileServersNeverHoldTheWindow) {
    const std::string flood(10 * 1024 * 1024, 'x');
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind == 0 ? "stalls" : kind == 1 ? "floods" : "drops");
        const std::size_t asked = server_->Requests().size();
        if (kind == 0) server_->ServeStalled("/Ver.ini");
        if (kind == 1) server_->Serve("/Ver.ini", testhttp::Ok(flood));
        if (kind == 2) server_->ServeDropped("/Ver.ini", "HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\n[Skip");
        Launch();
        ASSERT_TRUE(Asked(asked + 1));
        // A round trip through the window's queue while the check runs.
        const DWORD before = GetTickCount();
        ASSERT_TRUE(app_.Sync(2000)) << "the window did not answer during the check";
        std::printf("[ update   ] window answered %lu ms into the check\n",
                    static_cast<unsigned long>(GetTickCount() - before));
        if (kind == 0) {  // a check by hand while the stalled one runs starts nothing
            ASSERT_TRUE(app_.PostMenuCommand(form::Menu::检测版本));
            Sleep(1000);
            EXPECT_EQ(server_->Requests().size(), asked + 1);
        }
        Sleep(500);
        EXPECT_TRUE(app_.MessageBoxes().empty());
        ASSERT_TRUE(app_.PostMenuCommand(form::Menu::退出));
        EXPECT_EQ(app_.WaitExit(), 0u) << "quitting waits for no check";
    }
}

TEST_F(UpdateE2E, AutostartWritesTheRunValueWithTheExecutablesPath) {
    server_->Serve("/Ver.ini", VersionFile(SKIPLANE_VERSION, SKIPLANE_VERSION_NUMBER));
    Launch();
    ASSERT_TRUE(app_.Click(Ctl::选择框_开机启动));
    ASSERT_TRUE(app_.Sync());
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), Exe());
    EXPECT_NE(e2e::ReadFileBytes(Dir() + "\\config.ini").find("Run=true\r\n"), std::string::npos);
    ASSERT_TRUE(app_.Click(Ctl::选择框_开机启动));
    ASSERT_TRUE(app_.Sync());
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), "");
    EXPECT_NE(e2e::ReadFileBytes(Dir() + "\\config.ini").find("Run=false\r\n"), std::string::npos);
}

}  // namespace
