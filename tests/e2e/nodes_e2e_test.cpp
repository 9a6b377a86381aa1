// The node list on the real Skiplane.exe under Wine: a user clicks items, types over fields,
// saves, creates and deletes nodes, browses for the client, quits and starts again. config.ini
// is compared byte for byte after every step that writes it.
// What the program does not write stays byte for byte as it was, blank lines included.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/driver.h"
#include "form/window_table.h"
#include "tests/e2e/fixture.h"

using form::Ctl;

namespace {

// One node section's values, in the order the program saves its keys.
struct NodeValues {
    std::string remarks, localPort, serverPort, server, key, mode, dscp, other;

    std::vector<std::string> Section(int number) const {
        return {"[Node" + std::to_string(number) + "]",
                "remarks=" + remarks,
                "local_port=" + localPort,
                "server_port=" + serverPort,
                "server=" + server,
                "key=" + key,
                "mode=" + mode,
                "dscp=" + dscp,
                "other=" + other};
    }
};

const NodeValues kFirst{"", "1081", "29900", "1.2.3.4", "k1", "2", "", ""};
const NodeValues kSecond{"香港节点", "1082", "4000", "10.0.0.2", "secret", "4", "46", "--nocomp"};
const NodeValues kThird{"", "1083", "443", "8.8.4.4", "", "0", "", "--crypt none"};

struct Shared {
    std::string basis = "Run=false";  // the BasisConfig lines, "\r\n"-joined
    std::string up = "10", down = "50", mtu = "1350", sndwnd = "300", rcvwnd = "1200";
    std::string quantity = "3", current = "0";
};

// The whole file: the shared sections first, then the node sections in list order.
std::string ConfigFile(const Shared& s, const std::vector<NodeValues>& nodes) {
    std::vector<std::string> lines = {"[BasisConfig]",
                                      s.basis,
                                      "[BroadbandConfig]",
                                      "UP=" + s.up,
                                      "DOWN=" + s.down,
                                      "Mtu=" + s.mtu,
                                      "Sndwnd=" + s.sndwnd,
                                      "Rcvwnd=" + s.rcvwnd,
                                      "[NodeList]",
                                      "Quantity=" + s.quantity,
                                      "Current node=" + s.current};
    for (size_t i = 0; i < nodes.size(); ++i) {
        std::vector<std::string> section = nodes[i].Section(static_cast<int>(i) + 1);
        lines.insert(lines.end(), section.begin(), section.end());
    }
    return e2e::Lines(lines);
}

const std::vector<std::string> kThreeItems = {"1.2.3.4:29900", "香港节点(10.0.0.2:4000)",
                                              "8.8.4.4:443"};

// The node controls that follow the selection, and their texts for a node.
const Ctl kNodeEdits[] = {Ctl::编辑框_备注说明, Ctl::编辑框_本地端口, Ctl::编辑框_加速端口,
                          Ctl::编辑框_加速IP,   Ctl::编辑框_验证密匙, Ctl::编辑框_dscp,
                          Ctl::编辑框_其他参数};

std::vector<std::string> EditTexts(const NodeValues& n) {
    return {n.remarks, n.localPort, n.serverPort, n.server, n.key, n.dscp, n.other};
}

class NodesE2E : public e2e::SandboxTest {
protected:
    NodesE2E() : SandboxTest("skiplane-nodes") {}

    void Launch(e2e::App& app) { StartProgram(app); }

    void LaunchWith(const std::string& config) {
        ASSERT_TRUE(e2e::WriteFileBytes(ConfigPath(), config));
        Launch(app_);
    }

    // A user's click on a list item; the fields follow once the program has handled it.
    void ClickItem(int index, const std::string& serverShown) {
        ASSERT_TRUE(app_.SelectListItem(Ctl::列表框_列表, index));
        Settle();
        ASSERT_EQ(app_.ListSelection(Ctl::列表框_列表), index);
        ASSERT_EQ(app_.Text(Ctl::编辑框_加速IP), serverShown);
    }

    void ExpectFields(const e2e::App& app, const NodeValues& n, const char* mode) {
        std::vector<std::string> shown;
        for (Ctl c : kNodeEdits) shown.push_back(app.Text(c));
        EXPECT_EQ(shown, EditTexts(n));
        EXPECT_EQ(app.ComboText(Ctl::组合框_加速模式), mode);
    }

