// The control model's rules, on whichever window this build has: the in-memory one on Linux,
// a real Win32 window under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"
#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#endif
#include "version.h"
#include "ui/controls.h"
#ifndef _WIN32
#include "platform/headless/user.h"
#else
#include <windows.h>
#endif

namespace {

using ui::Ctl;
using ui::Event;
using ui::EventArgs;

std::vector<std::string> g_log;
std::thread::id g_handlerThread;

template <Ctl c>
bool LogChange(const EventArgs&) {
    g_log.push_back(std::string(ui::Def(c).name) + "=" + ui::Content(c));
    g_handlerThread = std::this_thread::get_id();
    return true;
}
template <Ctl c>
bool LogClick(const EventArgs&) {
    g_log.push_back(std::string("click ") + ui::Def(c).name);
    return true;
}
bool LogSelected(const EventArgs&) {
    g_log.push_back("selected");
    return true;
}
bool LogDrop(const EventArgs& a) {
    g_log.push_back("dropped " + a.text);
    return true;
}
// Like the program's window update: a change of one box writes another.
bool DownloadChanged(const EventArgs& a) {
    LogChange<Ctl::编辑框_下载宽带>(a);
    ui::SetContent(Ctl::编辑框_rcvwnd, ui::Content(Ctl::编辑框_下载宽带) + "0");
    return true;
}

const std::vector<ui::Binding>& TestEvents() {
    static const std::vector<ui::Binding> table = {
        {Event::ContentChanged, Ctl::编辑框_下载宽带, ui::Menu::Count, DownloadChanged},
        {Event::ContentChanged, Ctl::编辑框_rcvwnd, ui::Menu::Count, LogChange<Ctl::编辑框_rcvwnd>},
        {Event::ContentChanged, Ctl::编辑框_备注说明, ui::Menu::Count, LogChange<Ctl::编辑框_备注说明>},
        {Event::Click, Ctl::选择框_开机启动, ui::Menu::Count, LogClick<Ctl::选择框_开机启动>},
        {Event::ItemSelected, Ctl::列表框_列表, ui::Menu::Count, LogSelected},
        {Event::FileReceived, Ctl::拖放对象_目录, ui::Menu::Count, LogDrop},
    };
    return table;
}

int OpenWindow() { return ui::Open(TestEvents()) ? 0 : 1; }

class ControlModel : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
#ifdef _WIN32
        static bool opened = OpenWindow() == 0;
        ASSERT_TRUE(opened);
#else
        ASSERT_EQ(headless::Launch(OpenWindow), 0);
#endif
    }
    void SetUp() override {
        while (ui::ListItemCount(Ctl::列表框_列表) > 0) ui::ListDeleteItem(Ctl::列表框_列表, 0);
        g_log.clear();
    }
};

TEST_F(ControlModel, ContentWriteRaisesChangedOnceAfterTheTextIsInPlaceEvenWhenEqual) {
    ui::SetContent(Ctl::编辑框_备注说明, "香港");
    ui::SetContent(Ctl::编辑框_备注说明, "香港");
    EXPECT_EQ(g_log, (std::vector<std::string>{"编辑框_备注说明=香港", "编辑框_备注说明=香港"}));
    EXPECT_EQ(ui::Content(Ctl::编辑框_备注说明), "香港");
}

TEST_F(ControlModel, NestedContentWritesRaiseEachBoxOnceInOrder) {
    ui::SetContent(Ctl::编辑框_下载宽带, "12");
    EXPECT_EQ(g_log, (std::vector<std::string>{"编辑框_下载宽带=12", "编辑框_rcvwnd=120"}));
    EXPECT_EQ(ui::Content(Ctl::编辑框_rcvwnd), "120");
}

TEST_F(ControlModel, ComboSelectionClampsAndRaisesNothing) {
    struct Case { int written, read; const char* content; };
    for (Case c : {Case{5, 4, "fast3"}, Case{2, 2, "fast"}, Case{-7, -1, ""}, Case{0, 0, "default"},
                   Case{-1, -1, ""}, Case{3, 3, "fast2"}}) {
        ui::SetSelection(Ctl::组合框_加速模式, c.written);
        EXPECT_EQ(ui::Selection(Ctl::组合框_加速模式), c.read) << c.written;
        EXPECT_EQ(ui::Content(Ctl::组合框_加速模式), c.content) << c.written;
    }
    EXPECT_TRUE(g_log.empty());
}

TEST_F(ControlModel, ListSelectionClampsAndRaisesNoItemSelected) {
    ui::SetSelection(Ctl::列表框_列表, 0);
    EXPECT_EQ(ui::Selection(Ctl::列表框_列表), -1);  // empty list: always none
    for (const char* t : {"a", "b", "c"}) ui::ListAddItem(Ctl::列表框_列表, t);
    ui::SetSelection(Ctl::列表框_列表, 10);
    EXPECT_EQ(ui::Selection(Ctl::列表框_列表), 2);
    ui::SetSelection(Ctl::列表框_列表, -3);
    EXPECT_EQ(ui::Selection(Ctl::列表框_列表), -1);
    ui::SetSelection(Ctl::列表框_列表, 1);
    EXPECT_EQ(ui::Selection(Ctl::列表框_列表), 1);
    EXPECT_TRUE(g_log.empty());
}

