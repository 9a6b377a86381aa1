// The real Skiplane.exe under Wine: every case copies the program into a fresh folder (with
// or without a config.ini), starts it, looks at it from outside and ends it.
//
// Arguments besides GoogleTest's: --skiplane=<path of Skiplane.exe> (required),
// --artifacts=<folder for screenshots> (default: e2e-artifacts in the current folder).

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/driver.h"
#include "version.h"
#include "form/window_table.h"
#include "tests/e2e/fixture.h"

using form::Ctl;

namespace {

using e2e::ArtifactsDir;
using e2e::Lines;

// Two nodes, the second with a Chinese remark, and every shared setting stored. The node keys
// are in the order in which the program saves them, so that saving the same values gives the
// same file.
const std::vector<std::string> kTwoNodeConfig = {
    "[BasisConfig]",
    "Run=true",
    "[BroadbandConfig]",
    "UP=10",
    "DOWN=50",
    "Mtu=1350",
    "Sndwnd=300",
    "Rcvwnd=1200",
    "[NodeList]",
    "Quantity=2",
    "Current node=1",
    "[Node1]",
    "remarks=",
    "local_port=1081",
    "server_port=29900",
    "server=1.2.3.4",
    "key=k1",
    "mode=2",
    "dscp=",
    "other=",
    "[Node2]",
    "remarks=香港节点",
    "local_port=1082",
    "server_port=4000",
    "server=10.0.0.2",
    "key=secret",
    "mode=4",
    "dscp=46",
    "other=--nocomp",
};

// Every key of every section of an INI file, as "key=value" lines, section by section.
std::vector<std::pair<std::string, std::vector<std::string>>> IniContent(const std::string& path) {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    std::vector<char> names(65536, '\0');
    GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), path.c_str());
    for (const char* s = names.data(); *s; s += std::strlen(s) + 1) {
        std::vector<char> keys(65536, '\0');
        GetPrivateProfileSectionA(s, keys.data(), static_cast<DWORD>(keys.size()), path.c_str());
        std::vector<std::string> lines;
        for (const char* k = keys.data(); *k; k += std::strlen(k) + 1) lines.emplace_back(k);
        out.emplace_back(s, lines);
    }
    return out;
}

bool IsNative(const form::ControlDef& d) {
    return d.kind != form::Kind::Window && d.kind != form::Kind::FileDialog &&
           d.kind != form::Kind::DropTarget;
}

const char* ExpectedClass(form::Kind k) {
    switch (k) {
        case form::Kind::Label: return "Static";
        case form::Kind::Edit: return "Edit";
        case form::Kind::Button:
        case form::Kind::CheckBox:
        case form::Kind::GroupBox: return "Button";
        case form::Kind::ComboBox: return "ComboBox";
        case form::Kind::ListBox: return "ListBox";
        case form::Kind::StatusBar: return "msctls_statusbar32";
        default: return "";
    }
}