    void ExpectNodeControlsEnabled(bool enabled) {
        for (Ctl c : kNodeEdits) EXPECT_EQ(app_.Enabled(c), enabled) << form::ControlId(c);
        EXPECT_EQ(app_.Enabled(Ctl::组合框_加速模式), enabled);
        EXPECT_EQ(app_.Enabled(Ctl::选择框_验证密匙), enabled);
    }
};

// ---------------------------------------------------------------------------------------------
// Editing and saving.

TEST_F(NodesE2E, ClickRetypeAndSaveRewriteTheNodeItsItemAndTheBandwidth) {
    const std::string original = ConfigFile(Shared{}, {kFirst, kSecond, kThird});
    ASSERT_NO_FATAL_FAILURE(LaunchWith(original));
    ASSERT_EQ(app_.ListItems(Ctl::列表框_列表), kThreeItems);
    ASSERT_EQ(app_.ListSelection(Ctl::列表框_列表), 0);

    ASSERT_NO_FATAL_FAILURE(ClickItem(1, "10.0.0.2"));
    ExpectFields(app_, kSecond, "fast3");

    // Typed characters that a field refuses are dropped; the remark takes Chinese text.
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_备注说明, "东京2"));
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_本地端口, "x1090y"));
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_加速端口, "44:00"));
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_加速IP, "10.0.0.9z"));
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_验证密匙, "new key"));
    ASSERT_TRUE(app_.PressKey(Ctl::组合框_加速模式, VK_UP));  // fast3 -> fast2
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_dscp, ""));
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_其他参数, "--crypt aes"));
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_上传宽带, "2o0"));
    Settle();
    const NodeValues edited{"东京2", "1090", "4400", "10.0.0.9", "new key", "3", "", "--crypt aes"};
    ExpectFields(app_, edited, "fast2");
    EXPECT_EQ(app_.Text(Ctl::编辑框_上传宽带), "20");
    EXPECT_EQ(app_.Text(Ctl::编辑框_sndwnd), "409");
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表), kThreeItems) << "typing renames nothing";
    EXPECT_EQ(Config(), original) << "typing writes nothing";

    ASSERT_TRUE(app_.Click(Ctl::按钮_保存));
    Settle();
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表),
              (std::vector<std::string>{"1.2.3.4:29900", "东京2(10.0.0.9:4400)", "8.8.4.4:443"}));
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), 1);
    Shared saved;
    saved.up = "20";
    saved.sndwnd = "409";
    const std::string afterSave = ConfigFile(saved, {kFirst, edited, kThird});
    EXPECT_EQ(Config(), afterSave);

    // Clearing the remark and saving again gives the item its plain form.
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_备注说明, ""));
    ASSERT_TRUE(app_.Click(Ctl::按钮_保存));
    Settle();
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表),
              (std::vector<std::string>{"1.2.3.4:29900", "10.0.0.9:4400", "8.8.4.4:443"}));
    NodeValues noRemark = edited;
    noRemark.remarks = "";
    EXPECT_EQ(Config(), ConfigFile(saved, {kFirst, noRemark, kThird}));

    // An edit that is not saved is gone once another node has been looked at.
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_加速IP, "9.9.9.9"));
    ASSERT_NO_FATAL_FAILURE(ClickItem(0, "1.2.3.4"));
    ExpectFields(app_, kFirst, "fast");
    ASSERT_NO_FATAL_FAILURE(ClickItem(1, "10.0.0.9"));
    ExpectFields(app_, noRemark, "fast2");
    EXPECT_EQ(Config(), ConfigFile(saved, {kFirst, noRemark, kThird}));
    EXPECT_TRUE(app_.MessageBoxes().empty());
}

// Another program (the driver here) has config.ini open for reading and writing and shares
// both, as an editor does. Start-up reads every node; a save lands without a word: the
// replacement is tried for two seconds, the window answering meanwhile, then the file is
// written in place, as Windows' own profile functions write it.
TEST_F(NodesE2E, StartUpAndASaveWhileAnotherProgramHoldsTheFileOpen) {
    const std::string original = ConfigFile(Shared{}, {kFirst, kSecond, kThird});
    ASSERT_TRUE(e2e::WriteFileBytes(ConfigPath(), original));
    const HANDLE held = CreateFileA(ConfigPath().c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_NO_FATAL_FAILURE(Launch(app_));
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表), kThreeItems);
    ASSERT_NO_FATAL_FAILURE(ClickItem(1, "10.0.0.2"));
    ExpectFields(app_, kSecond, "fast3");

    ASSERT_TRUE(app_.Retype(Ctl::编辑框_备注说明, "东京"));
    const DWORD clicked = GetTickCount();
    ASSERT_TRUE(app_.Click(Ctl::按钮_保存));
    // Meanwhile the window goes on answering; the complete new copy waits beside the file.
    Settle();
    EXPECT_LT(GetTickCount() - clicked, 1000u) << "the window answers while the save waits";
    EXPECT_TRUE(e2e::FileExists(ConfigPath() + ".pending"));
    while (e2e::FileExists(ConfigPath() + ".pending") && GetTickCount() - clicked < 5000)
        Sleep(10);
    Settle();
    const DWORD tookMs = GetTickCount() - clicked;
    NodeValues edited = kSecond;
    edited.remarks = "东京";
    const std::string saved = ConfigFile(Shared{}, {kFirst, edited, kThird});
    EXPECT_EQ(Config(), saved);  // read past the other program's handle
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表),
              (std::vector<std::string>{"1.2.3.4:29900", "东京(10.0.0.2:4000)", "8.8.4.4:443"}));
    EXPECT_TRUE(app_.MessageBoxes().empty());
    EXPECT_GE(tookMs, 2000u) << "the replacement is tried for two seconds first";
    std::printf("[ nodes    ] save while held: %lu ms\n", static_cast<unsigned long>(tookMs));
    CloseHandle(held);
    EXPECT_EQ(Config(), saved);
    EXPECT_FALSE(e2e::FileExists(ConfigPath() + ".new"));
}

