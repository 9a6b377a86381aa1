// The client's log, the about box and the home page.
#include "app/app.h"
#include "app/build_settings.h"
#include "services/process.h"
#include "services/runtime.h"

namespace app {

const char* const HomePageUrl = SKIPLANE_HOME_URL;
const char* const VersionFileUrl = SKIPLANE_VERSION_URL;

void OpenLogFile() { sk::ShellExecuteFile(4, sk::JoinText(ClientDirectory, "kcptun.log")); }

void ShowAbout() {
    sk::ShowMessageBox(sk::JoinText("制作：", SKIPLANE_HOME_HOST, "\r\n请勿用于商业用途。\r\n当前版本：",
                                    VersionText));
    sk::OpenWebPage(Text(HomePageUrl));
}

void OpenHomePage() { sk::OpenWebPage(Text(HomePageUrl)); }

}  // namespace app
