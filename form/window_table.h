// The main window and its popup menu, declared once. Both platform backends build the window
// from these tables, the control model addresses controls by their ids, and the end-to-end
// driver checks the real window against the same rows.
#pragma once

namespace form {

enum class Kind { Window, Label, Edit, Button, CheckBox, ComboBox, ListBox, GroupBox, StatusBar,
                  FileDialog, DropTarget };
enum class Align { Left, Center };
// Values are the input-mode property's codes.
enum class InputMode { Normal = 0, ReadOnly = 1, Password = 2, Integer = 3, Decimal = 4 };

// Every object of the window. The order is the table's order (parents before children).
enum class Ctl : int {
    MainWindow,
    列表框_列表,
    分组框_基础配置,
    标签1, 编辑框_本地端口, 标签_加速端口, 编辑框_加速端口, 标签7, 编辑框_加速IP, 标签3,
    编辑框_验证密匙, 选择框_验证密匙, 标签4, 组合框_加速模式, 标签5, 编辑框_dscp, 标签6,
    编辑框_其他参数, 标签8, 编辑框_备注说明, 标签2,
    分组框_宽带配置,
    标签_上传宽带, 编辑框_上传宽带, 标签_下载宽带, 编辑框_下载宽带, 标签10, 标签_mtu, 编辑框_mtu,
    标签_sndwnd, 编辑框_sndwnd, 标签_rcvwnd, 编辑框_rcvwnd,
    标签14, 编辑框_目录, 按钮_目录浏览, 按钮_新建, 按钮_删除, 选择框_开机启动, 按钮_启动, 按钮_停止,
    按钮_保存, 状态条_状态, 通用对话框_目录, 拖放对象_目录,
    Count
};
constexpr int kControlCount = static_cast<int>(Ctl::Count);

struct ControlDef {
    Ctl id;
    const char* name;     // the control's name (GBK at run time)
    Kind kind;
    const char* caption;  // caption or initial text
    int left, top, width, height;  // relative to the parent's client area / group box
    Ctl parent;           // MainWindow or a group box
    bool enabled;
    Align align;
    InputMode mode;
    int maxLength;        // 0: no limit
};

extern const ControlDef kControls[kControlCount];
inline const ControlDef& Def(Ctl c) { return kControls[static_cast<int>(c)]; }
// The native child-window id of a control (the end-to-end driver finds controls by it).
inline int ControlId(Ctl c) { return 1000 + static_cast<int>(c); }

// Position on the main window's client area (group box children are offset by their box).
struct Rect { int left, top, width, height; };
Rect ClientRect(Ctl c);

// Main window.
constexpr int kWindowWidth = 542;
constexpr int kWindowHeight = 468;
extern const char* const kInitialCaption;

// Combo box items of 组合框_加速模式 and its initial selection.
constexpr int kModeCount = 5;
extern const char* const kModeItems[kModeCount];
constexpr int kInitialMode = 3;

// Status bar panels: widths (-1: the rest) and initial texts.
constexpr int kStatusPanelCount = 3;
extern const int kStatusPanelWidths[kStatusPanelCount];
extern const char* const kStatusPanelTexts[kStatusPanelCount];

// Open-file dialog 通用对话框_目录.
extern const char* const kClientFilter;

// Popup menu 托盘菜单: the hidden top-level entry, then its items in order.
enum class Menu : int { 托盘菜单, 显示, 分隔1, 启动, 停止, 打开日志, 分隔2, 检测版本, 关于, 退出, Count };
constexpr int kMenuCount = static_cast<int>(Menu::Count);
constexpr int kFirstMenuCommand = 20000;  // 托盘菜单 20000, its items 20001 to 20009

struct MenuDef {
    Menu id;
    const char* name;
    const char* caption;  // "-" makes a separator
    bool disabled;
    bool hidden;
};
extern const MenuDef kMenu[kMenuCount];
inline const MenuDef& Def(Menu m) { return kMenu[static_cast<int>(m)]; }
inline int MenuCommand(Menu m) { return kFirstMenuCommand + static_cast<int>(m); }

// Notification icon.
constexpr unsigned kTrayCallbackMessage = 0x8064;  // WM_APP + 100
constexpr unsigned kTrayIconId = 100;

// The typing filter of an input mode: control characters always pass.
bool AdmitsTypedChar(InputMode mode, unsigned char ch);

}  // namespace form