TEST_F(NodesE2E, NewNodeIsAppendedSelectedAndStoredWithTheModeShownBefore) {
    Shared shared;
    shared.current = "1";
    ASSERT_NO_FATAL_FAILURE(LaunchWith(ConfigFile(shared, {kFirst, kSecond, kThird})));
    ASSERT_EQ(app_.ListSelection(Ctl::列表框_列表), 1);
    ASSERT_EQ(app_.ComboText(Ctl::组合框_加速模式), "fast3");

    ASSERT_TRUE(app_.Click(Ctl::按钮_新建));
    Settle();
    std::vector<std::string> items = kThreeItems;
    items.push_back("127.0.0.1:2333");
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表), items);
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), 3);
    const NodeValues fresh{"", "", "2333", "127.0.0.1", "", "4", "", ""};
    ExpectFields(app_, fresh, "fast3");
    ExpectNodeControlsEnabled(true);

    // The new section goes after the others; the count follows; the shared values are saved
    // as they were, so their lines do not change.
    shared.quantity = "4";
    EXPECT_EQ(Config(), ConfigFile(shared, {kFirst, kSecond, kThird, fresh}));
    EXPECT_TRUE(app_.MessageBoxes().empty());
}

// ---------------------------------------------------------------------------------------------
// Deleting.

TEST_F(NodesE2E, DeletingTheMiddleNodeRenumbersTheLastAndClearsTheFields) {
    ASSERT_NO_FATAL_FAILURE(LaunchWith(ConfigFile(Shared{}, {kFirst, kSecond, kThird})));
    ASSERT_NO_FATAL_FAILURE(ClickItem(1, "10.0.0.2"));

    ASSERT_TRUE(app_.Click(Ctl::按钮_删除));
    e2e::MessageBoxInfo box;
    ASSERT_TRUE(app_.WaitMessageBox(&box));
    EXPECT_EQ(box.caption, "信息：");
    EXPECT_EQ(box.text, "确定删除此节点？");
    // Nothing happens while the question is open.
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表).size(), 3u);
    EXPECT_EQ(Config(), ConfigFile(Shared{}, {kFirst, kSecond, kThird}));
    ASSERT_TRUE(e2e::App::PressMessageBoxButton(box, IDYES));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app_.MessageBoxes().empty(); }));
    Settle();

    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表),
              (std::vector<std::string>{"1.2.3.4:29900", "8.8.4.4:443"}));
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), -1);
    EXPECT_TRUE(app_.Enabled(Ctl::列表框_列表));
    ExpectFields(app_, NodeValues{}, "fast2");
    ExpectNodeControlsEnabled(false);
    // The former third node is Node2 now; the current node stays as stored.
    Shared shared;
    shared.quantity = "2";
    EXPECT_EQ(Config(), ConfigFile(shared, {kFirst, kThird}));

    // The program reads the renumbered section for the item that moved up.
    ASSERT_NO_FATAL_FAILURE(ClickItem(1, "8.8.4.4"));
    ExpectFields(app_, kThird, "default");
    ExpectNodeControlsEnabled(true);
    EXPECT_TRUE(app_.MessageBoxes().empty());
}

// ---------------------------------------------------------------------------------------------
// The client path, the bandwidth and what comes back after quitting.

