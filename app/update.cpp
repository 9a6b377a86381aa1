// Starting with Windows, and the check for a newer version on the update server.
#include <atomic>

#include "app/app.h"
#include "app/config.h"
#include "services/http.h"
#include "services/process.h"
#include "services/runtime.h"
#include "services/storage.h"

namespace app {

using ui::Ctl;
using ui::Menu;

namespace {

constexpr char kRunValue[] = "software\\microsoft\\windows\\CurrentVersion\\Run\\Skiplane";
constexpr char kCheckCaption[] = "检测版本";
constexpr char kFoundCaption[] = "发现新版本，点击下载！";

// One check at a time: a second one would share Ver.ini with the first.
std::atomic<bool> g_checking{false};

// What the check reads, copied on the window thread before the worker starts: the end of the
// program clears the originals while a check may still run.
struct CheckRequest {
    Text versionFileUrl, homePageUrl, versionText, versionNumber;
    UpdateCheck kind;
};
CheckRequest g_request;  // written only while no check runs

// The executable's full path, quoted when it holds a blank: Windows would otherwise try the
// path's pieces up to each blank as programs of their own.
Text AutostartCommand() {
    const Text path = sk::JoinText(sk::GetRunDirectory(), "\\", sk::GetExeFileName());
    return path.find(' ') == Text::npos ? path : sk::JoinText("\"", path, "\"");
}

// The update check, on its own thread.
void CheckForUpdate(int) {
    const CheckRequest& r = g_request;
    const sk::Bytes download = sk::HttpReadFile(r.versionFileUrl);
    if (!download.empty()) {
        const Text file = sk::JoinText(sk::GetRunDirectory(), "\\Ver.ini");
        sk::WriteFileBytes(file, download);
        const Text latest = sk::ReadIniText(file, "Skiplane", "最新版本");
        const Text number = sk::ReadIniText(file, "Skiplane", "版本号");
        if (!latest.empty() && latest != r.versionText) {
            if (sk::ToInteger(number) > sk::ToInteger(r.versionNumber)) {
                ui::SetWindowCaption(
                    sk::JoinText("Skiplane   Ver", r.versionText, "  -  发现新版本！v", latest));
                sk::ShowMessageBox(sk::JoinText("Skiplane 检测到最新版本 Ver", latest,
                                                " ，请访问项目主页更新。"),
                                   sk::kMbOk, Text("Skiplane 检测版本"));
                sk::OpenWebPageFromWorker(r.homePageUrl);
                ui::SetMenuCaption(Menu::检测版本, kFoundCaption);
            } else {
                if (r.kind == kCheckByHand)
                    sk::ShowMessageBox("Skiplane 没有发现新版本。", sk::kMbOk,
                                       Text("Skiplane 检测版本"));
                ui::SetWindowCaption(sk::JoinText("Skiplane   Ver", r.versionText));
                ui::SetMenuCaption(Menu::检测版本, kCheckCaption);
            }
        }
        sk::RemoveFile(file);
    }
    g_checking = false;
}

}  // namespace

void OnAutostartClicked() {
    if (ui::Checked(Ctl::选择框_开机启动)) {
        // Without administrator rights the machine-wide key refuses: then for this user only.
        // One value only: with both, Windows would start two copies at log-on.
        if (sk::WriteRegistryValue(sk::kLocalMachine, kRunValue, AutostartCommand()))
            sk::DeleteRegistryValue(sk::kCurrentUser, kRunValue);
        else
            sk::WriteRegistryValue(sk::kCurrentUser, kRunValue, AutostartCommand());
        WriteConfig("BasisConfig", "Run", "true");
    } else {
        sk::DeleteRegistryValue(sk::kLocalMachine, kRunValue);
        sk::DeleteRegistryValue(sk::kCurrentUser, kRunValue);
        WriteConfig("BasisConfig", "Run", "false");
    }
}

void OnCheckVersionClicked() {
    if (ui::MenuCaption(Menu::检测版本) == kCheckCaption) {
        StartUpdateCheck(kCheckByHand);
    } else {
        sk::OpenWebPage(HomePageUrl);
    }
}

void StartUpdateCheck(UpdateCheck kind) {
    if (g_checking.exchange(true)) return;
    g_request = {VersionFileUrl, HomePageUrl, VersionText, VersionNumber, kind};
    if (!sk::StartThread(CheckForUpdate, kind, &UpdateThread)) g_checking = false;
}

}  // namespace app