// The row height a list box gets from the stock GUI font, measured on a list of our own.
int DefaultListItemHeight() {
    HWND list = CreateWindowExA(0, "ListBox", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    int h = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    DestroyWindow(list);
    return h;
}

class SkiplaneE2E : public e2e::SandboxTest {
protected:
    SkiplaneE2E() : SandboxTest("skiplane-e2e") {}

    void Launch() {
        ASSERT_TRUE(app_.Start(Exe(), Dir())) << "no main window with all controls appeared";
        // The creation handler runs before the message loop handles anything posted.
        ASSERT_TRUE(app_.Sync());
        ASSERT_TRUE(app_.MainVisible());
    }

    void LaunchWithConfig(const std::string& bytes) {
        ASSERT_TRUE(e2e::WriteFileBytes(ConfigPath(), bytes));
        Launch();
    }
};

// ---------------------------------------------------------------------------------------------
// The window as it comes up without any configuration.

TEST_F(SkiplaneE2E, MainWindowCaptionSizeFrameAndCentredPosition) {
    Launch();
    EXPECT_EQ(app_.Caption(), "Skiplane   Ver" SKIPLANE_VERSION);

    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    RECT r = app_.WindowRect();
    EXPECT_EQ(r.right - r.left, 542);
    EXPECT_EQ(r.bottom - r.top, 468);
    EXPECT_EQ(r.left, (1024 - 542) / 2);
    EXPECT_EQ(r.top, (768 - 468) / 2);

    LONG style = app_.Style(Ctl::MainWindow);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX) << "the window must not be maximisable";
    EXPECT_FALSE(style & WS_THICKFRAME) << "the window must not be resizable";
    EXPECT_FALSE(app_.ExStyle(Ctl::MainWindow) & WS_EX_TOPMOST);
    // On the taskbar: an unowned window that is no tool window.
    EXPECT_FALSE(app_.ExStyle(Ctl::MainWindow) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(GetWindow(app_.Main(), GW_OWNER), nullptr);
    EXPECT_EQ(GetMenu(app_.Main()), nullptr) << "no menu bar";
    EXPECT_TRUE(app_.MessageBoxes().empty());
}

TEST_F(SkiplaneE2E, EveryControlHasTheTablesClassGeometryCaptionAndState) {
    Launch();
    const SIZE client = app_.ClientSize();

    for (const form::ControlDef& d : form::kControls) {
        if (!IsNative(d)) continue;
        SCOPED_TRACE(testing::Message() << "control id " << form::ControlId(d.id));
        HWND h = app_.Hwnd(d.id);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(app_.ClassName(d.id), ExpectedClass(d.kind));
        EXPECT_TRUE(app_.Visible(d.id));
        EXPECT_EQ(app_.Enabled(d.id), d.enabled);

        const LONG style = app_.Style(d.id);
        const LONG ex = app_.ExStyle(d.id);
        const form::Rect want = form::ClientRect(d.id);
        const form::Rect got = app_.RectInClient(d.id);
        if (d.kind == form::Kind::StatusBar) {
            // Docked: the stored rectangle is nominal.
            EXPECT_EQ(got.left, 0);
            EXPECT_EQ(got.width, client.cx);
            EXPECT_EQ(got.top + got.height, client.cy);
            EXPECT_GT(got.height, 0);
        } else if (d.kind == form::Kind::ComboBox) {
            // The window's height is the dropped-down height.
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
            EXPECT_EQ(got.width, want.width);
        } else {
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
            EXPECT_EQ(got.width, want.width);
            EXPECT_EQ(got.height, want.height);
        }

        // Fresh start without config.ini: every text is the table's.
        if (d.kind != form::Kind::ComboBox && d.kind != form::Kind::ListBox &&
            d.kind != form::Kind::StatusBar) {
            EXPECT_EQ(app_.Text(d.id), d.caption);
        }

        const bool tabStop = (style & WS_TABSTOP) != 0;
        switch (d.kind) {
            case form::Kind::Label: {
                LONG type = style & SS_TYPEMASK;
                EXPECT_TRUE(type == SS_LEFT || type == SS_LEFTNOWORDWRAP) << type;
                EXPECT_TRUE(style & SS_CENTERIMAGE) << "labels are vertically centred";
                EXPECT_FALSE(style & (WS_BORDER | SS_SUNKEN));
                EXPECT_FALSE(ex & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE));
                EXPECT_FALSE(tabStop);
                break;
            }
            case form::Kind::Edit: {
                EXPECT_EQ((style & ES_CENTER) != 0, d.align == form::Align::Center);
                EXPECT_FALSE(style & ES_RIGHT);
                EXPECT_EQ((style & ES_READONLY) != 0, d.mode == form::InputMode::ReadOnly);
                EXPECT_EQ((style & ES_PASSWORD) != 0, d.mode == form::InputMode::Password);
                if (d.mode == form::InputMode::Password) {
                    EXPECT_EQ(app_.Send(d.id, EM_GETPASSWORDCHAR), '*');
                }
                // "-" must be typeable into integer boxes, which ES_NUMBER would refuse.
                EXPECT_FALSE(style & ES_NUMBER);
                EXPECT_FALSE(style & ES_MULTILINE);
                EXPECT_TRUE(style & ES_AUTOHSCROLL);
                EXPECT_FALSE(style & ES_NOHIDESEL);
                EXPECT_TRUE(ex & WS_EX_STATICEDGE);
                LRESULT limit = app_.Send(d.id, EM_GETLIMITTEXT);
                if (d.maxLength > 0) {
                    EXPECT_EQ(limit, d.maxLength);
                } else {
                    EXPECT_GE(limit, 30000) << "no length limit";
                }
                EXPECT_TRUE(tabStop);
                break;
            }
            case form::Kind::Button: {
                LONG type = style & BS_TYPEMASK;
                EXPECT_TRUE(type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) << type;
                EXPECT_TRUE(tabStop);
                break;
            }
            case form::Kind::CheckBox:
                EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX);
                EXPECT_FALSE(style & BS_LEFTTEXT) << "the caption is right of the box";
                EXPECT_TRUE(tabStop);
                break;
            case form::Kind::GroupBox:
                EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
                EXPECT_FALSE(tabStop);
                break;
            case form::Kind::ComboBox: {
                EXPECT_EQ(style & 3, CBS_DROPDOWNLIST);
                EXPECT_FALSE(style & CBS_SORT);
                EXPECT_TRUE(tabStop);
                RECT dropped{};
                app_.Send(d.id, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
                EXPECT_GE(dropped.bottom - dropped.top, 160) << "drop-down part too short";
                break;
            }
            case form::Kind::ListBox:
                EXPECT_TRUE(style & LBS_NOTIFY);
                EXPECT_FALSE(style & LBS_SORT);
                EXPECT_FALSE(style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL));
                EXPECT_TRUE(style & LBS_NOINTEGRALHEIGHT);
                EXPECT_TRUE(ex & WS_EX_STATICEDGE);
                EXPECT_TRUE(tabStop);
                break;
            case form::Kind::StatusBar:
                EXPECT_FALSE(style & SBARS_SIZEGRIP);
                EXPECT_FALSE(tabStop);
                break;
            default: break;
        }
    }
}