TEST_F(ControlModel, ListCommands) {
    EXPECT_EQ(ui::ListAddItem(Ctl::列表框_列表, "节点一"), 0);
    EXPECT_EQ(ui::ListAddItem(Ctl::列表框_列表, "b"), 1);
    EXPECT_EQ(ui::ListAddItem(Ctl::列表框_列表, "c"), 2);
    ui::SetSelection(Ctl::列表框_列表, 1);

    EXPECT_FALSE(ui::ListSetItemText(Ctl::列表框_列表, 3, "x"));  // == count
    EXPECT_FALSE(ui::ListSetItemText(Ctl::列表框_列表, -1, "x"));
    EXPECT_TRUE(ui::ListSetItemText(Ctl::列表框_列表, 1, "b"));   // own text: no change
    EXPECT_TRUE(ui::ListSetItemText(Ctl::列表框_列表, 1, "香港(1.2.3.4:2333)"));
    EXPECT_EQ(ui::ListItemCount(Ctl::列表框_列表), 3);
    EXPECT_EQ(ui::ListItemText(Ctl::列表框_列表, 0), "节点一");
    EXPECT_EQ(ui::ListItemText(Ctl::列表框_列表, 1), "香港(1.2.3.4:2333)");
    EXPECT_EQ(ui::ListItemText(Ctl::列表框_列表, 2), "c");
    EXPECT_EQ(ui::Selection(Ctl::列表框_列表), 1);  // the renamed item stays selected

    EXPECT_FALSE(ui::ListDeleteItem(Ctl::列表框_列表, 3));
    EXPECT_TRUE(ui::ListDeleteItem(Ctl::列表框_列表, 0));
    EXPECT_EQ(ui::ListItemText(Ctl::列表框_列表, 0), "香港(1.2.3.4:2333)");
    EXPECT_EQ(ui::ListItemCount(Ctl::列表框_列表), 2);
    EXPECT_TRUE(g_log.empty());
}

TEST_F(ControlModel, StatusBarPanelsOutsideTheBarAreIgnored) {
    ui::StatusBarSetText(1, "状态：正在运行！");
    ui::StatusBarSetText(3, "x");
    ui::StatusBarSetText(-1, "y");
    EXPECT_EQ(ui::StatusBarText(0), "当前版本：Ver1.0");
    EXPECT_EQ(ui::StatusBarText(1), "状态：正在运行！");
    EXPECT_EQ(ui::StatusBarText(2), ui::kStatusPanelTexts[2]);
    ui::StatusBarSetText(1);
    EXPECT_EQ(ui::StatusBarText(1), "");
    ui::StatusBarSetText(1, "状态：未启动！");
}

TEST_F(ControlModel, CheckedAndDisabledWritesRaiseNoEvent) {
    ui::SetChecked(Ctl::选择框_开机启动, true);
    EXPECT_TRUE(ui::Checked(Ctl::选择框_开机启动));
    ui::SetChecked(Ctl::选择框_开机启动, false);
    EXPECT_FALSE(ui::Checked(Ctl::选择框_开机启动));
    ui::SetDisabled(Ctl::按钮_启动, true);
    EXPECT_TRUE(ui::Disabled(Ctl::按钮_启动));
    ui::SetDisabled(Ctl::按钮_启动, false);
    EXPECT_FALSE(ui::Disabled(Ctl::按钮_启动));
    EXPECT_TRUE(ui::Disabled(Ctl::按钮_停止));  // as the window starts
    EXPECT_TRUE(g_log.empty());
}

TEST_F(ControlModel, InputModeSwitchKeepsTheText) {
    ui::SetContent(Ctl::编辑框_验证密匙, "s3cret");
    ui::SetInputMode(Ctl::编辑框_验证密匙, ui::InputMode::Normal);
    EXPECT_EQ(ui::Content(Ctl::编辑框_验证密匙), "s3cret");
    ui::SetInputMode(Ctl::编辑框_验证密匙, ui::InputMode::Password);
    EXPECT_EQ(ui::Content(Ctl::编辑框_验证密匙), "s3cret");
}

TEST_F(ControlModel, WritesFromAnotherThreadRunOnTheWindowThreadWhileTheWriterWaits) {
    std::atomic<bool> done{false};
    std::string seenByWorker;
    std::thread worker([&] {
        ui::SetWindowCaption("Skiplane   Ver" SKIPLANE_VERSION "，发现新版本");
        ui::SetContent(Ctl::编辑框_备注说明, "worker");
        seenByWorker = ui::WindowCaption();  // the write has taken effect when it returns
        done = true;
    });
    while (!done) platform::PumpMessages();
    worker.join();
    EXPECT_EQ(seenByWorker, "Skiplane   Ver" SKIPLANE_VERSION "，发现新版本");
    EXPECT_EQ(g_log, (std::vector<std::string>{"编辑框_备注说明=worker"}));
    EXPECT_EQ(g_handlerThread, std::this_thread::get_id());
    ui::SetWindowCaption("Skiplane   Ver1.0");
}

