// The headless address watch's other side, for tests: the system's notifications, raised by
// hand. Only tests include this.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/network.h"

namespace platform::hooks {

// The system reports one unicast address (family 4 or 6, its bytes in network order). True when
// the change counts and a watch is on: its routine has run, on the caller's thread, which stands
// for the window thread.
bool RaiseAddressChange(AddressEvent event, int family, std::initializer_list<std::uint8_t> ip);

}  // namespace platform::hooks
