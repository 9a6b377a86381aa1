// The clipboard, owned by the main window while it is open.
#include "platform/clipboard.h"

#include <cstring>

#include "platform/codepage.h"
#include "platform/win32/ui_win32.h"

namespace platform {

namespace {

// A movable global block holding `size` bytes, for SetClipboardData (which then owns it).
HGLOBAL BlockOf(const void* data, std::size_t size, std::size_t zeros) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size + zeros);
    if (!block) return nullptr;
    auto* p = static_cast<char*>(GlobalLock(block));
    std::memcpy(p, data, size);
    std::memset(p + size, 0, zeros);
    GlobalUnlock(block);
    return block;
}

}  // namespace

bool ReadClipboardText(std::string& utf8) {
    if (!OpenClipboard(win32::MainHwnd())) return false;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* units = data ? static_cast<const char16_t*>(GlobalLock(data)) : nullptr;
    if (units) {
        const std::size_t max = GlobalSize(data) / sizeof(char16_t);
        std::size_t n = 0;
        while (n < max && units[n]) ++n;
        utf8 = Utf8FromUtf16(std::u16string_view(units, n));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return units != nullptr;
}

bool WriteClipboardText(std::string_view utf8) {
    if (!OpenClipboard(win32::MainHwnd())) return false;
    EmptyClipboard();
    std::u16string text;
    Utf16FromUtf8(utf8, text);
    const std::string ansi = AnsiFromUtf16(text);
    HGLOBAL wide = BlockOf(text.data(), text.size() * sizeof(char16_t), sizeof(char16_t));
    HGLOBAL narrow = BlockOf(ansi.data(), ansi.size(), 1);
    bool ok = wide && SetClipboardData(CF_UNICODETEXT, wide);
    if (!ok && wide) GlobalFree(wide);
    if (!narrow || !SetClipboardData(CF_TEXT, narrow)) {
        if (narrow) GlobalFree(narrow);
        ok = false;
    }
    CloseClipboard();
    return ok;
}

}  // namespace platform
