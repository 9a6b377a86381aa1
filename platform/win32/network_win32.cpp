// The address watch over iphlpapi.dll, bound by name when a watch starts: the program imports
// nothing of it, loads it only then, and runs on Windows XP, which lacks these functions. The
// system calls back on a thread of its own; the callback filters there and posts to the window
// without waiting on it. The watch lasts as long as the program.
// winsock2.h before windows.h, or windows.h brings the old winsock.h in.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// The XP headers leave the Vista functions' types out of iphlpapi.h.
#include <netioapi.h>

#include "platform/network.h"
#include "platform/win32/ui_win32.h"

namespace platform {

namespace {

using AddressCallback = void(WINAPI*)(void*, const void*, int);
using Notify = DWORD(WINAPI*)(ADDRESS_FAMILY, AddressCallback, void*, BOOLEAN, HANDLE*);
HMODULE g_iphlpapi = nullptr;  // stays loaded once it is
void (*g_onChange)() = nullptr;  // set once the watch is on

}  // namespace

namespace win32 {

void WINAPI OnUnicastAddressChange(void* window, const void* row, int type) {
    if (!row) return;  // the initial notification has none
    const SOCKADDR_INET& a = static_cast<const MIB_UNICASTIPADDRESS_ROW*>(row)->Address;
    const bool v4 = a.si_family == AF_INET;
    const int family = v4 ? 4 : a.si_family == AF_INET6 ? 6 : 0;
    const void* ip = v4 ? static_cast<const void*>(&a.Ipv4.sin_addr)
                        : static_cast<const void*>(&a.Ipv6.sin6_addr);
    if (CountsAsAddressChange(static_cast<AddressEvent>(type), family,
                              static_cast<const std::uint8_t*>(ip)))
        PostMessageA(static_cast<HWND>(window), kAddressChangedMessage, 0, 0);
}

void OnAddressChanged() {
    if (g_onChange) g_onChange();
}

}  // namespace win32

bool WatchAddressChanges(void (*onChange)()) {
    if (g_onChange) return true;
    const HWND window = win32::MainHwnd();
    if (!window) return false;
    if (!g_iphlpapi) g_iphlpapi = LoadLibraryA("iphlpapi.dll");
    if (!g_iphlpapi) return false;
    const auto notify = reinterpret_cast<Notify>(
        reinterpret_cast<void*>(GetProcAddress(g_iphlpapi, "NotifyUnicastIpAddressChange")));
    HANDLE notification = nullptr;  // kept by the system until the process ends
    if (!notify ||
        notify(AF_UNSPEC, win32::OnUnicastAddressChange, window, FALSE, &notification) != NO_ERROR)
        return false;
    g_onChange = onChange;
    return true;
}

}  // namespace platform