TEST_F(SkiplaneE2E, StatusBarPanelsAndFreshControlState) {
    Launch();
    EXPECT_EQ(app_.StatusParts(), (std::vector<int>{150, 300, -1}));
    EXPECT_EQ(app_.StatusText(0), "当前版本：Ver" SKIPLANE_VERSION);
    EXPECT_EQ(app_.StatusText(1), "状态：未启动！");
    EXPECT_EQ(app_.StatusText(2), form::kStatusPanelTexts[2]);
    EXPECT_EQ(app_.StatusText(2), "点击访问项目主页");

    EXPECT_TRUE(app_.ListItems(Ctl::列表框_列表).empty());
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), -1);
    EXPECT_EQ(app_.ListItemHeight(Ctl::列表框_列表), DefaultListItemHeight() + 2);
    EXPECT_EQ(app_.ComboItems(Ctl::组合框_加速模式),
              (std::vector<std::string>{"default", "normal", "fast", "fast2", "fast3"}));
    EXPECT_EQ(app_.ComboSelection(Ctl::组合框_加速模式), 3);
    EXPECT_EQ(app_.ComboText(Ctl::组合框_加速模式), "fast2");
    EXPECT_FALSE(app_.Checked(Ctl::选择框_开机启动));
    EXPECT_FALSE(app_.Checked(Ctl::选择框_验证密匙));
    EXPECT_EQ(app_.Text(Ctl::编辑框_mtu), "1400");
    EXPECT_EQ(app_.Text(Ctl::编辑框_sndwnd), "");
    EXPECT_EQ(app_.Text(Ctl::编辑框_rcvwnd), "");
    EXPECT_TRUE(app_.Enabled(Ctl::按钮_启动));
    EXPECT_FALSE(app_.Enabled(Ctl::按钮_停止));
    EXPECT_FALSE(e2e::FileExists(ConfigPath())) << "start-up writes nothing";
}

TEST_F(SkiplaneE2E, TypingFilterAndLengthLimitsWithoutNodes) {
    Launch();
    // Integer box: letters are dropped, digits and "-" pass.
    ASSERT_TRUE(app_.Type(Ctl::编辑框_上传宽带, "a1b-"));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_上传宽带), "1-");

    // At most 4 characters in the download box; its change recomputes the receive window.
    ASSERT_TRUE(app_.Type(Ctl::编辑框_下载宽带, "123456"));
    // The read-only path box takes nothing.
    ASSERT_TRUE(app_.Type(Ctl::编辑框_目录, "C:x"));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_下载宽带), "1234");
    EXPECT_EQ(app_.Text(Ctl::编辑框_rcvwnd), "25272");
    EXPECT_EQ(app_.Text(Ctl::编辑框_目录), "");
    EXPECT_TRUE(app_.MessageBoxes().empty());
}

// ---------------------------------------------------------------------------------------------
// The window filled from a configuration.

