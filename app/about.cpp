// The client's log, the about box and the home page.
#include "app/app.h"
#include "services/process.h"
#include "services/runtime.h"

namespace app {

void OpenLogFile() { sk::ShellExecuteFile(sk::kVerbOpen, sk::JoinText(ClientDirectory, "kcptun.log")); }

void ShowAbout() {
    sk::ShowMessageBox(sk::JoinText("制作：", HomePageHost, "\r\n请勿用于商业用途。\r\n当前版本：",
                                    VersionText));
    sk::OpenWebPage(HomePageUrl);
}

void OpenHomePage() { sk::OpenWebPage(HomePageUrl); }

}  // namespace app
