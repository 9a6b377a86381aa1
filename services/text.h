// Value kinds and the text commands. Texts are byte strings in the ANSI code page (GBK on the
// target systems): every length and position counts bytes. Only the commands that say so walk
// double-byte characters as one unit.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sk {

using Text = std::string;                 // zero-free bytes; absent text == empty text
using Bytes = std::vector<std::uint8_t>;  // length-counted, may hold zero bytes
template <class T>
using Opt = std::optional<T>;             // an omitted argument, distinct from "" or 0

// --- joining and comparing ---------------------------------------------------------------
namespace detail {
inline std::string_view AsView(std::string_view s) { return s; }
inline std::string_view AsView(const char* s) { return s ? std::string_view(s) : std::string_view(); }
}  // namespace detail

// Measures every piece once, allocates once, copies each byte once.
template <class... Pieces>
Text JoinText(const Pieces&... pieces) {
    const std::string_view views[] = {detail::AsView(pieces)...};
    std::size_t total = 0;
    for (auto v : views) total += v.size();
    Text out;
    out.reserve(total);
    for (auto v : views) out.append(v);
    return out;
}

// Byte-wise unsigned comparison: <0, 0, >0. Absent and empty texts are equal.
int CompareText(std::string_view a, std::string_view b);

int TextLength(std::string_view text);
Text TextLeft(std::string_view text, int n);
Text TextRight(std::string_view text, int n);

// 1-based position or -1; double-byte-aware walk, ignore case for ASCII letters only.
int FindText(std::string_view text, std::string_view sought, Opt<int> start = {},
             Opt<bool> ignoreCase = {});
int FindTextReverse(std::string_view text, std::string_view sought, Opt<int> start = {},
                    Opt<bool> ignoreCase = {});
Text ToLower(std::string_view text);
// The first `max` bytes of text, not ending inside a double-byte character.
Text CutOnCharacter(std::string_view text, std::size_t max);
Text ReplaceText(std::string_view text, int start, int length, Opt<Text> replacement = {});
// A host without the brackets an IPv6 address wears beside a port ("[::1]" is "::1").
std::string_view Unbracketed(std::string_view host);

// --- conversions -------------------------------------------------------------------------
using Routine = void (*)();

std::int32_t ToInteger(std::int32_t v);
std::int32_t ToInteger(bool v);
std::int32_t ToInteger(std::uint8_t v);
std::int32_t ToInteger(std::int16_t v);
std::int32_t ToInteger(std::int64_t v);
std::int32_t ToInteger(float v);
std::int32_t ToInteger(double v);
std::int32_t ToInteger(Routine v);
std::int32_t ToInteger(std::string_view text);
inline std::int32_t ToInteger(const char* text) { return ToInteger(detail::AsView(text)); }
inline std::int32_t ToInteger(const Text& text) { return ToInteger(std::string_view(text)); }

Text ToText(std::int32_t v);
Text ToText(std::int16_t v);
Text ToText(std::uint8_t v);
Text ToText(std::int64_t v);
Text ToText(float v);   // "%.6g"
Text ToText(double v);  // "%.13g"
Text ToText(bool v);    // "真" / "假"
Text ToText(const Bytes& v);  // up to the first zero byte
inline Text ToText(std::string_view v) { return Text(v); }
inline Text ToText(const char* v) { return Text(detail::AsView(v)); }
inline Text ToText(const Text& v) { return v; }
template <std::size_t N>  // fixed-size byte array of a record: up to the first zero byte
Text ToText(const std::array<char, N>& a) {
    std::size_t n = 0;
    while (n < N && a[n] != 0) ++n;
    return Text(a.data(), n);
}

Bytes ToBytes(std::string_view text);  // without the terminating zero
inline Bytes ToBytes(const char* text) { return ToBytes(detail::AsView(text)); }
inline Bytes ToBytes(const Text& text) { return ToBytes(std::string_view(text)); }
Bytes ToBytes(std::int32_t v);  // 4 bytes little-endian
Bytes ToBytes(bool v);          // 4 bytes, as stored
Bytes ToBytes(double v);        // 8 bytes
Bytes ToBytes(std::int16_t v);  // 2 bytes
Bytes ToBytes(std::uint8_t v);  // 1 byte
Bytes ToBytes(const Bytes& v);  // a copy
Bytes ToBytes(const std::vector<double>& numbers);

}  // namespace sk