TEST_F(SkiplaneE2E, TwoNodeConfigFillsListFieldsAndSharedSettings) {
    LaunchWithConfig(Lines(kTwoNodeConfig));

    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表),
              (std::vector<std::string>{"1.2.3.4:29900", "香港节点(10.0.0.2:4000)"}));
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), 1);

    EXPECT_EQ(app_.Text(Ctl::编辑框_备注说明), "香港节点");
    EXPECT_EQ(app_.Text(Ctl::编辑框_本地端口), "1082");
    EXPECT_EQ(app_.Text(Ctl::编辑框_加速端口), "4000");
    EXPECT_EQ(app_.Text(Ctl::编辑框_加速IP), "10.0.0.2");
    // Wine hands out a password box's text to other processes (Windows would not).
    EXPECT_EQ(app_.Text(Ctl::编辑框_验证密匙), "secret");
    EXPECT_EQ(app_.ComboSelection(Ctl::组合框_加速模式), 4);
    EXPECT_EQ(app_.ComboText(Ctl::组合框_加速模式), "fast3");
    EXPECT_EQ(app_.Text(Ctl::编辑框_dscp), "46");
    EXPECT_EQ(app_.Text(Ctl::编辑框_其他参数), "--nocomp");
    for (Ctl c : {Ctl::编辑框_备注说明, Ctl::编辑框_本地端口, Ctl::编辑框_加速端口, Ctl::编辑框_加速IP,
                  Ctl::编辑框_验证密匙, Ctl::选择框_验证密匙, Ctl::组合框_加速模式, Ctl::编辑框_dscp,
                  Ctl::编辑框_其他参数}) {
        EXPECT_TRUE(app_.Enabled(c)) << "control id " << form::ControlId(c);
    }
    EXPECT_FALSE(app_.Checked(Ctl::选择框_验证密匙));
    EXPECT_TRUE(app_.Style(Ctl::编辑框_验证密匙) & ES_PASSWORD) << "the key starts masked";

    EXPECT_TRUE(app_.Checked(Ctl::选择框_开机启动));
    EXPECT_EQ(app_.Text(Ctl::编辑框_上传宽带), "10");
    EXPECT_EQ(app_.Text(Ctl::编辑框_下载宽带), "50");
    EXPECT_EQ(app_.Text(Ctl::编辑框_mtu), "1350");
    // Written after the bandwidths, so the stored windows win over the computed ones.
    EXPECT_EQ(app_.Text(Ctl::编辑框_sndwnd), "300");
    EXPECT_EQ(app_.Text(Ctl::编辑框_rcvwnd), "1200");
    EXPECT_EQ(app_.Text(Ctl::编辑框_目录), "");
    EXPECT_EQ(app_.StatusText(1), "状态：未启动！");
    EXPECT_TRUE(app_.Enabled(Ctl::按钮_启动));
    EXPECT_TRUE(app_.MessageBoxes().empty());

    // Let the window paint before it is photographed.
    SendMessageTimeoutA(app_.Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    Sleep(500);
    const std::string shot = ArtifactsDir() + "\\skiplane-two-nodes.bmp";
    ASSERT_TRUE(e2e::SaveScreenshot(shot));
    EXPECT_EQ(e2e::ReadFileBytes(shot).size(), 54u + 1024u * 3u * 768u);
}

TEST_F(SkiplaneE2E, ConfigEdgeValuesAreClampedAndFlagsAreExact) {
    // Current node past the end selects the last node; "TRUE" is not "true"; a client path
    // that exists is shown.
    CreateDirectoryA((Dir() + "\\kcp").c_str(), nullptr);
    const std::string client = Dir() + "\\kcp\\client_windows_386.exe";
    ASSERT_TRUE(e2e::WriteFileBytes(client, "MZ"));
    std::vector<std::string> cfg = kTwoNodeConfig;
    for (std::string& l : cfg) {
        if (l == "Current node=1") l = "Current node=5";
        if (l == "Run=true") l = "Run=TRUE\r\nExeFile=" + client;
    }
    LaunchWithConfig(Lines(cfg));
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), 1);
    EXPECT_EQ(app_.Text(Ctl::编辑框_加速IP), "10.0.0.2");
    EXPECT_FALSE(app_.Checked(Ctl::选择框_开机启动));
    EXPECT_EQ(app_.Text(Ctl::编辑框_目录), client);
    app_.Kill();

    // "-1" (nothing selected at the last quit) selects the first node; a missing client file
    // clears the path field.
    for (std::string& l : cfg) {
        if (l == "Current node=5") l = "Current node=-1";
    }
    ASSERT_TRUE(DeleteFileA(client.c_str()));
    e2e::App second;
    ASSERT_TRUE(e2e::WriteFileBytes(ConfigPath(), Lines(cfg)));
    ASSERT_TRUE(second.Start(Exe(), Dir()));
    ASSERT_TRUE(second.Sync());
    EXPECT_EQ(second.ListSelection(Ctl::列表框_列表), 0);
    EXPECT_EQ(second.Text(Ctl::编辑框_加速IP), "1.2.3.4");
    EXPECT_EQ(second.ComboText(Ctl::组合框_加速模式), "fast");
    EXPECT_EQ(second.Text(Ctl::编辑框_目录), "");
    second.Kill();
}

