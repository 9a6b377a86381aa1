// The headless UDP layer's other side, for the scenarios: servers that answer or stay silent at
// once, with no network, no waiting and round trips that take no time. Only tests include this.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace platform::hooks {

// From now on datagrams go to no network: one sent to a port for which answers(port) is true
// comes straight back as its own echo (an echoed window probe counts as the answer), and a wait
// with nothing to receive ends at once. nullptr: the real sockets again.
void SimulateUdp(std::function<bool(std::uint16_t port)> answers);
// The ports of the datagrams sent while simulating, in order; reading empties the record.
std::vector<std::uint16_t> TakeUdpSends();

}  // namespace platform::hooks
