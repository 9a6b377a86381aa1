// Routines the window already wires up whose work arrives with autostart and the update check.
// Until then they leave everything as it is.
#include "app/app.h"

namespace app {

void OnAutostartClicked() {}
void OnCheckVersionClicked() {}
void StartUpdateCheck(int) {}

}  // namespace app