// Every other section is missing; those present hold no server either. A plausible count is
// believed as it is: 30 rows.
TEST_F(SkiplaneE2E, MissingNodeSectionsListAsColonsAndOverflowScrolls) {
    std::vector<std::string> cfg = {"[NodeList]", "Quantity=30"};
    for (int k = 2; k <= 30; k += 2) cfg.push_back("[Node" + std::to_string(k) + "]");
    LaunchWithConfig(Lines(cfg));
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表), std::vector<std::string>(30, ":"));
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), 0);
    EXPECT_TRUE(app_.Style(Ctl::列表框_列表) & WS_VSCROLL) << "30 rows need a scroll bar";
    EXPECT_TRUE(app_.Enabled(Ctl::编辑框_本地端口));
    EXPECT_EQ(app_.Text(Ctl::编辑框_加速IP), "");
    EXPECT_EQ(app_.ComboText(Ctl::组合框_加速模式), "fast2");
    EXPECT_EQ(app_.Text(Ctl::编辑框_mtu), "1400");
}

// The count is believed as far as the node sections bear it out: one gap, then the one node.
TEST_F(SkiplaneE2E, AnAbsurdQuantityListsOnlyWhatTheNodeSectionsBearOut) {
    const std::string config = Lines({"[NodeList]", "Quantity=2000000000", "[Node2]", "server=b"});
    const DWORD started = GetTickCount();
    LaunchWithConfig(config);
    std::printf("[ start    ] Quantity=2000000000: up and idle after %lu ms\n",
                static_cast<unsigned long>(GetTickCount() - started));
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表), (std::vector<std::string>{":", "b:"}));
    EXPECT_EQ(e2e::ReadFileBytes(ConfigPath()), config);
}

TEST_F(SkiplaneE2E, NodeFieldsFilterTypedCharacters) {
    LaunchWithConfig(Lines(kTwoNodeConfig));
    ASSERT_TRUE(app_.Enabled(Ctl::编辑框_本地端口));
    SendMessageA(app_.Hwnd(Ctl::编辑框_本地端口), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    SendMessageA(app_.Hwnd(Ctl::编辑框_加速IP), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    ASSERT_TRUE(app_.Type(Ctl::编辑框_本地端口, "x-9q"));
    ASSERT_TRUE(app_.Type(Ctl::编辑框_加速IP, "host.1-2:3"));
    // The remark box takes anything.
    SendMessageA(app_.Hwnd(Ctl::编辑框_备注说明), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    ASSERT_TRUE(app_.Type(Ctl::编辑框_备注说明, "a b"));
    Settle();
    EXPECT_EQ(app_.Text(Ctl::编辑框_本地端口), "-9");
    EXPECT_EQ(app_.Text(Ctl::编辑框_加速IP), ".1-23");
    EXPECT_EQ(app_.Text(Ctl::编辑框_备注说明), "a b");
}

TEST_F(SkiplaneE2E, ClickingAListItemLoadsThatNode) {
    LaunchWithConfig(Lines(kTwoNodeConfig));
    ASSERT_EQ(app_.ListSelection(Ctl::列表框_列表), 1);
    ASSERT_TRUE(app_.SelectListItem(Ctl::列表框_列表, 0));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app_.Text(Ctl::编辑框_加速IP) == "1.2.3.4"; }))
        << app_.Text(Ctl::编辑框_加速IP);
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), 0);
    EXPECT_EQ(app_.Text(Ctl::编辑框_备注说明), "");
    EXPECT_EQ(app_.Text(Ctl::编辑框_本地端口), "1081");
    EXPECT_EQ(app_.Text(Ctl::编辑框_加速端口), "29900");
    EXPECT_EQ(app_.Text(Ctl::编辑框_验证密匙), "k1");
    EXPECT_EQ(app_.ComboText(Ctl::组合框_加速模式), "fast");
    EXPECT_EQ(app_.Text(Ctl::编辑框_dscp), "");
    EXPECT_EQ(app_.Text(Ctl::编辑框_其他参数), "");
    // The shared settings do not follow the node.
    EXPECT_EQ(app_.Text(Ctl::编辑框_sndwnd), "300");
}

