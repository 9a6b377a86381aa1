// Routines the window already wires up whose work arrives with the client launcher, the log
// and about box, autostart and the update check. Until then they leave everything as it is.
#include "app/app.h"

namespace app {

void StartAcceleration() {}
void StopAcceleration() {}
void OpenLogFile() {}
void ShowAbout() {}
void OpenHomePage() {}
void OnAutostartClicked() {}
void OnCheckVersionClicked() {}
void StartUpdateCheck(int) {}

}  // namespace app
