// The clipboard's text.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// CF_UNICODETEXT up to its first NUL, as UTF-8 (Utf8FromUtf16 of codepage.h); false when the
// clipboard holds no text.
bool ReadClipboardText(std::string& utf8);
// Replaces the clipboard's content by the UTF-8 text as CF_UNICODETEXT, and as CF_TEXT in the
// ANSI code page.
bool WriteClipboardText(std::string_view utf8);

}  // namespace platform
