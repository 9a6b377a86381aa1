// What the Win32 user-interface files share: the main window, the installed callbacks and the
// private messages of the main window. Internal to platform/win32/.
#pragma once

#include "platform/window.h"

#include <windows.h>
#include <shellapi.h>  // HDROP

namespace platform::win32 {

HWND MainHwnd();
const UiCallbacks& Callbacks();
// False until created() is raised: no event reaches the model while the window is being built.
bool EventsEnabled();

// Private messages of the main window.
constexpr UINT kRunWorkMessage = WM_APP + 1;  // lParam: const std::function<void()>*
constexpr UINT kRedrawMessage = WM_APP + 3;   // lParam: a list whose redraw was held back
constexpr UINT kProcessEndedMessage = WM_APP + 4;  // wParam: the number of the watch that fired
// An address came or went (network_win32.cpp). It carries nothing, and another program may post
// it: it asks for what a real change does, no more.
constexpr UINT kAddressChangedMessage = WM_APP + 5;
// Timers of the main window.
constexpr UINT_PTR kTrayRetryTimer = 1;
constexpr UINT_PTR kFirstCallerTimer = 16;  // StartTimer's id 0 and on

// Decodes the first image of an .ico file; cx/cy 0 keep its own size. Null when undecodable.
HICON IconFromFileBytes(const unsigned char* data, size_t size, int cx, int cy);

// Called from WM_DESTROY of the main window: the notification icon and the drop registration
// go with the window.
void RemoveTrayIconOf(HWND window);
// Tries again to add an icon the shell refused (kTrayRetryTimer).
void RetryTrayIcon();
// WM_DROPFILES: reports the dropped paths, then frees the drop.
void OnFilesDropped(HDROP drop);
// Runs the current process watch's routine if the watch numbered so is still the current one.
void OnProcessEnded(WPARAM number);

// The system's word on one unicast address (a MIB_UNICASTIPADDRESS_ROW, null for the initial
// notification, and a MIB_NOTIFICATION_TYPE), on a thread of its own: posts
// kAddressChangedMessage to window where the change counts.
void WINAPI OnUnicastAddressChange(void* window, const void* row, int type);
// kAddressChangedMessage: runs the address watch's routine, where a watch is on.
void OnAddressChanged();

}  // namespace platform::win32
