// Start-up, the notification icon and its menu, hiding on close and the one way out.
#include <algorithm>
#include <vector>

#include "tests/scenarios/harness.h"
#include "version.h"
#include "app/config.h"
#include "services/runtime.h"
#include "services/storage.h"

#include <cstring>

namespace scenario {
namespace {

using headless::TrayCalls;
using platform::TrayOp;

std::string Tip(const platform::TrayRecord& r) { return std::string(r.tip, strnlen(r.tip, 64)); }

const char* const kStoppedTip = "Skiplane   Ver" SKIPLANE_VERSION "\r\n状态：未启动！";

const char* const kTwoNodes =
    "[BasisConfig]\r\nRun=true\r\n"
    "[BroadbandConfig]\r\nUP=10\r\nDOWN=100\r\nMtu=1350\r\nSndwnd=256\r\nRcvwnd=1024\r\n"
    "[NodeList]\r\nQuantity=2\r\nCurrent node=1\r\n"
    "[Node1]\r\nremarks=香港\r\nlocal_port=1080\r\nserver_port=4000\r\nserver=1.2.3.4\r\n"
    "key=k1\r\nmode=2\r\ndscp=46\r\nother=-nocomp\r\n"
    "[Node2]\r\nremarks=\r\nlocal_port=1081\r\nserver_port=29900\r\nserver=5.6.7.8\r\n"
    "key=\r\nmode=4\r\ndscp=\r\nother=\r\n";

using StartUp = AppTest;

TEST_F(StartUp, FirstStartInAnEmptyFolderShowsTheFormDefaultsAndWritesNothing) {
    Start();
    EXPECT_EQ(ui::WindowCaption(), "Skiplane   Ver" SKIPLANE_VERSION);
    EXPECT_EQ(ui::StatusBarText(0), "当前版本：Ver" SKIPLANE_VERSION);
    EXPECT_EQ(ui::StatusBarText(1), "状态：未启动！");
    EXPECT_TRUE(ui::WindowVisible());
    EXPECT_EQ(Items(), 0);
    EXPECT_EQ(Selected(), -1);
    for (Ctl c : {Ctl::编辑框_本地端口, Ctl::编辑框_加速端口, Ctl::编辑框_加速IP, Ctl::编辑框_验证密匙,
                  Ctl::编辑框_dscp, Ctl::编辑框_其他参数, Ctl::编辑框_备注说明, Ctl::组合框_加速模式,
                  Ctl::选择框_验证密匙}) {
        EXPECT_TRUE(ui::Disabled(c)) << ui::Def(c).name;
    }
    EXPECT_EQ(Field(Ctl::组合框_加速模式), "fast2");
    EXPECT_EQ(Field(Ctl::编辑框_mtu), "1400");
    EXPECT_EQ(Field(Ctl::编辑框_上传宽带), "");
    EXPECT_EQ(Field(Ctl::编辑框_sndwnd), "");  // the stored empty value follows the computed one
    EXPECT_EQ(Field(Ctl::编辑框_rcvwnd), "");
    EXPECT_EQ(Field(Ctl::编辑框_目录), "");
    EXPECT_FALSE(ui::Checked(Ctl::选择框_开机启动));
    EXPECT_FALSE(ui::MenuDisabled(Menu::打开日志));
    EXPECT_TRUE(ui::MenuDisabled(Menu::显示));
    EXPECT_TRUE(ui::MenuDisabled(Menu::停止));
    EXPECT_FALSE(ui::Disabled(Ctl::按钮_启动));

    ASSERT_EQ(TrayCalls().size(), 1u);
    const platform::TrayRecord& r = TrayCalls()[0].record;
    EXPECT_EQ(TrayCalls()[0].op, TrayOp::Add);
    EXPECT_EQ(r.size, 88u);
    EXPECT_EQ(r.id, 100u);
    EXPECT_EQ(r.flags, 7u);
    EXPECT_EQ(r.callbackMessage, 0x8064u);
    EXPECT_TRUE(platform::IsSet(r.icon));
    EXPECT_EQ(r.window, ui::GetWindowHandle());
    EXPECT_EQ(Tip(r), kStoppedTip);

    EXPECT_FALSE(ConfigExists());
}

TEST_F(StartUp, StoredSettingsFillTheWindow) {
    GivenConfig(kTwoNodes);
    Start();
    ASSERT_EQ(Items(), 2);
    EXPECT_EQ(Item(0), "香港(1.2.3.4:4000)");
    EXPECT_EQ(Item(1), "5.6.7.8:29900");
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(Field(Ctl::编辑框_加速IP), "5.6.7.8");
    EXPECT_EQ(Field(Ctl::编辑框_本地端口), "1081");
    EXPECT_EQ(Field(Ctl::组合框_加速模式), "fast3");
    EXPECT_FALSE(ui::Disabled(Ctl::编辑框_加速IP));
    EXPECT_TRUE(ui::Checked(Ctl::选择框_开机启动));
    EXPECT_EQ(Field(Ctl::编辑框_上传宽带), "10");
    EXPECT_EQ(Field(Ctl::编辑框_下载宽带), "100");
    EXPECT_EQ(Field(Ctl::编辑框_mtu), "1350");
    EXPECT_EQ(Field(Ctl::编辑框_sndwnd), "256");  // stored values win over the computed ones
    EXPECT_EQ(Field(Ctl::编辑框_rcvwnd), "1024");
}

TEST_F(StartUp, CurrentNodeIsClampedIntoTheList) {
    struct Case { const char* current; int selected; };
    for (Case c : {Case{"5", 1}, Case{"-1", 0}, Case{"-9", 0}, Case{"abc", 0}, Case{nullptr, 0}}) {
        std::string file = "[NodeList]\r\nQuantity=2\r\n";
        if (c.current) file += std::string("Current node=") + c.current + "\r\n";
        file += "[Node1]\r\nserver=a\r\nserver_port=1\r\n[Node2]\r\nserver=b\r\nserver_port=2\r\n";
        GivenConfig(file);
        Start();
        EXPECT_EQ(Selected(), c.selected) << (c.current ? c.current : "(missing)");
        EXPECT_EQ(Field(Ctl::编辑框_加速IP), c.selected == 0 ? "a" : "b");
    }
}

TEST_F(StartUp, MissingSectionsGiveBareColonItems) {
    GivenConfig("[NodeList]\r\nQuantity=3\r\n[Node1]\r\nserver=a\r\nserver_port=1\r\n"
                "[Node3]\r\nserver=c\r\nserver_port=3\r\n");
    Start();
    ASSERT_EQ(Items(), 3);
    EXPECT_EQ(Item(1), ":");
    headless::SelectItem(Ctl::列表框_列表, 1);
    EXPECT_EQ(Field(Ctl::编辑框_加速IP), "");
    EXPECT_EQ(Field(Ctl::组合框_加速模式), "fast2");
}

// A plausible Quantity (up to 10,000) is believed as it is: sections that are missing list as
// blank nodes. Only a larger, corrupt one is cut by the sections: the list runs to the last node
// section up to which positions without a section are no more than the sections, so it neither
// lists blank nodes by the thousand, which the next save would make permanent, nor makes
// start-up walk a billion positions.
TEST_F(StartUp, APlausibleQuantityIsBelievedAndOnlyACorruptOneIsCutByTheSections) {
    struct Case {
        const char* quantity;
        std::vector<int> sections;
        int items;
    };
    const Case cases[] = {
        {"3", {1, 2, 3}, 3},
        {"3", {1, 3}, 3},             // a gap: a blank node between
        {"10", {1, 8, 9, 10}, 10},    // none of the real nodes hidden
        {"4", {1, 3}, 4},
        {"2", {1, 2, 3}, 2},          // never beyond Quantity
        {"10000", {1}, 10000},
        {"10001", {1, 2, 3}, 3},      // corrupt: not 9,998 blank nodes
        {"20000", {1, 2, 4, 5, 6}, 6},
        {"20000", {2}, 2},
        {"20000", {3}, 0},            // more blanks than sections before it
        {"2000000000", {1, 999999999}, 1},
        {"2147483647", {}, 0},
        {"-5", {1}, 0},
    };
    for (const Case& c : cases) {
        std::string file = std::string("[NodeList]\r\nQuantity=") + c.quantity + "\r\n";
        for (int k : c.sections)
            file += "[Node" + std::to_string(k) + "]\r\nserver=s" + std::to_string(k) + "\r\n";
        GivenConfig(file);
        Start();
        ASSERT_EQ(Items(), c.items) << c.quantity << " with " << c.sections.size() << " sections";
        for (int p = 0; p < c.items; ++p) {
            const bool there = std::count(c.sections.begin(), c.sections.end(), p + 1) > 0;
            EXPECT_EQ(Item(p), there ? "s" + std::to_string(p + 1) + ":" : std::string(":"));
        }
        EXPECT_EQ(Config(), file);  // read, not repaired
    }
}

// Where a corrupt Quantity is cut, the node sections are found by the names the reads take: any
// letter case, blanks inside the brackets, also in a UTF-16 file; a name with a leading zero is
// no node's.
TEST_F(StartUp, NodeSectionsAreCountedAsTheReadsFindThem) {
    GivenConfig("[NodeList]\r\nQuantity=40000\r\n[node1]\r\nserver=a\r\n[ NODE2 ]\r\nserver=b\r\n"
                "[Node03]\r\nserver=c\r\n");
    Start();
    EXPECT_EQ(Items(), 2);
    std::u16string text = u"[NodeList]\r\nQuantity=90000\r\n[Node1]\r\nserver=东\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char16_t u : text) utf16 += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    GivenConfig(utf16);
    Start();
    ASSERT_EQ(Items(), 1);
    EXPECT_EQ(Item(0), "东:");
}

TEST_F(StartUp, AFileReadOnceIsReadAgainAfterAWrite) {
    GivenConfig("[A]\r\nk=1\r\n");
    Start();
    const app::ConfigReadOnce once;
    EXPECT_EQ(app::ReadConfig("A", "k"), "1");
    GivenConfig("[A]\r\nk=2\r\n");  // changed behind the program's back: not seen yet
    EXPECT_EQ(app::ReadConfig("A", "k"), "1");
    app::WriteConfig("A", "j", "x");
    EXPECT_EQ(app::ReadConfig("A", "k"), "2");
    EXPECT_EQ(app::ReadConfig("A", "j"), "x");
}

TEST_F(StartUp, FlagsAreTrueOnlyForLowercaseTrue) {
    for (const char* run : {"TRUE", "1", "true ", "True"}) {
        GivenConfig(std::string("[BasisConfig]\r\nRun=") + run + "\r\n");
        Start();
        // "true " is read without its trailing blank, as the profile reader drops it.
        EXPECT_EQ(ui::Checked(Ctl::选择框_开机启动), std::string(run) == "true ") << run;
    }
}

TEST_F(StartUp, UploadAloneComputesTheSendWindowWhichTheStoredEmptyValueThenClears) {
    GivenConfig("[BroadbandConfig]\r\nUP=10\r\n");
    Start();
    EXPECT_EQ(Field(Ctl::编辑框_上传宽带), "10");
    EXPECT_EQ(Field(Ctl::编辑框_sndwnd), "");
}

TEST_F(StartUp, ClientPathIsKeptOnlyWhenTheFileExists) {
    std::ofstream(dir_ + "/client_windows_386.exe") << "MZ";
    GivenConfig("[BasisConfig]\r\nExeFile=" + dir_ + "/client_windows_386.exe\r\n");
    Start();
    EXPECT_EQ(Field(Ctl::编辑框_目录), dir_ + "/client_windows_386.exe");
    EXPECT_EQ(app::ClientExeName, dir_ + "/client_windows_386.exe");  // no backslash in it
    EXPECT_EQ(app::ClientDirectory, "");

    GivenConfig("[BasisConfig]\r\nExeFile=" + dir_ + "\\missing\\client.exe\r\n");
    Start();
    EXPECT_EQ(Field(Ctl::编辑框_目录), "");
    EXPECT_EQ(app::ClientExeName, "");
    EXPECT_EQ(app::ClientDirectory, "");
    EXPECT_FALSE(ui::MenuDisabled(Menu::打开日志));  // enabled whether or not the file exists
    EXPECT_EQ(Config(), "[BasisConfig]\r\nExeFile=" + dir_ + "\\missing\\client.exe\r\n");
}

using Tray = AppTest;

TEST_F(Tray, CloseAndEscHideTheWindowAndEnableShow) {
    Start();
    headless::RequestClose();
    EXPECT_FALSE(headless::Ended());
    EXPECT_FALSE(ui::WindowVisible());
    EXPECT_FALSE(ui::MenuDisabled(Menu::显示));

    headless::TrayMouse(0x202);  // left button up on the icon
    EXPECT_TRUE(ui::WindowVisible());
    EXPECT_TRUE(ui::MenuDisabled(Menu::显示));

    headless::PressEsc();
    EXPECT_FALSE(headless::Ended());
    EXPECT_FALSE(ui::WindowVisible());
    headless::ChooseFromTrayMenu(Menu::显示);
    EXPECT_TRUE(ui::WindowVisible());
    EXPECT_TRUE(ui::MenuDisabled(Menu::显示));
}

TEST_F(Tray, DoubleClickSequenceShowsThenRaisesWithoutLeavingTheWindowOnTop) {
    Start();
    headless::RequestClose();
    for (unsigned msg : {0x202u, 0x203u, 0x202u}) headless::TrayMouse(msg);
    EXPECT_TRUE(ui::WindowVisible());
    EXPECT_FALSE(headless::TopMost());
    EXPECT_EQ(headless::TopMostChanges(), 4);  // on and off for each click on a shown window
    EXPECT_TRUE(ui::MenuDisabled(Menu::显示));
}

TEST_F(Tray, OtherMouseMessagesAreIgnored) {
    Start();
    headless::RequestClose();
    for (unsigned msg : {0x200u, 0x201u, 0x204u, 0x206u}) headless::TrayMouse(msg);
    EXPECT_FALSE(ui::WindowVisible());
    EXPECT_TRUE(headless::Popups().empty());
}

TEST_F(Tray, RightButtonAndContextMenuOpenTheMenuBuiltFromTheItemsStates) {
    Start();
    headless::TrayMouse(0x205);
    headless::TrayMouse(0x7B);
    ASSERT_EQ(headless::Popups().size(), 2u);
    const auto& entries = headless::Popups()[0];
    struct Want { int command; const char* caption; bool separator, disabled; };
    const Want want[] = {{20001, "显示", false, true},      {20002, "-", true, false},
                         {20003, "启动", false, false},     {20004, "停止", false, true},
                         {20005, "打开日志", false, false}, {20006, "-", true, false},
                         {20007, "检测版本", false, false}, {20008, "关于", false, false},
                         {20009, "退出", false, false}};
    ASSERT_EQ(entries.size(), std::size(want));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].command, want[i].command);
        EXPECT_EQ(entries[i].caption, want[i].caption);
        EXPECT_EQ(entries[i].separator, want[i].separator) << i;
        EXPECT_EQ(entries[i].disabled, want[i].disabled) << i;
    }

    // A caption changed meanwhile shows in the next popup.
    ui::SetMenuCaption(Menu::检测版本, "发现新版本，点击下载！");
    headless::TrayMouse(0x205);
    EXPECT_EQ(headless::Popups().back()[6].caption, "发现新版本，点击下载！");
}

