// Which routine handles which event: the whole wiring of the window on one screen.
#include "app/app.h"

namespace app {

using ui::Binding;
using ui::Ctl;
using ui::Event;
using ui::EventArgs;
using ui::Menu;

namespace {
constexpr Ctl kNone = Ctl::Count;
constexpr Menu kNoMenu = Menu::Count;

template <void (*Routine)()>
bool Do(const EventArgs&) {
    Routine();
    return true;
}
}  // namespace

const std::vector<Binding>& EventTable() {
    static const std::vector<Binding> table = {
        {Event::Created, Ctl::MainWindow, kNoMenu, Do<OnWindowCreated>},
        {Event::CloseQuery, Ctl::MainWindow, kNoMenu, [](const EventArgs&) { return OnCloseQuery(); }},
        {Event::Tray, Ctl::MainWindow, kNoMenu, [](const EventArgs& a) { OnTrayEvent(a.tray); return true; }},
        {Event::LeftButtonDown, Ctl::状态条_状态, kNoMenu, Do<OpenHomePage>},
        {Event::FileReceived, Ctl::拖放对象_目录, kNoMenu, [](const EventArgs& a) { OnClientDropped(a.text); return true; }},
        {Event::ItemSelected, Ctl::列表框_列表, kNoMenu, Do<LoadSelectedNode>},
        {Event::CopyKey, Ctl::列表框_列表, kNoMenu, Do<CopyNode>},
        {Event::PasteKey, Ctl::列表框_列表, kNoMenu, Do<PasteNode>},
        {Event::Click, Ctl::按钮_新建, kNoMenu, Do<NewNode>},
        {Event::Click, Ctl::按钮_删除, kNoMenu, Do<DeleteNode>},
        {Event::Click, Ctl::按钮_保存, kNoMenu, Do<SaveSettings>},
        {Event::Click, Ctl::按钮_目录浏览, kNoMenu, Do<BrowseForClient>},
        {Event::Click, Ctl::按钮_启动, kNoMenu, Do<StartAcceleration>},
        {Event::Click, Ctl::按钮_停止, kNoMenu, Do<StopAcceleration>},
        {Event::Click, Ctl::选择框_验证密匙, kNoMenu, Do<ToggleKeyVisible>},
        {Event::Click, Ctl::选择框_开机启动, kNoMenu, Do<OnAutostartClicked>},
        {Event::ContentChanged, Ctl::编辑框_下载宽带, kNoMenu, Do<UpdateReceiveWindow>},
        {Event::ContentChanged, Ctl::编辑框_上传宽带, kNoMenu, Do<UpdateSendWindow>},
        {Event::Chosen, kNone, Menu::显示, Do<ShowMainWindow>},
        {Event::Chosen, kNone, Menu::启动, Do<StartAcceleration>},
        {Event::Chosen, kNone, Menu::停止, Do<StopAcceleration>},
        {Event::Chosen, kNone, Menu::打开日志, Do<OpenLogFile>},
        {Event::Chosen, kNone, Menu::检测版本, Do<OnCheckVersionClicked>},
        {Event::Chosen, kNone, Menu::关于, Do<ShowAbout>},
        {Event::Chosen, kNone, Menu::退出, Do<ExitProgram>},
        {Event::SessionEndAsked, Ctl::MainWindow, kNoMenu, Do<OnSessionEndAsked>},
        {Event::SessionEnding, Ctl::MainWindow, kNoMenu, Do<OnSessionEnding>},
        {Event::SessionEndCancelled, Ctl::MainWindow, kNoMenu, Do<OnSessionEndCancelled>},
        {Event::Resumed, Ctl::MainWindow, kNoMenu, Do<OnResumed>},
        {Event::AnotherCopyStarted, Ctl::MainWindow, kNoMenu, Do<ShowMainWindow>},
    };
    return table;
}

}  // namespace app
