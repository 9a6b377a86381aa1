// Conversions on Linux, as a Chinese Windows makes them: its ANSI code page is 936, which the C
// library's iconv knows as CP936. A byte or character without a counterpart becomes '?'.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/codepage.h"

namespace platform {

namespace {

// Converts in one pass; where the source holds a character the target lacks (or a sequence
// that is none), puts `replacement` and skips that character's bytes (skip(in, left)).
template <class Skip>
std::string Convert(const char* to, const char* from, const char* data, std::size_t size,
                    std::string_view replacement, Skip skip) {
    std::string bytes;
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
    std::string buffer(size * 4 + 16, '\0');
    char* in = const_cast<char*>(data);
    std::size_t inLeft = size;
    while (inLeft > 0) {
        char* put = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t r = iconv(cd, &in, &inLeft, &put, &outLeft);
        bytes.append(buffer.data(), static_cast<std::size_t>(put - buffer.data()));
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        bytes.append(replacement);  // EILSEQ, or EINVAL for a character cut at the end
        const std::size_t n = std::min(skip(in, inLeft), inLeft);
        in += n;
        inLeft -= n;
    }
    iconv_close(cd);
    return bytes;
}

}  // namespace

std::u16string Utf16FromAnsi(std::string_view text) {
    const std::string bytes = Convert("UTF-16LE", "CP936", text.data(), text.size(),
                                      std::string_view("?\0", 2),
                                      [](const char*, std::size_t) { return std::size_t{1}; });
    std::u16string out(bytes.size() / 2, u'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

std::string AnsiFromUtf16(std::u16string_view units) {
    // A character the code page lacks is one unit, or two for a pair of surrogates.
    auto unitsOfOne = [](const char* in, std::size_t left) -> std::size_t {
        if (left < 4) return 2;
        unsigned char b[4];
        std::memcpy(b, in, 4);
        const unsigned first = b[0] | b[1] << 8, second = b[2] | b[3] << 8;
        const bool pair = first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF;
        return pair ? 4 : 2;
    };
    return Convert("CP936", "UTF-16LE", reinterpret_cast<const char*>(units.data()),
                   units.size() * 2, "?", unitsOfOne);
}

bool Utf16FromUtf8(std::string_view text, std::u16string& units) {
    units.clear();
    bool valid = true;
    const std::string bytes = Convert("UTF-16LE", "UTF-8", text.data(), text.size(), "",
                                      [&valid](const char*, std::size_t left) {
                                          valid = false;
                                          return left;
                                      });
    if (!valid) return false;
    units.assign(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    return true;
}

// A lone surrogate becomes U+FFFD, as CP_UTF8 writes it.
std::string Utf8FromUtf16(std::u16string_view units) {
    return Convert("UTF-8", "UTF-16LE", reinterpret_cast<const char*>(units.data()),
                   units.size() * 2, "\xEF\xBF\xBD",
                   [](const char*, std::size_t) { return std::size_t{2}; });
}

// A Chinese Windows' OEM code page is 936 as well.
std::u16string Utf16FromOem(std::string_view text) { return Utf16FromAnsi(text); }

}  // namespace platform