TEST_F(SkiplaneE2E, DeleteAsksFirstAndOnlyYesDeletes) {
    const std::string original = Lines(kTwoNodeConfig);
    LaunchWithConfig(original);
    ASSERT_EQ(app_.ListSelection(Ctl::列表框_列表), 1);

    ASSERT_TRUE(app_.Click(Ctl::按钮_删除));
    e2e::MessageBoxInfo box;
    ASSERT_TRUE(app_.WaitMessageBox(&box));
    EXPECT_EQ(box.caption, "信息：");
    EXPECT_EQ(box.text, "确定删除此节点？");
    std::vector<int> buttons = box.buttons;
    std::sort(buttons.begin(), buttons.end());
    EXPECT_EQ(buttons, (std::vector<int>{IDYES, IDNO}));
    ASSERT_TRUE(e2e::App::PressMessageBoxButton(box, IDNO));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app_.MessageBoxes().empty(); }));
    Settle();
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表).size(), 2u);
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), 1);
    EXPECT_EQ(e2e::ReadFileBytes(ConfigPath()), original) << "No must change nothing";

    ASSERT_TRUE(app_.Click(Ctl::按钮_删除));
    ASSERT_TRUE(app_.WaitMessageBox(&box));
    ASSERT_TRUE(e2e::App::PressMessageBoxButton(box, IDYES));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app_.MessageBoxes().empty(); }));
    Settle();
    EXPECT_EQ(app_.ListItems(Ctl::列表框_列表), (std::vector<std::string>{"1.2.3.4:29900"}));
    EXPECT_EQ(app_.ListSelection(Ctl::列表框_列表), -1);
    EXPECT_FALSE(app_.Enabled(Ctl::编辑框_加速IP));
    EXPECT_EQ(app_.Text(Ctl::编辑框_加速IP), "");
    // The last node goes without renumbering: its section and the count change, nothing else.
    std::vector<std::string> expected(kTwoNodeConfig.begin(), kTwoNodeConfig.end() - 9);
    for (std::string& l : expected) {
        if (l == "Quantity=2") l = "Quantity=1";
    }
    EXPECT_EQ(e2e::ReadFileBytes(ConfigPath()), Lines(expected));
}

// ---------------------------------------------------------------------------------------------
// Hiding, the notification icon and quitting.

TEST_F(SkiplaneE2E, CloseAndEscHideTheWindowAndTheTrayIconBringsItBack) {
    Launch();
    const RECT before = app_.WindowRect();

    ASSERT_TRUE(app_.Close());
    ASSERT_TRUE(e2e::WaitUntil([&] { return !app_.MainVisible(); })) << "close must hide";
    EXPECT_EQ(app_.WaitExit(500), static_cast<DWORD>(STILL_ACTIVE)) << "close must not end";
    EXPECT_TRUE(IsWindow(app_.Main())) << "the window is kept, not destroyed";

    // Mouse messages other than clicks do nothing.
    ASSERT_TRUE(app_.PostTray(WM_MOUSEMOVE));
    ASSERT_TRUE(app_.PostTray(WM_LBUTTONDOWN));
    Settle();
    EXPECT_FALSE(app_.MainVisible());

    ASSERT_TRUE(app_.PostTray(WM_LBUTTONUP));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app_.MainVisible(); })) << "tray click must show";
    RECT after = app_.WindowRect();
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    EXPECT_FALSE(app_.ExStyle(Ctl::MainWindow) & WS_EX_TOPMOST);

    // Esc in a control asks to close, and is answered the same way.
    ASSERT_TRUE(app_.PressKey(Ctl::列表框_列表, VK_ESCAPE));
    ASSERT_TRUE(e2e::WaitUntil([&] { return !app_.MainVisible(); })) << "Esc must hide";
    EXPECT_TRUE(app_.Running());

    // A double-click shows it as well.
    ASSERT_TRUE(app_.PostTray(WM_LBUTTONDBLCLK));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app_.MainVisible(); }));
    // Clicking while visible keeps it visible and not topmost.
    ASSERT_TRUE(app_.PostTray(WM_LBUTTONUP));
    Settle();
    EXPECT_TRUE(app_.MainVisible());
    EXPECT_FALSE(app_.ExStyle(Ctl::MainWindow) & WS_EX_TOPMOST);
    EXPECT_TRUE(app_.Running());
    EXPECT_TRUE(app_.MessageBoxes().empty());
}

