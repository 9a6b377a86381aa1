// Message boxes, exit routines and the fatal runtime error report.
#include "tests/scenarios/harness.h"
#include "services/runtime.h"

namespace scenario {
namespace {

std::vector<std::string> g_ran;

int FailWithCode() {
    sk::RegisterExitRoutine([] { g_ran.push_back("exit routine"); });
    sk::RuntimeErrorReport("调用DLL命令后发现堆栈错误", 6);
}

int FailWithoutCode() { sk::RuntimeErrorReport("载入启动窗口失败"); }

int EndNormally() {
    auto first = [] { g_ran.push_back("first"); };
    auto second = [] { g_ran.push_back("second"); };
    sk::RegisterExitRoutine(first);
    sk::RegisterExitRoutine(second);
    sk::RegisterExitRoutine(first);  // once only
    app::EndProgram(0);
}

TEST(RuntimeErrorReport, ShowsCodeAndMessageSkipsExitRoutinesAndExitsMinusOne) {
    g_ran.clear();
    headless::Launch(FailWithCode);
    EXPECT_TRUE(headless::Ended());
    EXPECT_EQ(headless::ExitCode(), -1);
    EXPECT_TRUE(g_ran.empty());
    ASSERT_EQ(headless::MessageBoxes().size(), 1u);
    const auto& box = headless::MessageBoxes()[0];
    EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n");
    EXPECT_EQ(box.caption, "错误");
    EXPECT_EQ(box.style, 0x10u);  // error icon, OK button
    EXPECT_EQ(box.owner, platform::WindowHandle{});

    headless::Launch(FailWithoutCode);
    EXPECT_EQ(headless::MessageBoxes()[0].text, "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n");
}

TEST(ExitRoutines, RunOnceEachInRegistrationOrderAtANormalEnd) {
    g_ran.clear();
    headless::Launch(EndNormally);
    EXPECT_EQ(headless::ExitCode(), 0);
    EXPECT_EQ(g_ran, (std::vector<std::string>{"first", "second"}));
}

int AskThings() {
    struct Case { unsigned flags; int answer; int result; };
    for (Case c : {Case{4, IDYES, sk::kYes}, Case{4, IDNO, sk::kNo}, Case{0, IDOK, sk::kOk},
                   Case{1, 2, sk::kCancel}, Case{2, 3, sk::kAbort}, Case{2, 4, sk::kRetry},
                   Case{2, 5, sk::kIgnore}, Case{0, 99, sk::kOk}}) {
        headless::AnswerMessageBoxes({c.answer});
        EXPECT_EQ(sk::ShowMessageBox("问题", c.flags), c.result) << c.answer;
    }
    sk::ShowMessageBox("系统", 0x1000, sk::Text("标题"), platform::WindowHandle{77});
    return 0;
}

TEST(ShowMessageBox, MapsButtonsDefaultsTheCaptionAndIsTaskModal) {
    headless::Launch(AskThings);
    const auto& boxes = headless::MessageBoxes();
    ASSERT_EQ(boxes.size(), 9u);
    EXPECT_EQ(boxes[0].caption, "信息：");
    EXPECT_EQ(boxes[0].style, 0x2004u);
    EXPECT_EQ(boxes[2].style, 0x2000u);
    EXPECT_EQ(boxes[8].caption, "标题");
    EXPECT_EQ(boxes[8].style, 0x1000u);  // system-modal stays as asked
    EXPECT_EQ(boxes[8].owner, platform::WindowHandle{77});
}

}  // namespace
}  // namespace scenario