TEST_F(Tray, GreyedItemsAndSeparatorsDoNothing) {
    Start();
    headless::ChooseFromTrayMenu(Menu::显示);  // greyed while the window is shown
    headless::ChooseFromTrayMenu(Menu::分隔1);
    EXPECT_FALSE(headless::Ended());
    EXPECT_TRUE(ui::WindowVisible());
}

TEST_F(Tray, TipIsCutAt62BytesWithoutSplittingACharacter) {
    Start();
    // 60 ASCII bytes, then a double-byte character at bytes 61-62: it fits.
    ui::SetTrayIcon(ui::WindowIcon(), std::string(60, 'a') + "状态");
    EXPECT_EQ(Tip(TrayCalls().back().record), std::string(60, 'a') + "状");
    // 61 ASCII bytes: the character would take bytes 62-63, so the tip ends at 61.
    ui::SetTrayIcon(ui::WindowIcon(), std::string(61, 'a') + "状态");
    EXPECT_EQ(Tip(TrayCalls().back().record), std::string(61, 'a'));
    // 0x80 is a character of one byte in code page 936: as byte 62 it stays.
    ui::SetTrayIcon(ui::WindowIcon(), std::string(61, 'a') + "\x80" "b");
    EXPECT_EQ(Tip(TrayCalls().back().record), std::string(61, 'a') + "\x80");
    ui::SetTrayIcon(ui::WindowIcon(), std::string(70, 'b'));
    EXPECT_EQ(Tip(TrayCalls().back().record), std::string(62, 'b'));
    EXPECT_EQ(TrayCalls().back().op, TrayOp::Modify);
    EXPECT_EQ(headless::LiveIcons(), 1);  // each replaced icon handle is destroyed
}

