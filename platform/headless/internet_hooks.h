// The headless HTTP layer's other side, for tests: what the download asked for.
#pragma once

#include <cstddef>
#include <vector>

namespace platform::hooks {

// The sizes of the reads of the last request, in order.
std::vector<std::size_t> HttpReadSizes();
int InternetHandlesOpened();  // root internet handles created so far
int RequestsOpen();           // requests opened and not yet closed

}  // namespace platform::hooks
