// The address watch in memory: a test raises the system's notifications (network_hooks.h).
#include "platform/headless/network_hooks.h"

namespace platform {

namespace {
void (*g_onChange)() = nullptr;
}  // namespace

bool WatchAddressChanges(void (*onChange)()) {
    if (!g_onChange) g_onChange = onChange;
    return true;
}

namespace hooks {

bool RaiseAddressChange(AddressEvent event, int family, std::initializer_list<std::uint8_t> ip) {
    if (!g_onChange || ip.size() != (family == 6 ? 16u : 4u) ||
        !CountsAsAddressChange(event, family, ip.begin()))
        return false;
    g_onChange();
    return true;
}

}  // namespace hooks

}  // namespace platform