TEST_F(SkiplaneE2E, RightClickAndContextMenuOpenThePopupBesideTheCursor) {
    Launch();
    // The pointer stays where the X server put it: moving it under Wine races with the
    // program's own reading of it.

    // A right button press alone opens nothing.
    ASSERT_TRUE(app_.PostTray(WM_RBUTTONDOWN));
    Settle();
    EXPECT_EQ(app_.PopupMenuWindow(), nullptr);

    for (UINT mouseMsg : {static_cast<UINT>(WM_RBUTTONUP), static_cast<UINT>(WM_CONTEXTMENU)}) {
        SCOPED_TRACE(testing::Message() << "mouse message " << mouseMsg);
        ASSERT_TRUE(app_.PostTray(mouseMsg));
        HWND popup = nullptr;
        ASSERT_TRUE(e2e::WaitUntil([&] { return (popup = app_.PopupMenuWindow()) != nullptr; }));
        RECT r{};
        GetWindowRect(popup, &r);
        POINT cursor{};
        ASSERT_TRUE(GetCursorPos(&cursor));
        EXPECT_EQ(r.right, cursor.x - 5);
        EXPECT_EQ(r.top, cursor.y - 5);
        EXPECT_EQ(GetForegroundWindow(), app_.Main()) << "the window comes to the front first";
        if (mouseMsg == WM_RBUTTONUP) {
            Sleep(300);  // let the menu paint
            EXPECT_TRUE(e2e::SaveScreenshot(ArtifactsDir() + "\\skiplane-tray-menu.bmp"));
        }
        ASSERT_TRUE(PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0));
        ASSERT_TRUE(e2e::WaitUntil([&] { return app_.PopupMenuWindow() == nullptr; }));
    }
    Settle();
    EXPECT_TRUE(app_.Running());
    EXPECT_TRUE(app_.MessageBoxes().empty()) << "closing the menu chooses nothing";
}

TEST_F(SkiplaneE2E, ExitWithoutNodesWritesOnlyEnableAndCurrentNode) {
    Launch();
    ASSERT_TRUE(app_.PostMenuCommand(form::Menu::退出));
    EXPECT_EQ(app_.WaitExit(), 0u);
    using Sections = std::vector<std::pair<std::string, std::vector<std::string>>>;
    EXPECT_EQ(IniContent(ConfigPath()), (Sections{{"BasisConfig", {"Enable=false"}},
                                                  {"NodeList", {"Current node=-1"}}}));
}

TEST_F(SkiplaneE2E, ExitAfterChoosingANodeSavesItAndRemembersIt) {
    const std::string original = Lines(kTwoNodeConfig);
    LaunchWithConfig(original);
    ASSERT_TRUE(app_.SelectListItem(Ctl::列表框_列表, 0));
    ASSERT_TRUE(e2e::WaitUntil([&] { return app_.ListSelection(Ctl::列表框_列表) == 0; }));
    ASSERT_TRUE(app_.PostMenuCommand(form::Menu::退出));
    EXPECT_EQ(app_.WaitExit(), 0u);
    EXPECT_FALSE(app_.Running());

    // Same values saved back; Enable added after the last key of its section; the current
    // node now the first.
    std::vector<std::string> expected = kTwoNodeConfig;
    for (std::string& l : expected) {
        if (l == "Run=true") l = "Run=true\r\nEnable=false";
        if (l == "Current node=1") l = "Current node=0";
    }
    EXPECT_EQ(e2e::ReadFileBytes(ConfigPath()), Lines(expected));
}

TEST_F(SkiplaneE2E, ExitWhileHiddenEndsTheProcess) {
    LaunchWithConfig(Lines(kTwoNodeConfig));
    ASSERT_TRUE(app_.Close());
    ASSERT_TRUE(e2e::WaitUntil([&] { return !app_.MainVisible(); }));
    ASSERT_TRUE(app_.PostMenuCommand(form::Menu::退出));
    EXPECT_EQ(app_.WaitExit(), 0u);
    EXPECT_EQ(GetPrivateProfileIntA("NodeList", "Current node", -7, ConfigPath().c_str()), 1);
    char enable[16] = {};
    GetPrivateProfileStringA("BasisConfig", "Enable", "", enable, sizeof enable,
                             ConfigPath().c_str());
    EXPECT_STREQ(enable, "false");
}

// --- one copy per folder, and an icon that landed although its add failed ------------------

// Starts exe and gives its exit code (STILL_ACTIVE when it ran on for 10 s).
DWORD RunToEnd(const std::string& exe, const std::string& dir) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = "\"" + exe + "\"";
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                        &si, &pi))
        return ~0u;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
    else GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

// config.ini belongs to the folder: a renamed copy beside the running one, and its 8.3 path,
// bring the hidden window back and end with 0. (A subst drive is left out here: Wine names a
// file by the drive whose folder is nearest, so the drive would rename the running copy's folder
// too; Windows gives the path on the volume, C:\\..., for either.)
TEST_F(SkiplaneE2E, AStartFromTheSameFolderUnderAnyNameOrPathBringsTheRunningCopyBack) {
    Launch();
    const std::string renamed = Dir() + "\\Skiplane (1).exe";
    ASSERT_TRUE(CopyFileA(Exe().c_str(), renamed.c_str(), FALSE));
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameA(renamed.c_str(), shortPath, MAX_PATH), 0u);
    for (const std::string& exe : {renamed, std::string(shortPath)}) {
        SCOPED_TRACE(exe);
        ASSERT_TRUE(app_.Close());
        ASSERT_TRUE(e2e::WaitUntil([&] { return !app_.MainVisible(); }));
        EXPECT_EQ(RunToEnd(exe, Dir()), 0u);
        EXPECT_TRUE(e2e::WaitUntil([&] { return app_.MainVisible(); }));
    }
    EXPECT_TRUE(app_.Running());
}

