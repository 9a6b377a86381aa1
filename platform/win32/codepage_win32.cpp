// Conversions through the system's ANSI code page.
#include <windows.h>

#include "platform/codepage.h"

namespace platform {

std::u16string Utf16FromAnsi(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n > 0 ? n : 0), u'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), size, reinterpret_cast<wchar_t*>(out.data()),
                            n);
    return out;
}

std::string AnsiFromUtf16(std::u16string_view units) {
    if (units.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
    const int size = static_cast<int>(units.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide, size, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace platform
