// The Windows process entry: everything else is the application's.
#include <windows.h>

#include "app/app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return app::Main(); }
