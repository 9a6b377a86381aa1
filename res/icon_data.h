// The program icon, one 48x48 32-bit image, as the bytes of a complete .ico file. The window
// icon and the notification icon are both made from it.
#pragma once

#include <cstddef>

namespace res {

constexpr std::size_t kIconFileSize = 9662;
extern const unsigned char kIconFile[kIconFileSize];

}  // namespace res