TEST_F(Tray, IconComesBackWithItsCurrentTipWhenTheTaskbarIsRecreated) {
    Start();
    ui::SetTrayIcon(ui::WindowIcon(), std::string("Skiplane   Ver" SKIPLANE_VERSION "\r\n状态：正在运行！"));
    headless::TaskbarRecreated();
    EXPECT_EQ(TrayCalls().back().op, TrayOp::Add);
    EXPECT_EQ(Tip(TrayCalls().back().record), "Skiplane   Ver" SKIPLANE_VERSION "\r\n状态：正在运行！");
    EXPECT_EQ(TrayCalls().back().record.flags, 7u);
}

TEST_F(Tray, EmptyIconRemovesTheIconAndANewOneIsAddedAgain) {
    Start();
    ui::SetTrayIcon({}, std::string("x"));
    EXPECT_EQ(TrayCalls().back().op, TrayOp::Delete);
    EXPECT_EQ(TrayCalls().back().record.flags, 0u);
    EXPECT_EQ(headless::LiveIcons(), 0);
    std::size_t calls = TrayCalls().size();
    ui::SetTrayIcon({}, std::string("x"));  // nothing to remove
    EXPECT_EQ(TrayCalls().size(), calls);
    ui::SetTrayIcon(ui::WindowIcon(), std::string("y"));
    EXPECT_EQ(TrayCalls().back().op, TrayOp::Add);
}

