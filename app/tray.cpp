// The notification icon, its clicks, and hiding the window instead of closing it.
#include "app/app.h"

namespace app {

using ui::Menu;

void SetStoppedTrayIcon() {
    ui::SetTrayIcon(ui::WindowIcon(), sk::JoinText(ui::WindowCaption(), "\r\n状态：未启动！"));
}

void OnTrayEvent(ui::TrayKind kind) {
    if (kind == ui::TrayKind::Click || kind == ui::TrayKind::DoubleClick) {
        if (!ui::WindowVisible() || ui::WindowMinimized()) {
            ui::BringWindowBack();
        } else {
            // On and straight off again: brings a covered window to the front.
            ui::SetAlwaysOnTop(true);
            ui::SetAlwaysOnTop(false);
        }
        ui::SetMenuDisabled(Menu::显示, true);
    } else if (kind == ui::TrayKind::Menu) {
        ui::PopupMenu();
    }
}

bool OnCloseQuery() {
    // Hidden without an icon, the window could never be brought back: then it is minimised.
    if (ui::TrayIconShown()) ui::SetWindowVisible(false);
    else ui::MinimizeWindow();
    ui::SetMenuDisabled(Menu::显示, false);
    return false;
}

void ShowMainWindow() {
    ui::BringWindowBack();
    ui::SetMenuDisabled(Menu::显示, true);
}

}  // namespace app
