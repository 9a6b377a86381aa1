// The machine's IP addresses: a watch that tells the window thread when one comes or goes.
// Windows: iphlpapi.dll's NotifyUnicastIpAddressChange, loaded when the watch starts (Windows XP
// has none: there the watch does not start); Linux: changes a test raises (network_hooks.h).
#pragma once

#include <cstdint>

namespace platform {

// What the system says of one unicast address; the numbers are MIB_NOTIFICATION_TYPE's.
enum class AddressEvent { ParameterChanged = 0, Added = 1, Deleted = 2, Initial = 3 };

// Whether the event counts as a change of the machine's addresses: an address added or deleted
// that is neither loopback (127.0.0.0/8, ::1) nor link-local (169.254.0.0/16, fe80::/10). family
// is 4 or 6; ip holds the address in network order (4 or 16 bytes), or is null.
constexpr bool CountsAsAddressChange(AddressEvent event, int family, const std::uint8_t* ip) {
    if ((event != AddressEvent::Added && event != AddressEvent::Deleted) || !ip) return false;
    if (family == 4) return ip[0] != 127 && !(ip[0] == 169 && ip[1] == 254);
    if (family != 6) return false;
    if (ip[0] == 0xFE && (ip[1] & 0xC0) == 0x80) return false;
    for (int i = 0; i < 15; ++i)
        if (ip[i]) return true;
    return ip[15] != 1;
}

// Starts watching, once for the program's life: onChange runs on the window thread after each
// change that counts. A later call, once watching, does nothing. False where the system cannot
// watch.
bool WatchAddressChanges(void (*onChange)());

}  // namespace platform