TEST(TypingFilter, EachInputModeAdmitsItsCharacters) {
    using ui::InputMode;
    struct Case { InputMode mode; const char* admitted; const char* refused; };
    const Case cases[] = {
        {InputMode::Integer, "0123456789-\b\x03\x16", "a.+ Z"},
        {InputMode::Decimal, "0123456789-.\b", "ax+ :"},
        {InputMode::Normal, "aZ.:- \xB0", ""},
        {InputMode::Password, "aZ.:-", ""},
        {InputMode::ReadOnly, "\b\x03", "a1-"},
    };
    for (const Case& c : cases) {
        for (const char* p = c.admitted; *p; ++p)
            EXPECT_TRUE(ui::AdmitsTypedChar(c.mode, static_cast<unsigned char>(*p)))
                << static_cast<int>(c.mode) << " '" << *p << "'";
        for (const char* p = c.refused; *p; ++p)
            EXPECT_FALSE(ui::AdmitsTypedChar(c.mode, static_cast<unsigned char>(*p)))
                << static_cast<int>(c.mode) << " '" << *p << "'";
    }
}

}  // namespace

namespace {

TEST_F(ControlModel, WindowIconIsOne48x48ImageOf32BitsAsACompleteIconFile) {
    const sk::Bytes icon = ui::WindowIcon();
    ASSERT_EQ(icon.size(), 9662u);
    const sk::Bytes header(icon.begin(), icon.begin() + 8);
    EXPECT_EQ(header, (sk::Bytes{0, 0, 1, 0, 1, 0, 48, 48}));  // icon, one image, 48x48
    EXPECT_EQ(icon[12] | icon[13] << 8, 32);                   // bits per pixel
    const std::uint32_t imageSize = icon[14] | icon[15] << 8 | icon[16] << 16 | icon[17] << 24;
    const std::uint32_t imageOffset = icon[18] | icon[19] << 8 | icon[20] << 16 | icon[21] << 24;
    EXPECT_EQ(imageOffset, 22u);
    EXPECT_EQ(imageOffset + imageSize, 9662u);
}

#ifdef _WIN32
// Files dropped from Explorer arrive as WM_DROPFILES, which a program run as administrator still
// receives from a non-elevated Explorer (an OLE drop cannot cross integrity levels; Microsoft's
// documentation of ChangeWindowMessageFilterEx). Elevation itself cannot be had under Wine.
TEST_F(ControlModel, Win32OnlyFilesDroppedAsWmDropFilesArriveAsOneText) {
    ASSERT_TRUE(ui::RegisterDropTarget(Ctl::拖放对象_目录, ui::GetWindowHandle()));
    HWND main = platform::NativeOf<HWND__>(ui::GetWindowHandle());
    EXPECT_TRUE(GetWindowLongA(main, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    const char paths[] = "C:\\a\\client.exe\0D:\\東區\\b.exe\0";  // double zero at the end
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + sizeof paths);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), paths, sizeof paths);
    GlobalUnlock(memory);
    ASSERT_TRUE(PostMessageA(main, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0));
    platform::PumpMessages();
    EXPECT_EQ(g_log, std::vector<std::string>{"dropped C:\\a\\client.exe\r\nD:\\東區\\b.exe\r\n"});
}
#endif

}  // namespace

#ifdef _WIN32
namespace {

// Win32 only: told of a move to a monitor of another scale (WM_DPICHANGED), the window gives its
// controls the GUI font's face at that scale and frees the one it replaces; back at the screen's
// scale (96 DPI to this program, which declares no DPI awareness) they have the stock font again.
TEST_F(ControlModel, Win32DpiChangeGivesTheScaledGuiFontAndFreesTheReplacedOne) {
    HWND main = platform::NativeOf<HWND__>(platform::MainWindowHandle());
    HWND label = GetDlgItem(main, form::ControlId(Ctl::标签1));
    RECT place;
    ASSERT_TRUE(GetWindowRect(main, &place));
    HGDIOBJ stock = GetStockObject(DEFAULT_GUI_FONT), previous = stock;
    LOGFONTA stockFont;
    ASSERT_TRUE(GetObjectA(stock, sizeof stockFont, &stockFont));
    for (int dpi : {144, 120, 96}) {
        SendMessageA(main, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&place));
        auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(label, WM_GETFONT, 0, 0));
        LOGFONTA lf{};
        ASSERT_TRUE(GetObjectA(font, sizeof lf, &lf)) << dpi;
        EXPECT_EQ(lf.lfHeight, MulDiv(stockFont.lfHeight, dpi, 96)) << dpi;
        EXPECT_STREQ(lf.lfFaceName, stockFont.lfFaceName);
        EXPECT_EQ(font == stock, dpi == 96);
        if (previous != stock) {
            EXPECT_EQ(GetObjectType(previous), 0u) << "not freed at " << dpi;
        }
        previous = font;
    }
}

}  // namespace
#endif