using Exit = AppTest;

TEST_F(Exit, QuitRecordsStateSavesTheNodeRemovesTheIconAndEndsWithZero) {
    GivenConfig(kTwoNodes);
    Start();
    Retype(Ctl::编辑框_备注说明, "东京");
    headless::ChooseFromTrayMenu(Menu::退出);
    ASSERT_TRUE(headless::Ended());
    EXPECT_EQ(headless::ExitCode(), 0);
    EXPECT_EQ(TrayCalls().back().op, TrayOp::Delete);
    EXPECT_EQ(headless::LiveIcons(), 0);
    EXPECT_EQ(Config(),
              "[BasisConfig]\r\nRun=true\r\nEnable=false\r\n"
              "[BroadbandConfig]\r\nUP=10\r\nDOWN=100\r\nMtu=1350\r\nSndwnd=256\r\nRcvwnd=1024\r\n"
              "[NodeList]\r\nQuantity=2\r\nCurrent node=1\r\n"
              "[Node1]\r\nremarks=香港\r\nlocal_port=1080\r\nserver_port=4000\r\nserver=1.2.3.4\r\n"
              "key=k1\r\nmode=2\r\ndscp=46\r\nother=-nocomp\r\n"
              "[Node2]\r\nremarks=东京\r\nlocal_port=1081\r\nserver_port=29900\r\nserver=5.6.7.8\r\n"
              "key=\r\nmode=4\r\ndscp=\r\nother=\r\n");

    headless::TrayMouse(0x202);  // nothing reacts after the end
    EXPECT_FALSE(ui::WindowVisible());
}

