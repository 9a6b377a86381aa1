// The address watch in memory: a test raises the system's notifications (network_hooks.h).
#include "platform/headless/network_hooks.h"

namespace platform {

namespace {
void (*g_onChange)() = nullptr;
bool g_fail = false;
}  // namespace

bool WatchAddressChanges(void (*onChange)()) {
    g_onChange = g_fail ? nullptr : onChange;
    return !g_fail;
}

void StopWatchingAddressChanges() { g_onChange = nullptr; }

namespace hooks {

bool RaiseAddressChange(AddressEvent event, int family, std::initializer_list<std::uint8_t> ip) {
    if (!g_onChange || ip.size() != (family == 6 ? 16u : 4u) ||
        !CountsAsAddressChange(event, family, ip.begin()))
        return false;
    g_onChange();
    return true;
}

bool WatchingAddresses() { return g_onChange != nullptr; }
void FailAddressWatches(bool fail) { g_fail = fail; }

}  // namespace hooks

}  // namespace platform
