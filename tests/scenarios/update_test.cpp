// The update check against a local server: what a newer, an equal, an older or a broken
// version file makes the window show, and in which order.
#include "tests/scenarios/harness.h"
#include "version.h"

#include <unistd.h>

#include <memory>

#include "tests/support/http_server.h"

namespace scenario {
namespace {

namespace hooks = platform::hooks;

const char* const kFoundCaption = "Skiplane   Ver" SKIPLANE_VERSION "  -  发现新版本！v1.0.4";
const char* const kFoundMessage = "Skiplane 检测到最新版本 Ver1.0.4 ，请访问项目主页更新。";

std::string VersionFile(const std::string& latest, const std::string& number) {
    return testhttp::Ok("[Skiplane]\r\n最新版本=" + latest + "\r\n版本号=" + number + "\r\n");
}

class Update : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        server_ = std::make_unique<testhttp::Server>();
        ASSERT_NE(server_->Port(), 0);
        app::VersionFileUrl = server_->Url("/Ver.ini");
        app::HomePageUrl = "http://home.example/";
    }
    void StartAndWait() {
        Start();
        hooks::FinishThreads();
    }
    void CheckByHand() {
        headless::ChooseFromTrayMenu(Menu::检测版本);
        hooks::FinishThreads();
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& box : headless::MessageBoxes()) texts.push_back(box.text);
        return texts;
    }
    bool VersionFileLeft() const { return std::filesystem::exists(dir_ + "/Ver.ini"); }

    std::unique_ptr<testhttp::Server> server_;
};

TEST_F(Update, ANewerVersionAtStartUpShowsCaptionMessageHomePageAndMenuInThatOrder) {
    server_->Serve("/Ver.ini", VersionFile("1.0.4", "5"));
    headless::WhileMessageBoxIsUp([] {
        EXPECT_EQ(ui::WindowCaption(), kFoundCaption);
        EXPECT_TRUE(hooks::ShellCalls().empty());
        EXPECT_EQ(ui::MenuCaption(Menu::检测版本), "检测版本");
    });
    StartAndWait();
    ASSERT_EQ(Texts(), std::vector<std::string>{kFoundMessage});
    EXPECT_EQ(headless::MessageBoxes()[0].caption, "Skiplane 检测版本");
    EXPECT_EQ(headless::MessageBoxes()[0].style, 0x2000u);
    EXPECT_EQ(headless::MessageBoxes()[0].owner, platform::WindowHandle{});
    ASSERT_EQ(hooks::ShellCalls().size(), 1u);
    EXPECT_EQ(hooks::ShellCalls()[0].file, "http://home.example/");
    EXPECT_TRUE(hooks::ShellCalls()[0].fromWorker);  // the worker ends right after
    EXPECT_EQ(ui::MenuCaption(Menu::检测版本), "发现新版本，点击下载！");
    EXPECT_EQ(ui::WindowCaption(), kFoundCaption);
    EXPECT_FALSE(VersionFileLeft());

    // Now the menu item opens the home page and asks the server nothing.
    const std::size_t requests = server_->Requests().size();
    CheckByHand();
    ASSERT_EQ(hooks::ShellCalls().size(), 2u);
    EXPECT_FALSE(hooks::ShellCalls()[1].fromWorker);
    EXPECT_EQ(server_->Requests().size(), requests);
    EXPECT_EQ(Texts().size(), 1u);
}

TEST_F(Update, TheRequestHasItsFixedForm) {
    server_->Serve("/Ver.ini", VersionFile(SKIPLANE_VERSION, SKIPLANE_VERSION_NUMBER));
    StartAndWait();
    ASSERT_EQ(server_->Requests().size(), 1u);
    const std::string head = server_->Requests()[0];
    EXPECT_EQ(head.rfind("GET /Ver.ini HTTP/1.0\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"),
              std::string::npos);
    EXPECT_NE(head.find("Accept: */*\r\n"), std::string::npos);
}

TEST_F(Update, VersionFilesThatAreNotNewer) {
    struct Case {
        const char* name;
        std::string response;
        bool manualMessage;  // "没有发现新版本" for a check by hand
    };
    const Case cases[] = {
        {"equal version text", VersionFile(SKIPLANE_VERSION, "9"), false},
        {"older number", VersionFile("1.0.2", "4"), true},
        {"number not a number", VersionFile("1.0.4", "x5"), true},
        {"no number", testhttp::Ok("[Skiplane]\r\n最新版本=1.0.4\r\n"), true},
        {"no version text", testhttp::Ok("[Skiplane]\r\n版本号=9\r\n"), false},
        {"no section", testhttp::Ok("[Other]\r\n最新版本=1.0.4\r\n版本号=9\r\n"), false},
        {"an error page", "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nNot found", false},
        {"an empty body", testhttp::Ok(""), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_->Serve("/Ver.ini", c.response);
        StartAndWait();
        EXPECT_TRUE(Texts().empty());  // at start-up: silent
        CheckByHand();
        EXPECT_EQ(Texts(), c.manualMessage ? std::vector<std::string>{"Skiplane 没有发现新版本。"}
                                           : std::vector<std::string>{});
        EXPECT_EQ(ui::WindowCaption(), "Skiplane   Ver" SKIPLANE_VERSION);
        EXPECT_EQ(ui::MenuCaption(Menu::检测版本), "检测版本");
        EXPECT_TRUE(hooks::ShellCalls().empty());
        EXPECT_FALSE(VersionFileLeft());
    }
}

TEST_F(Update, FullWidthDigitsCountAsDigits) {
    server_->Serve("/Ver.ini", VersionFile("1.0.4", "５"));
    StartAndWait();
    EXPECT_EQ(Texts(), std::vector<std::string>{kFoundMessage});
}

TEST_F(Update, ACheckByHandWhileOneRunsDoesNothing) {
    server_->ServeStalled("/Ver.ini");
    Start();
    for (int i = 0; i < 200 && server_->Requests().empty(); ++i) usleep(5000);
    headless::ChooseFromTrayMenu(Menu::检测版本);
    headless::ChooseFromTrayMenu(Menu::检测版本);
    EXPECT_EQ(hooks::ThreadsRunning(), 2);  // the one check and its transfer
    EXPECT_EQ(server_->Connections(), 1);
    server_.reset();  // the stalled connection closes: the check ends without an outcome
    hooks::FinishThreads();
    EXPECT_EQ(hooks::ThreadsRunning(), 0);
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(ui::WindowCaption(), "Skiplane   Ver" SKIPLANE_VERSION);
}

// 退出 while the check waits for a server: the quit does not wait for the worker, and the
// worker finishes on its own copies after the program's state and internet handle are gone.
TEST_F(Update, AQuitDuringACheckIsInstantAndTheCheckEndsCleanly) {
    server_->ServeSlowly("/Ver.ini", VersionFile("1.0.4", "5"), 8, 100);
    Start();
    headless::ChooseFromTrayMenu(Menu::退出);
    EXPECT_TRUE(headless::Ended());
    EXPECT_GE(hooks::ThreadsRunning(), 1);  // the check was still running at the quit
    hooks::FinishThreads();
    EXPECT_EQ(hooks::ThreadsRunning(), 0);
    EXPECT_FALSE(VersionFileLeft());  // an ended program writes nothing
    EXPECT_TRUE(headless::MessageBoxes().empty());
}

}  // namespace
}  // namespace scenario
