// The clipboard in memory, as tests set and read it.
#include "platform/clipboard.h"

#include <optional>

#include "platform/codepage.h"
#include "platform/headless/user.h"

namespace {
std::optional<std::u16string> g_text;
std::string g_ansi;
}  // namespace

namespace headless {
void SetClipboard(std::optional<std::u16string> text) {
    g_text = std::move(text);
    g_ansi = g_text ? platform::AnsiFromUtf16(*g_text) : std::string();
}
std::optional<std::u16string> ClipboardUnicode() { return g_text; }
std::string ClipboardAnsi() { return g_ansi; }
}  // namespace headless

namespace platform {
bool ReadClipboardText(std::string& utf8) {
    if (!g_text) return false;
    utf8 = Utf8FromUtf16(g_text->substr(0, g_text->find(u'\0')));
    return true;
}
bool WriteClipboardText(std::string_view utf8) {
    std::u16string text;
    Utf16FromUtf8(utf8, text);
    g_text = text;
    g_ansi = AnsiFromUtf16(text);
    return true;
}
}  // namespace platform
