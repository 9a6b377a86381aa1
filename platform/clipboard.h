// The clipboard's text.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// CF_UNICODETEXT up to its first NUL; false when the clipboard holds no text.
bool ReadClipboardText(std::u16string& text);
// Replaces the clipboard's content by the text as CF_UNICODETEXT, and as CF_TEXT in the ANSI
// code page.
bool WriteClipboardText(std::u16string_view text);

}  // namespace platform
