// Conversions through the system's ANSI code page.
#include <windows.h>

#include "platform/codepage.h"

namespace platform {

namespace {
// False when the code page refuses the bytes (only with MB_ERR_INVALID_CHARS).
bool ToUtf16(unsigned codePage, unsigned long flags, std::string_view text, std::u16string& out) {
    out.clear();
    if (text.empty()) return true;
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (n <= 0) return false;
    out.assign(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(codePage, flags, text.data(), size, reinterpret_cast<wchar_t*>(out.data()),
                        n);
    return true;
}
}  // namespace

std::u16string Utf16FromAnsi(std::string_view text) {
    std::u16string out;
    ToUtf16(CP_ACP, 0, text, out);
    return out;
}

bool Utf16FromUtf8(std::string_view text, std::u16string& units) {
    return ToUtf16(CP_UTF8, MB_ERR_INVALID_CHARS, text, units);
}

std::u16string Utf16FromOem(std::string_view text) {
    std::u16string out;
    ToUtf16(CP_OEMCP, 0, text, out);
    return out;
}

namespace {
std::string FromUtf16(unsigned codePage, std::u16string_view units) {
    if (units.empty()) return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
    const int size = static_cast<int>(units.size());
    const int n = WideCharToMultiByte(codePage, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(codePage, 0, wide, size, out.data(), n, nullptr, nullptr);
    return out;
}
}  // namespace

std::string AnsiFromUtf16(std::u16string_view units) { return FromUtf16(CP_ACP, units); }

std::string Utf8FromUtf16(std::u16string_view units) { return FromUtf16(CP_UTF8, units); }

}  // namespace platform
