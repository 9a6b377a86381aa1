// The node list: selecting, creating, saving and deleting nodes, the bandwidth group and the
// client path. config.ini is compared byte for byte after each operation.
#include "tests/scenarios/harness.h"

#include "app/config.h"
#include "platform/files.h"
#include "services/storage.h"

namespace scenario {
namespace {

// A node section as the program writes it.
std::string Node(int n, const std::string& server, const std::string& port = "2333",
                 const std::string& remarks = "") {
    return "[Node" + std::to_string(n) + "]\r\nremarks=" + remarks +
           "\r\nlocal_port=1080\r\nserver_port=" + port + "\r\nserver=" + server +
           "\r\nkey=\r\nmode=3\r\ndscp=\r\nother=\r\n";
}

std::string NodesFile(int count, const std::string& extraBefore = "") {
    std::string file = extraBefore + "[NodeList]\r\nQuantity=" + std::to_string(count) + "\r\n";
    for (int i = 1; i <= count; ++i) file += Node(i, "10.0.0." + std::to_string(i));
    return file;
}

// The same file after deleting the node at position d (0-based): later sections renumbered.
std::string AfterDeleting(int count, int d, const std::string& extraBefore = "") {
    std::string file =
        extraBefore + "[NodeList]\r\nQuantity=" + std::to_string(count - 1) + "\r\n";
    for (int i = 1; i <= count; ++i) {
        if (i == d + 1) continue;
        file += Node(i > d + 1 ? i - 1 : i, "10.0.0." + std::to_string(i));
    }
    return file;
}

class Nodes : public AppTest {
protected:
    // Two nodes, the second retyped to 9.9.9.9 and not yet saved, while an editor holds the file
    // sharing writing: a save then waits, and after its retries rewrites the file in place.
    platform::FileHandle StartWithSecondNodeRetypedWhileHeld() {
        GivenConfig(NodesFile(2));
        Start();
        const platform::FileHandle held =
            platform::HoldFile(ConfigFile(), platform::kRead | platform::kWrite,
                               platform::kRead | platform::kWrite);
        headless::SelectItem(Ctl::列表框_列表, 1);
        Retype(Ctl::编辑框_加速IP, "9.9.9.9");
        return held;
    }
};

TEST_F(Nodes, DeletingAnyOneOfFiveRenumbersTheFollowingSections) {
    for (int d : {0, 1, 2, 3, 4}) {
        GivenConfig(NodesFile(5));
        Start();
        headless::SelectItem(Ctl::列表框_列表, d);
        headless::AnswerMessageBoxes({IDYES});
        headless::Click(Ctl::按钮_删除);
        EXPECT_EQ(Config(), AfterDeleting(5, d)) << "deleting position " << d;
        EXPECT_EQ(Items(), 4);
        EXPECT_EQ(Selected(), -1);
        EXPECT_TRUE(ui::Disabled(Ctl::编辑框_加速IP));
        EXPECT_EQ(Field(Ctl::编辑框_加速IP), "");
        EXPECT_FALSE(ui::Disabled(Ctl::列表框_列表));
    }
    ASSERT_FALSE(headless::MessageBoxes().empty());
    const auto& box = headless::MessageBoxes().back();
    EXPECT_EQ(box.text, "确定删除此节点？");
    EXPECT_EQ(box.caption, "信息：");
    EXPECT_EQ(box.style, 0x2004u);  // Yes/No, no icon, task-modal
}

TEST_F(Nodes, DeletingNode9OfTwelveNeverTakesNode1ForNode10) {
    GivenConfig(NodesFile(12));
    Start();
    headless::SelectItem(Ctl::列表框_列表, 8);
    headless::AnswerMessageBoxes({IDYES});
    headless::Click(Ctl::按钮_删除);
    EXPECT_EQ(Config(), AfterDeleting(12, 8));
    Restart();
    ASSERT_EQ(Items(), 11);
    EXPECT_EQ(Item(8), "10.0.0.10:2333");
    EXPECT_EQ(Item(10), "10.0.0.12:2333");
}

TEST_F(Nodes, RenumberingTouchesOnlyWholeSectionHeaders) {
    const std::string other =
        "; 备注 Node2 stays\r\n[Node2Backup]\r\nnote=[Node2]\r\n[node3x]\r\nNode3=kept\r\n";
    std::string file = other + "[NodeList]\r\nQuantity=3\r\n" + Node(1, "a") +
                       "  [node2]  \r\nremarks=see Node3\r\nserver=b\r\n" + Node(3, "c");
    GivenConfig(file);
    Start();
    headless::SelectItem(Ctl::列表框_列表, 0);
    headless::AnswerMessageBoxes({IDYES});
    headless::Click(Ctl::按钮_删除);
    EXPECT_EQ(Config(), other + "[NodeList]\r\nQuantity=2\r\n" +
                            "  [Node1]  \r\nremarks=see Node3\r\nserver=b\r\n" + Node(2, "c"));
}

TEST_F(Nodes, RenumberingKeepsEverythingAfterAZeroByte) {
    // Taking the file as text would stop at the zero byte and drop every node after it.
    const char raw[] = "; broken \0 line\r\n";
    const std::string comment(raw, sizeof raw - 1);
    GivenConfig(comment + NodesFile(3));
    Start();
    headless::SelectItem(Ctl::列表框_列表, 0);
    headless::AnswerMessageBoxes({IDYES});
    headless::Click(Ctl::按钮_删除);
    EXPECT_EQ(Config(), comment + AfterDeleting(3, 0));
}

TEST_F(Nodes, RenumberingRenamesEveryHeaderTheReadsTakeForANode) {
    // Headers the profile reads take for Node2, Node3 and Node4: text after the bracket, blanks
    // inside it, lines ended by CR alone, no closing bracket. Left with their old names, the
    // list would show an empty first node and the count would hide the last one.
    GivenConfig("[NodeList]\r\nQuantity=4\r\n" + Node(1, "a") +
                "[Node2] ; moved\r\nserver=b\r\n[ node3 ]\rserver=c\r[Node4\r\nserver=d\r\n");
    Start();
    headless::SelectItem(Ctl::列表框_列表, 0);
    headless::AnswerMessageBoxes({IDYES});
    headless::Click(Ctl::按钮_删除);
    EXPECT_EQ(Config(), "[NodeList]\r\nQuantity=3\r\n"
                        "[Node1] ; moved\r\nserver=b\r\n[ Node2 ]\rserver=c\r[Node3\r\nserver=d\r\n");
    Restart();
    ASSERT_EQ(Items(), 3);
    EXPECT_EQ(Item(0), "b:");
    EXPECT_EQ(Item(1), "c:");
    EXPECT_EQ(Item(2), "d:");
}

TEST_F(Nodes, DeletingTheOnlyNodeLeavesQuantityZero) {
    GivenConfig(NodesFile(1));
    Start();
    headless::SelectItem(Ctl::列表框_列表, 0);
    headless::AnswerMessageBoxes({IDYES});
    headless::Click(Ctl::按钮_删除);
    EXPECT_EQ(Config(), "[NodeList]\r\nQuantity=0\r\n");
    EXPECT_EQ(Items(), 0);
}

TEST_F(Nodes, AnsweringNoOrHavingNothingSelectedChangesNothing) {
    Start();
    headless::Click(Ctl::按钮_删除);  // nothing selected: not even a question
    EXPECT_TRUE(headless::MessageBoxes().empty());
    EXPECT_FALSE(ConfigExists());

    GivenConfig(NodesFile(3));
    Start();
    headless::SelectItem(Ctl::列表框_列表, 1);
    headless::AnswerMessageBoxes({IDNO});
    headless::Click(Ctl::按钮_删除);
    EXPECT_EQ(headless::MessageBoxes().size(), 1u);
    EXPECT_EQ(Config(), NodesFile(3));
    EXPECT_EQ(Items(), 3);
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(Field(Ctl::编辑框_加速IP), "10.0.0.2");
}

TEST_F(Nodes, NewNodeOnAnEmptyListWritesItsSectionAndTheBandwidthGroup) {
    Start();
    headless::Click(Ctl::按钮_新建);
    ASSERT_EQ(Items(), 1);
    EXPECT_EQ(Item(0), "127.0.0.1:2333");
    EXPECT_EQ(Selected(), 0);
    EXPECT_FALSE(ui::Disabled(Ctl::编辑框_加速IP));
    EXPECT_FALSE(ui::Disabled(Ctl::选择框_验证密匙));
    EXPECT_EQ(Config(),
              "[NodeList]\r\nQuantity=1\r\n"
              "[Node1]\r\nremarks=\r\nlocal_port=\r\nserver_port=2333\r\nserver=127.0.0.1\r\n"
              "key=\r\nmode=3\r\ndscp=\r\nother=\r\n"
              "[BroadbandConfig]\r\nUP=\r\nDOWN=\r\nMtu=1400\r\nSndwnd=\r\nRcvwnd=\r\n");
}

TEST_F(Nodes, NewNodeTakesTheModeThePreviousNodeShowed) {
    GivenConfig("[NodeList]\r\nQuantity=1\r\n[Node1]\r\nserver=a\r\nmode=1\r\n");
    Start();
    headless::Click(Ctl::按钮_新建);
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(app::ClientExeName, "");
    EXPECT_NE(Config().find("[Node2]\r\nremarks=\r\nlocal_port=\r\nserver_port=2333\r\n"
                            "server=127.0.0.1\r\nkey=\r\nmode=1\r\n"),
              std::string::npos);
}

TEST_F(Nodes, SaveRenamesTheItemAndSelectingAnotherDiscardsEdits) {
    GivenConfig(NodesFile(2));
    Start();
    headless::SelectItem(Ctl::列表框_列表, 0);
    Retype(Ctl::编辑框_备注说明, "HK");
    Retype(Ctl::编辑框_加速IP, "1.2.3.4");
    headless::Click(Ctl::按钮_保存);
    EXPECT_EQ(Item(0), "HK(1.2.3.4:2333)");
    EXPECT_EQ(Selected(), 0);

    Retype(Ctl::编辑框_备注说明, "");
    headless::Click(Ctl::按钮_保存);
    EXPECT_EQ(Item(0), "1.2.3.4:2333");

    Retype(Ctl::编辑框_加速IP, "9.9.9.9");  // not saved
    headless::SelectItem(Ctl::列表框_列表, 1);
    headless::SelectItem(Ctl::列表框_列表, 0);
    EXPECT_EQ(Field(Ctl::编辑框_加速IP), "1.2.3.4");
    EXPECT_EQ(Config(), "[NodeList]\r\nQuantity=2\r\n" + Node(1, "1.2.3.4") +
                            Node(2, "10.0.0.2") +
                            "[BroadbandConfig]\r\nUP=\r\nDOWN=\r\nMtu=1400\r\nSndwnd=\r\nRcvwnd=\r\n");
}

TEST_F(Nodes, WithNoNodeSelectedSavingAndQuittingStoreNoBandwidth) {
    Start();
    headless::Type(Ctl::编辑框_上传宽带, "50");
    headless::Click(Ctl::按钮_保存);
    EXPECT_FALSE(ConfigExists());
    headless::ChooseFromTrayMenu(Menu::退出);
    EXPECT_EQ(Config().find("UP"), std::string::npos);
}

TEST_F(Nodes, ModeIsClampedAndDefaultsOnlyWhenMissing) {
    struct Case { const char* line; int selected; const char* shown; };
    const Case cases[] = {{"", 3, "fast2"},           {"mode=\r\n", 0, "default"},
                          {"mode=9\r\n", 4, "fast3"}, {"mode=-1\r\n", -1, ""},
                          {"mode=2\r\n", 2, "fast"},  {"mode=-5\r\n", -1, ""}};
    for (const Case& c : cases) {
        GivenConfig(std::string("[NodeList]\r\nQuantity=1\r\n[Node1]\r\nserver=a\r\n") + c.line);
        Start();
        EXPECT_EQ(ui::Selection(Ctl::组合框_加速模式), c.selected) << c.line;
        EXPECT_EQ(Field(Ctl::组合框_加速模式), c.shown) << c.line;
    }
}

TEST_F(Nodes, BandwidthSetsTheWindowsAtTwentyPointFourEightPerMbps) {
    Start();
    struct Case { const char* typed; const char* window; };
    for (Case c : {Case{"100", "2048"}, Case{"10", "204"}, Case{"1", "20"}, Case{"-5", "-102"},
                   Case{"", "0"}}) {
        Retype(Ctl::编辑框_下载宽带, c.typed);
        EXPECT_EQ(Field(Ctl::编辑框_rcvwnd), c.window) << c.typed;
        Retype(Ctl::编辑框_上传宽带, c.typed);
        EXPECT_EQ(Field(Ctl::编辑框_sndwnd), c.window) << c.typed;
    }
    headless::Paste(Ctl::编辑框_下载宽带, "x");  // "0x" is not filtered when pasted; reads as 0
    EXPECT_EQ(Field(Ctl::编辑框_rcvwnd), "0");
    headless::Type(Ctl::编辑框_下载宽带, "a");  // refused by the filter: nothing changes
    EXPECT_EQ(Field(Ctl::编辑框_下载宽带), "x");
}

TEST_F(Nodes, KeyBoxSwitchesTheKeyBetweenMaskedAndPlain) {
    GivenConfig(NodesFile(1));
    Start();
    EXPECT_EQ(headless::InputModeOf(Ctl::编辑框_验证密匙), ui::InputMode::Password);
    headless::Click(Ctl::选择框_验证密匙);
    EXPECT_EQ(headless::InputModeOf(Ctl::编辑框_验证密匙), ui::InputMode::Normal);
    headless::Click(Ctl::选择框_验证密匙);
    EXPECT_EQ(headless::InputModeOf(Ctl::编辑框_验证密匙), ui::InputMode::Password);
}

using ClientPath = AppTest;

TEST_F(ClientPath, BrowsingConfirmsOrCancelsAndShowsThePreviousChoiceAgain) {
    Start();
    headless::AnswerFileDialogs({std::string("D:\\tools\\client.exe"), std::nullopt});
    headless::Click(Ctl::按钮_目录浏览);
    EXPECT_EQ(Field(Ctl::编辑框_目录), "D:\\tools\\client.exe");
    EXPECT_EQ(app::ClientDirectory, "D:\\tools\\");
    EXPECT_EQ(app::ClientExeName, "client.exe");
    EXPECT_EQ(Config(), "[BasisConfig]\r\nExeFile=D:\\tools\\client.exe\r\n");

    headless::Click(Ctl::按钮_目录浏览);  // cancelled
    EXPECT_EQ(Field(Ctl::编辑框_目录), "D:\\tools\\client.exe");
    EXPECT_EQ(app::ClientExeName, "client.exe");
    EXPECT_EQ(Config(), "[BasisConfig]\r\nExeFile=D:\\tools\\client.exe\r\n");

    ASSERT_EQ(headless::FileDialogs().size(), 2u);
    EXPECT_EQ(headless::FileDialogs()[0].options.filter, "KcpTun 客户端（*.exe）|*.exe||");
    EXPECT_EQ(headless::FileDialogs()[0].options.filterIndex, 1);
    EXPECT_EQ(headless::FileDialogs()[0].initialFile, "");  // opened with no file name
    EXPECT_EQ(headless::FileDialogs()[1].initialFile, "D:\\tools\\client.exe");
}

TEST_F(ClientPath, DroppedFilesBecomeThePathUnchecked) {
    Start();
    headless::DropFiles({"D:\\tools\\client.exe"});
    EXPECT_EQ(app::ClientDirectory, "D:\\tools\\");
    EXPECT_EQ(app::ClientExeName, "client.exe");
    EXPECT_EQ(Config(), "[BasisConfig]\r\nExeFile=D:\\tools\\client.exe\r\n");

    headless::DropFiles({"C:\\a.exe", "C:\\b.txt"});
    EXPECT_EQ(Field(Ctl::编辑框_目录), "C:\\a.exe\r\nC:\\b.txt\r\n");
}

TEST_F(ClientPath, TheFieldCannotBeTypedInto) {
    Start();
    headless::Type(Ctl::编辑框_目录, "C:\\x.exe");
    EXPECT_EQ(Field(Ctl::编辑框_目录), "");
}

// A deletion's writes land in one replace of the file: interrupted at any step, the file keeps
// every byte it had, never truncated and never with a count that hides a node.
TEST_F(Nodes, InterruptedDeletionLeavesTheFileWhole) {
    enum Failure { Create, WriteMidway, Replace };
    for (Failure failure : {Create, WriteMidway, Replace}) {
        GivenConfig(NodesFile(4));
        Start();
        headless::SelectItem(Ctl::列表框_列表, 1);
        headless::AnswerMessageBoxes({IDYES});
        if (failure == Create) platform::hooks::FailFileCreate();
        if (failure == WriteMidway) platform::hooks::FailFileWrite(40);
        if (failure == Replace) platform::hooks::FailReplace();
        headless::Click(Ctl::按钮_删除);
        platform::hooks::ClearFailures();

        EXPECT_EQ(Config(), NodesFile(4)) << static_cast<int>(failure);
        EXPECT_FALSE(std::filesystem::exists(ConfigFile() + ".new"));
        // Still in the file, so still in the list, selected as it was.
        EXPECT_EQ(Items(), 4);
        EXPECT_EQ(Item(1), "10.0.0.2:2333");
        EXPECT_EQ(Selected(), 1);
        EXPECT_FALSE(ui::Disabled(Ctl::列表框_列表));
    }
}

// --- config.ini held open by another program ------------------------------------------------

// The message boxes shown, but the deletion's question.
std::vector<std::string> Shown() {
    std::vector<std::string> texts;
    for (const auto& box : headless::MessageBoxes())
        if (box.text != "确定删除此节点？") texts.push_back(box.text);
    return texts;
}

// A program that has config.ini open for writing and shares only reading (a sync client, a
// backup): nothing can be written. Each handler that asked for a write says so once, and what
// the window shows stays as the file has it.
TEST_F(Nodes, WritesNothingCanMakeSayItOnceEachAndTheListKeepsToTheFile) {
    GivenConfig(NodesFile(2));
    Start();
    const platform::FileHandle held =
        platform::HoldFile(ConfigFile(), platform::kRead | platform::kWrite, platform::kRead);
    ASSERT_TRUE(platform::IsSet(held));
    const std::vector<std::string> once{app::kConfigInUseMessage};

    headless::SelectItem(Ctl::列表框_列表, 1);  // reading goes on
    EXPECT_EQ(Field(Ctl::编辑框_加速IP), "10.0.0.2");
    Retype(Ctl::编辑框_加速IP, "9.9.9.9");
    headless::Click(Ctl::按钮_保存);
    EXPECT_EQ(Shown(), once);
    EXPECT_EQ(Item(1), "10.0.0.2:2333");  // the list shows no save that did not happen
    EXPECT_EQ(Field(Ctl::编辑框_加速IP), "9.9.9.9");  // the user's typing stays

    Restart();  // for a fresh record of boxes
    headless::SelectItem(Ctl::列表框_列表, 1);
    headless::Click(Ctl::按钮_新建);
    EXPECT_EQ(Shown(), once);
    EXPECT_EQ(Items(), 2);  // no node that is not in the file
    EXPECT_EQ(Selected(), 1);  // the node shown before, as the file has it
    EXPECT_EQ(Field(Ctl::编辑框_加速IP), "10.0.0.2");

    Restart();
    headless::SelectItem(Ctl::列表框_列表, 0);
    headless::AnswerMessageBoxes({IDYES});
    headless::Click(Ctl::按钮_删除);
    EXPECT_EQ(Shown(), once);
    EXPECT_EQ(Items(), 2);  // a deletion that did not happen keeps its node, selected
    EXPECT_EQ(Selected(), 0);
    EXPECT_FALSE(ui::Disabled(Ctl::列表框_列表));

    Restart();
    std::ofstream(dir_ + "/client.exe") << "MZ";
    headless::DropFiles({WinDir() + "client.exe"});
    EXPECT_EQ(Shown(), once);

    Restart();
    headless::SelectItem(Ctl::列表框_列表, 0);
    headless::ChooseFromTrayMenu(Menu::退出);  // one box for all a quit records
    EXPECT_TRUE(headless::Ended());
    EXPECT_EQ(Shown(), once);

    platform::ReleaseHeldFile(held);
    EXPECT_EQ(Config(), NodesFile(2));
    EXPECT_FALSE(std::filesystem::exists(ConfigFile() + ".new"));
}

// An editor that has config.ini open for reading and writing and shares both: the save waits
// out the retry, then lands in place, and nothing is said. A read-only file is refused
// quietly, as before.
TEST_F(Nodes, SavesThatLandInPlaceOrAreRefusedSayNothing) {
    GivenConfig(NodesFile(2));
    Start();
    const platform::FileHandle held =
        platform::HoldFile(ConfigFile(), platform::kRead | platform::kWrite,
                           platform::kRead | platform::kWrite);
    ASSERT_TRUE(platform::IsSet(held));
    headless::SelectItem(Ctl::列表框_列表, 1);
    Retype(Ctl::编辑框_加速IP, "9.9.9.9");
    const std::uint32_t before = platform::hooks::Now();
    headless::Click(Ctl::按钮_保存);
    EXPECT_GE(platform::hooks::Now() - before, sk::kReplaceRetryMs);
    EXPECT_TRUE(Shown().empty());
    EXPECT_EQ(Item(1), "9.9.9.9:2333");
    platform::ReleaseHeldFile(held);
    EXPECT_NE(Config().find(Node(2, "9.9.9.9")), std::string::npos);

    std::filesystem::permissions(ConfigFile(), std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::group_read);
    Retype(Ctl::编辑框_加速IP, "8.8.8.8");
    headless::Click(Ctl::按钮_保存);
    EXPECT_TRUE(Shown().empty());
    EXPECT_EQ(Item(1), "9.9.9.9:2333");
    EXPECT_NE(Config().find(Node(2, "9.9.9.9")), std::string::npos);
}

// At the end of a Windows session nobody can answer a box: a failed write there shows none.
TEST_F(Nodes, FailuresUnshownWhileTheSessionEnds) {
    GivenConfig(NodesFile(1));
    Start();
    const platform::FileHandle held = platform::HoldFileExclusively(ConfigFile());
    ASSERT_TRUE(platform::IsSet(held));
    {
        const app::ConfigFailuresUnshown quiet;
        headless::Click(Ctl::按钮_保存);
    }
    EXPECT_TRUE(Shown().empty());
    headless::Click(Ctl::按钮_保存);
    EXPECT_EQ(Shown(), std::vector<std::string>{app::kConfigInUseMessage});
    platform::ReleaseHeldFile(held);
}

// What a save of the node writes of the bandwidth group, fields as a start without it shows them.
const std::string kBroadband =
    "[BroadbandConfig]\r\nUP=\r\nDOWN=\r\nMtu=1400\r\nSndwnd=\r\nRcvwnd=\r\n";

// A save waits for an editor's handle (shared writing: after the retries the file is rewritten
// in place), handling window messages meanwhile. A 新建 clicked then starts no second save from
// the file as it was, which the waiting one would overwrite: its writes join and land right
// after, and the file has both. The list shows each node as saved.
TEST_F(Nodes, WritesAskedWhileASaveWaitsLandAfterItAndNoneIsLost) {
    const platform::FileHandle held = StartWithSecondNodeRetypedWhileHeld();
    platform::hooks::DuringNextWait([] { headless::Click(Ctl::按钮_新建); });
    headless::Click(Ctl::按钮_保存);
    platform::ReleaseHeldFile(held);
    EXPECT_EQ(Config(), "[NodeList]\r\nQuantity=3\r\n" + Node(1, "10.0.0.1") + Node(2, "9.9.9.9") +
                            kBroadband +
                            "[Node3]\r\nremarks=\r\nlocal_port=\r\nserver_port=2333\r\n"
                            "server=127.0.0.1\r\nkey=\r\nmode=3\r\ndscp=\r\nother=\r\n");
    EXPECT_EQ(Items(), 3);
    EXPECT_EQ(Item(1), "9.9.9.9:2333");
    EXPECT_EQ(Item(2), "127.0.0.1:2333");
    EXPECT_TRUE(Shown().empty());
}

// 退出, or the session's end, while a save waits: the wait is cut short and everything, the
// waiting save's writes and the quit's, lands at once, within the short bound of the end.
TEST_F(Nodes, QuitOrSessionEndWhileASaveWaitsCutsTheWaitShortAndLandsEverything) {
    for (bool sessionEnd : {false, true}) {
        SCOPED_TRACE(sessionEnd ? "session end" : "退出");
        const platform::FileHandle held = StartWithSecondNodeRetypedWhileHeld();
        const std::uint32_t before = platform::hooks::Now();
        platform::hooks::DuringNextWait([sessionEnd] {
            if (sessionEnd) headless::EndSession(true);
            else headless::ChooseFromTrayMenu(Menu::退出);
        });
        headless::Click(Ctl::按钮_保存);
        EXPECT_EQ(headless::Ended(), !sessionEnd);  // the session's end leaves the window to it
        EXPECT_LE(platform::hooks::Now() - before, sk::kShortReplaceRetryMs + 50);
        platform::ReleaseHeldFile(held);
        EXPECT_EQ(Config(), "[NodeList]\r\nQuantity=2\r\nCurrent node=1\r\n" +
                                Node(1, "10.0.0.1") + Node(2, "9.9.9.9") + kBroadband +
                                "[BasisConfig]\r\nEnable=false\r\n");
        EXPECT_FALSE(std::filesystem::exists(ConfigFile() + ".pending"));
        EXPECT_TRUE(Shown().empty());
    }
}

// A save killed during its rewrite in place leaves config.ini torn (it still parses) and the
// complete copy beside it as config.ini.pending; one killed while writing the temporary file
// leaves a partial config.ini.new. The next start lists the complete copy and clears both.
TEST_F(Nodes, StartTakesInTheCompleteCopyAKilledSaveLeft) {
    GivenConfig(AfterDeleting(3, 0).substr(0, 60) + NodesFile(3).substr(60));
    std::ofstream(ConfigFile() + ".pending", std::ios::binary) << AfterDeleting(3, 0);
    std::ofstream(ConfigFile() + ".new", std::ios::binary) << "[NodeList]\r\nQuan";
    Start();
    EXPECT_EQ(Config(), AfterDeleting(3, 0));
    EXPECT_EQ(Items(), 2);
    EXPECT_EQ(Item(0), "10.0.0.2:2333");
    EXPECT_FALSE(std::filesystem::exists(ConfigFile() + ".pending"));
    EXPECT_FALSE(std::filesystem::exists(ConfigFile() + ".new"));
}

}  // namespace
}  // namespace scenario