TEST_F(Exit, QuitWithNothingSelectedWritesOnlyTheFlagsAndMinusOne) {
    Start();
    headless::ChooseFromTrayMenu(Menu::退出);
    EXPECT_EQ(headless::ExitCode(), 0);
    EXPECT_EQ(Config(), "[BasisConfig]\r\nEnable=false\r\n[NodeList]\r\nCurrent node=-1\r\n");
    Restart();
    EXPECT_EQ(Items(), 0);
}

// The process ends where the end is called: a scope that would save on leaving saves nothing.
TEST_F(Exit, AnEndInsideWritesThatBelongTogetherLandsNoneOfThem) {
    GivenConfig("[NodeList]\r\nQuantity=1\r\n");
    headless::Launch([]() -> int {
        sk::InitRunDirectory();
        const app::ConfigWritesTogether together;
        app::WriteConfig("NodeList", "Quantity", "0");
        sk::RuntimeErrorReport("");
    });
    EXPECT_TRUE(headless::Ended());
    EXPECT_EQ(headless::ExitCode(), -1);
    EXPECT_EQ(Config(), "[NodeList]\r\nQuantity=1\r\n");
}

// A second start in the same folder (any ASCII case) asks the running copy back and ends with 0,
// reading and writing nothing; the running copy comes back shown, restored and in front.
TEST_F(StartUp, ASecondCopyInTheSameFolderOnlyCallsTheFirstBack) {
    std::string folder = WinDir().substr(0, WinDir().size() - 1);  // without its backslash
    for (char& c : folder) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    headless::OtherCopyRunsAt(folder);
    EXPECT_EQ(headless::Launch(app::Main), 0);
    headless::OtherCopyRunsAt("");
    EXPECT_EQ(headless::CopiesAskedToComeBack(), 1);
    EXPECT_FALSE(ConfigExists());
    EXPECT_FALSE(ui::WindowVisible());

    Start();
    EXPECT_TRUE(ui::WindowVisible());  // no copy runs any more
    for (const bool minimized : {false, true}) {
        headless::RequestClose();
        if (minimized) headless::Minimize();
        headless::StartAnotherCopy();
        EXPECT_TRUE(ui::WindowVisible());
        EXPECT_FALSE(headless::Minimized());
        EXPECT_TRUE(ui::MenuDisabled(Menu::显示));
    }
}