TEST_F(NodesE2E, BrowseBandwidthQuitAndRestartKeepEverythingSaved) {
    CreateDirectoryA((Dir() + "\\kcp").c_str(), nullptr);
    const std::string client = Dir() + "\\kcp\\client_windows_386.exe";
    ASSERT_TRUE(e2e::WriteFileBytes(client, "MZ"));
    const std::string original = ConfigFile(Shared{}, {kFirst, kSecond, kThird});
    ASSERT_NO_FATAL_FAILURE(LaunchWith(original));

    // Cancelled: nothing changes.
    ASSERT_TRUE(app_.Click(Ctl::按钮_目录浏览));
    e2e::FileDialogInfo dialog;
    ASSERT_TRUE(app_.WaitFileDialog(&dialog));
    EXPECT_EQ(dialog.filters, (std::vector<std::string>{"KcpTun 客户端（*.exe）"}));
    EXPECT_EQ(e2e::App::FileDialogName(dialog), "");
    ASSERT_TRUE(e2e::App::CancelFileDialog(dialog));
    ASSERT_TRUE(e2e::WaitUntil([&] { return !IsWindow(dialog.hwnd); }));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_目录), "");
    EXPECT_EQ(Config(), original);

    // Confirmed: the path is shown and stored.
    ASSERT_TRUE(app_.Click(Ctl::按钮_目录浏览));
    ASSERT_TRUE(app_.WaitFileDialog(&dialog));
    ASSERT_TRUE(e2e::App::ChooseInFileDialog(dialog, client));
    ASSERT_TRUE(e2e::WaitUntil([&] { return !IsWindow(dialog.hwnd); }));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_目录), client);
    Shared shared;
    shared.basis = "Run=false\r\nExeFile=" + client;
    EXPECT_EQ(Config(), ConfigFile(shared, {kFirst, kSecond, kThird}));

    // The next browse starts at the chosen file; cancelling it keeps the path.
    ASSERT_TRUE(app_.Click(Ctl::按钮_目录浏览));
    ASSERT_TRUE(app_.WaitFileDialog(&dialog));
    EXPECT_EQ(e2e::App::FileDialogName(dialog), "client_windows_386.exe");
    ASSERT_TRUE(e2e::App::CancelFileDialog(dialog));
    ASSERT_TRUE(e2e::WaitUntil([&] { return !IsWindow(dialog.hwnd); }));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_目录), client);
    EXPECT_EQ(Config(), ConfigFile(shared, {kFirst, kSecond, kThird}));

    // The receive window follows every change of the download box.
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_下载宽带, ""));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_下载宽带), "");
    EXPECT_EQ(app_.Text(Ctl::编辑框_rcvwnd), "0");
    ASSERT_TRUE(app_.Type(Ctl::编辑框_下载宽带, "1x00"));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_下载宽带), "100");
    EXPECT_EQ(app_.Text(Ctl::编辑框_rcvwnd), "2048");
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_下载宽带, ""));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_rcvwnd), "0");
    ASSERT_TRUE(app_.Type(Ctl::编辑框_下载宽带, "100"));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_rcvwnd), "2048");
    EXPECT_EQ(app_.Text(Ctl::编辑框_sndwnd), "300") << "the send window stays";

    // Quitting saves the third node's unsaved edit and remembers it as the current node.
    ASSERT_NO_FATAL_FAILURE(ClickItem(2, "8.8.4.4"));
    ASSERT_TRUE(app_.Retype(Ctl::编辑框_备注说明, "Tokyo"));
    ASSERT_TRUE(app_.PostToMain(WM_COMMAND, MAKEWPARAM(20009, 0), 0));
    ASSERT_EQ(app_.WaitExit(), 0u);
    NodeValues third = kThird;
    third.remarks = "Tokyo";
    shared.basis += "\r\nEnable=false";
    shared.down = "100";
    shared.rcvwnd = "2048";
    shared.current = "2";
    const std::string saved = ConfigFile(shared, {kFirst, kSecond, third});
    ASSERT_EQ(Config(), saved);

    e2e::App again;
    ASSERT_NO_FATAL_FAILURE(Launch(again));
    EXPECT_EQ(again.ListItems(Ctl::列表框_列表),
              (std::vector<std::string>{"1.2.3.4:29900", "香港节点(10.0.0.2:4000)",
                                        "Tokyo(8.8.4.4:443)"}));
    EXPECT_EQ(again.ListSelection(Ctl::列表框_列表), 2);
    ExpectFields(again, third, "default");
    EXPECT_EQ(again.Text(Ctl::编辑框_目录), client);
    EXPECT_EQ(again.Text(Ctl::编辑框_上传宽带), "10");
    EXPECT_EQ(again.Text(Ctl::编辑框_下载宽带), "100");
    EXPECT_EQ(again.Text(Ctl::编辑框_mtu), "1350");
    EXPECT_EQ(again.Text(Ctl::编辑框_sndwnd), "300");
    EXPECT_EQ(again.Text(Ctl::编辑框_rcvwnd), "2048");
    EXPECT_EQ(Config(), saved) << "starting writes nothing";

    // Let the window paint before it is photographed.
    SendMessageTimeoutA(again.Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    Sleep(500);
    EXPECT_TRUE(e2e::SaveScreenshot(e2e::ArtifactsDir() + "\\skiplane-nodes-restarted.bmp"));
    again.Kill();
}

}  // namespace