// A copy running elevated holds a mutex that a normal start may not open (CreateMutex fails
// with ERROR_ACCESS_DENIED): that start ends as the second. Here the test holds the folder's
// mutex with a DACL that grants nothing, named as the program names it.
TEST_F(SkiplaneE2E, AMutexThatCannotBeOpenedMeansACopyRuns) {
    HANDLE folder = CreateFileA(Dir().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    char path[MAX_PATH * 2] = {};
    using Final = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);  // Vista's, beyond this SDK level
    const auto final = reinterpret_cast<Final>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    ASSERT_NE(final, nullptr);
    const DWORD n = final(folder, path, sizeof path, 0);
    CloseHandle(folder);
    ASSERT_GT(n, 0u);
    unsigned long long hash = 14695981039346656037ull;  // FNV-1a of the path, ASCII folded
    for (DWORD i = 0; i < n; ++i) {
        auto byte = static_cast<unsigned char>(path[i]);
        if (byte >= 0x81 && byte <= 0xFE && i + 1 < n) {
            hash = (hash ^ byte) * 1099511628211ull;
            byte = static_cast<unsigned char>(path[++i]);
        } else if (byte >= 'A' && byte <= 'Z') {
            byte = static_cast<unsigned char>(byte - 'A' + 'a');
        }
        hash = (hash ^ byte) * 1099511628211ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Local\\Skiplane-%08lx%08lx",
                  static_cast<unsigned long>(hash >> 32), static_cast<unsigned long>(hash));
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    ACL acl;
    InitializeAcl(&acl, sizeof acl, ACL_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);  // present and empty: nobody may open it
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    HANDLE held = CreateMutexA(&sa, FALSE, name);
    ASSERT_NE(held, nullptr);
    // On Windows an empty DACL grants nobody access (Microsoft's "Null DACLs and Empty DACLs"),
    // so the program's CreateMutex fails with ERROR_ACCESS_DENIED; Wine 8 enforces no DACL.
    if (HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, name)) {
        CloseHandle(opened);
        CloseHandle(held);
        GTEST_SKIP() << "this system does not enforce the mutex's empty DACL";
    }
    EXPECT_EQ(RunToEnd(Exe(), Dir()), 0u);
    CloseHandle(held);
    EXPECT_FALSE(e2e::FileExists(ConfigPath()));
}

// An add can time out and land all the same; every later add then fails. Here the icon is put
// up first, under the program's window and id (100), while a thousand nodes hold the creation
// handler: the program's own add fails, the change that follows succeeds, and the close box
// hides the window to the icon instead of minimising it.
TEST_F(SkiplaneE2E, AnIconThatLandedAlthoughItsAddFailedCountsAsShown) {
    std::string config = "[NodeList]\r\nQuantity=3000\r\n";
    for (int i = 1; i <= 3000; ++i)
        config += "[Node" + std::to_string(i) + "]\r\nRemark=n" + std::to_string(i) + "\r\n";
    ASSERT_TRUE(e2e::WriteFileBytes(ConfigPath(), config));
    NOTIFYICONDATAA d{};
    d.cbSize = NOTIFYICONDATAA_V1_SIZE;
    d.uID = 100;
    d.uFlags = NIF_ICON | NIF_TIP;
    d.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
    std::strcpy(d.szTip, "first");
    bool added = false;
    std::thread first([&] {  // as soon as the window exists, before its handler is through
        for (int i = 0; i < 20000 && !d.hWnd; ++i) {
            d.hWnd = FindWindowA("SkiplaneMainWindow", nullptr);
            if (!d.hWnd) Sleep(1);
        }
        added = d.hWnd && Shell_NotifyIconA(NIM_ADD, &d);
    });
    const bool started = app_.Start(Exe(), Dir(), 30000);
    first.join();
    ASSERT_TRUE(started);
    ASSERT_TRUE(added);
    ASSERT_TRUE(app_.Sync(20000));
    ASSERT_TRUE(app_.Close());
    EXPECT_TRUE(e2e::WaitUntil([&] { return !app_.MainVisible(); }));
    EXPECT_FALSE(IsIconic(app_.Main()));
    Shell_NotifyIconA(NIM_DELETE, &d);
}

}  // namespace