// A minimised window comes back restored by a tray click, also after it was hidden, and by 显示,
// which is enabled once it is hidden.
TEST_F(Tray, AMinimisedWindowComesBackRestored) {
    Start();
    struct Case {
        const char* name;
        std::function<void()> bringBack;
    };
    const Case cases[] = {
        {"click", [] { headless::TrayMouse(0x202); }},
        {"double click", [] { headless::TrayMouse(0x203); }},
        {"显示", [] { headless::ChooseFromTrayMenu(Menu::显示); }},
    };
    for (const Case& c : cases) {
        for (const bool hidden : {false, true}) {
            if (!hidden && std::string(c.name) == "显示") continue;
            headless::Minimize();
            if (hidden) headless::RequestClose();
            c.bringBack();
            EXPECT_TRUE(ui::WindowVisible()) << c.name << hidden;
            EXPECT_FALSE(headless::Minimized()) << c.name << hidden;
        }
    }
}

// Without an icon (the shell refused it) a close minimises: a hidden window could not come back.
TEST_F(Tray, WithoutAnIconTheCloseBoxMinimises) {
    headless::FailTrayAdds(1);
    Start();
    headless::RequestClose();
    EXPECT_TRUE(ui::WindowVisible());
    EXPECT_TRUE(headless::Minimized());
    headless::TaskbarRecreated();  // the shell is ready now: the icon is added again
    headless::TrayMouse(0x202);
    headless::RequestClose();
    EXPECT_FALSE(ui::WindowVisible());
}

}  // namespace
}  // namespace scenario
