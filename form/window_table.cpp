#include "form/window_table.h"

namespace form {

namespace {
constexpr Ctl W = Ctl::MainWindow;
constexpr Ctl G1 = Ctl::分组框_基础配置;
constexpr Ctl G2 = Ctl::分组框_宽带配置;
constexpr Align L = Align::Left;
constexpr Align C = Align::Center;
constexpr InputMode N = InputMode::Normal;
constexpr InputMode RO = InputMode::ReadOnly;
constexpr InputMode PW = InputMode::Password;
constexpr InputMode INT = InputMode::Integer;
constexpr InputMode DEC = InputMode::Decimal;
}  // namespace

#define ROW(id, kind, caption, l, t, w, h, parent, enabled, align, mode, maxLen) \
    {Ctl::id, #id, Kind::kind, caption, l, t, w, h, parent, enabled, align, mode, maxLen}

const ControlDef kControls[kControlCount] = {
    ROW(MainWindow, Window, "Skiplane   Ver1.0", 0, 0, 542, 468, W, true, L, N, 0),
    ROW(列表框_列表, ListBox, "", 8, 8, 176, 352, W, true, L, N, 0),
    ROW(分组框_基础配置, GroupBox, "基础配置", 192, 8, 336, 232, W, true, L, N, 0),
    ROW(标签1, Label, "本地端口：", 24, 16, 64, 24, G1, true, L, N, 0),
    ROW(编辑框_本地端口, Edit, "", 88, 16, 72, 24, G1, false, C, INT, 5),
    ROW(标签_加速端口, Label, "加速端口：", 168, 16, 64, 24, G1, true, L, N, 0),
    ROW(编辑框_加速端口, Edit, "", 232, 16, 72, 24, G1, false, C, INT, 5),
    ROW(标签7, Label, "加速 IP ：", 24, 48, 64, 24, G1, true, L, N, 0),
    ROW(编辑框_加速IP, Edit, "", 88, 48, 216, 24, G1, false, C, DEC, 15),
    ROW(标签3, Label, "验证密匙：", 24, 80, 64, 24, G1, true, L, N, 0),
    ROW(编辑框_验证密匙, Edit, "", 88, 80, 192, 24, G1, false, C, PW, 0),
    ROW(选择框_验证密匙, CheckBox, "", 288, 80, 16, 24, G1, false, L, N, 0),
    ROW(标签4, Label, "加速模式：", 24, 112, 64, 24, G1, true, L, N, 0),
    ROW(组合框_加速模式, ComboBox, "", 88, 115, 88, 20, G1, false, L, N, 0),
    ROW(标签5, Label, "DSCP：", 184, 112, 40, 24, G1, true, L, N, 0),
    ROW(编辑框_dscp, Edit, "", 224, 112, 80, 24, G1, false, C, INT, 0),
    ROW(标签6, Label, "其他参数：", 24, 144, 64, 24, G1, true, L, N, 0),
    ROW(编辑框_其他参数, Edit, "", 88, 144, 216, 24, G1, false, L, N, 0),
    ROW(标签8, Label, "备注说明：", 24, 176, 64, 24, G1, true, L, N, 0),
    ROW(编辑框_备注说明, Edit, "", 88, 176, 216, 24, G1, false, L, N, 0),
    ROW(标签2, Label, "注意：验证密匙、DSCP、其他参数、备注名称 是可选的", 24, 203, 304, 24, G1,
        true, L, N, 0),
    ROW(分组框_宽带配置, GroupBox, "宽带配置", 192, 248, 336, 80, W, true, L, N, 0),
    ROW(标签_上传宽带, Label, "上传宽带：", 8, 16, 56, 24, G2, true, L, N, 0),
    ROW(编辑框_上传宽带, Edit, "", 64, 16, 64, 24, G2, true, C, INT, 4),
    ROW(标签_下载宽带, Label, "下载宽带：", 136, 16, 56, 24, G2, true, L, N, 0),
    ROW(编辑框_下载宽带, Edit, "", 192, 16, 64, 24, G2, true, C, INT, 4),
    ROW(标签10, Label, "单位(Mbps)", 264, 16, 64, 24, G2, true, L, N, 0),
    ROW(标签_mtu, Label, "MTU：", 8, 48, 32, 24, G2, true, L, N, 0),
    ROW(编辑框_mtu, Edit, "1400", 40, 48, 48, 24, G2, true, C, INT, 4),
    ROW(标签_sndwnd, Label, "Sndwnd：", 96, 48, 48, 24, G2, true, L, N, 0),
    ROW(编辑框_sndwnd, Edit, "", 144, 48, 64, 24, G2, true, C, INT, 5),
    ROW(标签_rcvwnd, Label, "Rcvwnd：", 216, 48, 48, 24, G2, true, L, N, 0),
    ROW(编辑框_rcvwnd, Edit, "", 264, 48, 64, 24, G2, true, C, INT, 5),
    ROW(标签14, Label, "KCPTun目录：", 192, 336, 72, 24, W, true, L, N, 0),
    ROW(编辑框_目录, Edit, "", 264, 336, 200, 24, W, true, L, RO, 0),
    ROW(按钮_目录浏览, Button, "浏览", 472, 336, 56, 24, W, true, L, N, 0),
    ROW(按钮_新建, Button, "新建", 8, 376, 88, 32, W, true, L, N, 0),
    ROW(按钮_删除, Button, "删除", 96, 376, 88, 32, W, true, L, N, 0),
    ROW(选择框_开机启动, CheckBox, "开机启动", 192, 384, 72, 16, W, true, L, N, 0),
    ROW(按钮_启动, Button, "启动加速", 272, 376, 72, 32, W, true, L, N, 0),
    ROW(按钮_停止, Button, "停止", 344, 376, 72, 32, W, false, L, N, 0),
    ROW(按钮_保存, Button, "保存配置", 440, 376, 88, 32, W, true, L, N, 0),
    ROW(状态条_状态, StatusBar, "", 0, 398, 536, 20, W, true, L, N, 0),
    ROW(通用对话框_目录, FileDialog, "", 0, 0, 0, 0, W, true, L, N, 0),
    ROW(拖放对象_目录, DropTarget, "", 0, 0, 0, 0, W, true, L, N, 0),
};
#undef ROW

const char* const kInitialCaption = "Skiplane   Ver1.0";
const char* const kModeItems[kModeCount] = {"default", "normal", "fast", "fast2", "fast3"};
const int kStatusPanelWidths[kStatusPanelCount] = {150, 150, -1};
const char* const kStatusPanelTexts[kStatusPanelCount] = {"当前版本：Ver1.0", "状态：未启动！",
                                                          "点击访问项目主页"};
const char* const kClientFilter = "KcpTun 客户端（*.exe）|*.exe";

const MenuDef kMenu[kMenuCount] = {
    {Menu::托盘菜单, "托盘菜单", "托盘菜单", false, true},
    {Menu::显示, "显示", "显示", true, false},
    {Menu::分隔1, "分隔1", "-", false, false},
    {Menu::启动, "启动", "启动", false, false},
    {Menu::停止, "停止", "停止", true, false},
    {Menu::打开日志, "打开日志", "打开日志", true, false},
    {Menu::分隔2, "分隔2", "-", false, false},
    {Menu::检测版本, "检测版本", "检测版本", false, false},
    {Menu::关于, "关于", "关于", false, false},
    {Menu::退出, "退出", "退出", false, false},
};

Rect ClientRect(Ctl c) {
    const ControlDef& d = Def(c);
    Rect r{d.left, d.top, d.width, d.height};
    if (d.parent != Ctl::MainWindow && c != Ctl::MainWindow) {
        const ControlDef& p = Def(d.parent);
        r.left += p.left;
        r.top += p.top;
    }
    return r;
}

bool AdmitsTypedChar(InputMode mode, unsigned char ch) {
    if (ch < 0x20 || ch == 0x7F) return true;  // Backspace, Ctrl+C/V/X and the like
    switch (mode) {
        case InputMode::ReadOnly: return false;
        case InputMode::Integer: return (ch >= '0' && ch <= '9') || ch == '-';
        case InputMode::Decimal: return (ch >= '0' && ch <= '9') || ch == '-' || ch == '.';
        default: return true;
    }
}

}  // namespace form
