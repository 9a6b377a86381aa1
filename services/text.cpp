// Text, number and byte-set commands. Positions and lengths count bytes; only the search,
// lower-case and number-parsing commands step over double-byte characters as one unit.
#include "services/text.h"

#include "platform/codepage.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace sk {

namespace {

inline unsigned char ByteAt(std::string_view s, std::size_t i) {
    return static_cast<unsigned char>(s[i]);
}

inline unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

bool MatchesAt(std::string_view text, std::size_t pos, std::string_view sought, bool ignoreCase) {
    if (!ignoreCase) return std::memcmp(text.data() + pos, sought.data(), sought.size()) == 0;
    for (std::size_t k = 0; k < sought.size(); ++k) {
        if (FoldAscii(ByteAt(text, pos + k)) != FoldAscii(ByteAt(sought, k))) return false;
    }
    return true;
}

// Candidates start at `from` and step over double-byte characters, so the second byte of one
// is never taken for a match start. Only matches lying wholly inside the first `end` bytes
// count. Returns the 0-based start of the first (or, with `last`, the last) match, or -1.
long long Walk(std::string_view text, std::size_t from, std::size_t end, std::string_view sought,
               bool ignoreCase, bool last) {
    long long found = -1;
    const std::size_t m = sought.size();
    std::size_t i = from;
    while (i < end && end - i >= m) {
        if (MatchesAt(text, i, sought, ignoreCase)) {
            found = static_cast<long long>(i);
            if (!last) break;
        }
        // A lead byte as the last byte leaves i past `end`, which ends the walk.
        i += platform::IsGbkLeadByte(ByteAt(text, i)) ? 2 : 1;
    }
    return found;
}

template <class Int>
Text IntegerText(Int v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return Text(buf, r.ptr);
}

// What the x86 conversion instruction gives for values it cannot represent: the programs built
// with the Microsoft compiler saw 0x80000000 for NaN and for anything out of range, so we do too.
std::int32_t Truncate(double v) {
    if (v > -2147483649.0 && v < 2147483648.0) return static_cast<std::int32_t>(v);
    return std::numeric_limits<std::int32_t>::min();
}

void AppendLittleEndian(Bytes& out, std::uint64_t v, int count) {
    for (int k = 0; k < count; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

std::uint64_t DoubleBits(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

}  // namespace

// --- joining and comparing ---------------------------------------------------------------

int CompareText(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    if (n != 0) {
        int c = std::memcmp(a.data(), b.data(), n);  // memcmp compares unsigned bytes
        if (c != 0) return c < 0 ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int TextLength(std::string_view text) { return static_cast<int>(text.size()); }

Text TextLeft(std::string_view text, int n) {
    if (n <= 0) return Text();
    return Text(text.substr(0, static_cast<std::size_t>(n)));
}

Text TextRight(std::string_view text, int n) {
    if (n <= 0) return Text();
    const std::size_t k = static_cast<std::size_t>(n) < text.size() ? static_cast<std::size_t>(n)
                                                                    : text.size();
    return Text(text.substr(text.size() - k));
}

int FindText(std::string_view text, std::string_view sought, Opt<int> start,
             Opt<bool> ignoreCase) {
    long long s = start ? static_cast<long long>(*start) - 1 : 0;
    if (s < 0) s = 0;
    const bool regionEmpty = static_cast<unsigned long long>(s) >= text.size();
    if (sought.empty()) return regionEmpty ? -1 : 1;
    if (regionEmpty) return -1;
    long long at = Walk(text, static_cast<std::size_t>(s), text.size(), sought,
                        ignoreCase.value_or(false), false);
    return at < 0 ? -1 : static_cast<int>(at + 1);
}

int FindTextReverse(std::string_view text, std::string_view sought, Opt<int> start,
                    Opt<bool> ignoreCase) {
    std::size_t end = text.size();
    if (start) {
        const long long e = static_cast<long long>(*start) - 1;
        if (e <= 0) end = 0;
        else if (static_cast<unsigned long long>(e) < end) end = static_cast<std::size_t>(e);
    }
    if (sought.empty()) return end == 0 ? -1 : 1;
    long long at = Walk(text, 0, end, sought, ignoreCase.value_or(false), true);
    return at < 0 ? -1 : static_cast<int>(at + 1);
}

Text ToLower(std::string_view text) {
    Text out(text);
    const std::size_t n = out.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(out[i]);
        if (platform::IsGbkLeadByte(c)) {
            if (i + 1 >= n) break;  // a lone lead byte at the end stays as it is
            i += 2;
        } else {
            out[i] = static_cast<char>(FoldAscii(c));
            ++i;
        }
    }
    return out;
}

Text ReplaceText(std::string_view text, int start, int length, Opt<Text> replacement) {
    const long long len = static_cast<long long>(text.size());
    long long s = static_cast<long long>(start) - 1;
    if (s < 0) s = 0;
    if (s > len) s = len;
    const long long remaining = len - s;
    long long removed = 0;
    if (length > remaining) removed = remaining;
    else if (length > 0) removed = length;
    const std::size_t head = static_cast<std::size_t>(s);
    const std::size_t tail = static_cast<std::size_t>(s + removed);
    const std::size_t inserted = replacement ? replacement->size() : 0;
    Text out;
    out.reserve(text.size() - (tail - head) + inserted);
    out.append(text.substr(0, head));
    if (replacement) out.append(*replacement);
    out.append(text.substr(tail));
    return out;
}

// --- conversions -------------------------------------------------------------------------

std::int32_t ToInteger(std::int32_t v) { return v; }
std::int32_t ToInteger(bool v) { return v ? 1 : 0; }
std::int32_t ToInteger(std::uint8_t v) { return v; }
std::int32_t ToInteger(std::int16_t v) { return v; }
std::int32_t ToInteger(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}
std::int32_t ToInteger(float v) { return Truncate(static_cast<double>(v)); }
std::int32_t ToInteger(double v) { return Truncate(v); }
std::int32_t ToInteger(Routine v) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(v)));
}

std::int32_t ToInteger(std::string_view text) {
    // Full-width ASCII, the ideographic space and a few look-alike signs read as their ASCII
    // bytes, so numbers typed with a Chinese input method still count. Any other double-byte
    // character is neither blank, sign nor digit, so it ends the number.
    constexpr int kEnd = -1;
    constexpr int kOther = 0x100;
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto next = [&]() -> int {
        if (i >= n) return kEnd;
        const unsigned char b = ByteAt(text, i);
        if (!platform::IsGbkLeadByte(b)) {
            ++i;
            return b;
        }
        if (i + 1 >= n) {  // a lead byte without its second byte is dropped
            i = n;
            return kEnd;
        }
        const unsigned char c = ByteAt(text, i + 1);
        i += 2;
        if (b == 0xA3 && c >= 0xA1 && c <= 0xFE) return c - 0x80;
        if (b == 0xA1) {
            if (c == 0xA1) return ' ';
            if (c == 0xAB) return '~';
            if (c == 0xEE || c == 0xEF) return '*';
        }
        return kOther;
    };

    int ch = next();
    while (ch == ' ' || (ch >= '\t' && ch <= '\r')) ch = next();
    bool negative = false;
    if (ch == '+' || ch == '-') {
        negative = ch == '-';
        ch = next();
    }
    std::uint32_t value = 0;  // unsigned: overflow wraps as the 32-bit accumulator does
    while (ch >= '0' && ch <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(ch - '0');
        ch = next();
    }
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

Text ToText(std::int32_t v) { return IntegerText(v); }
Text ToText(std::int16_t v) { return IntegerText(static_cast<int>(v)); }
Text ToText(std::uint8_t v) { return IntegerText(static_cast<unsigned>(v)); }
Text ToText(std::int64_t v) { return IntegerText(static_cast<long long>(v)); }
Text ToText(bool v) { return v ? Text("真") : Text("假"); }

Text ToText(const Bytes& v) {
    std::size_t n = 0;
    while (n < v.size() && v[n] != 0) ++n;
    return Text(reinterpret_cast<const char*>(v.data()), n);
}

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes ToBytes(std::int32_t v) {
    Bytes out;
    out.reserve(4);
    AppendLittleEndian(out, static_cast<std::uint32_t>(v), 4);
    return out;
}

Bytes ToBytes(bool v) { return ToBytes(static_cast<std::int32_t>(v ? 1 : 0)); }

Bytes ToBytes(double v) {
    Bytes out;
    out.reserve(8);
    AppendLittleEndian(out, DoubleBits(v), 8);
    return out;
}

Bytes ToBytes(std::int16_t v) {
    Bytes out;
    out.reserve(2);
    AppendLittleEndian(out, static_cast<std::uint16_t>(v), 2);
    return out;
}

Bytes ToBytes(std::uint8_t v) { return Bytes{v}; }

Bytes ToBytes(const Bytes& v) { return v; }

Bytes ToBytes(const std::vector<double>& numbers) {
    Bytes out;
    out.reserve(numbers.size() * 8);
    for (double d : numbers) AppendLittleEndian(out, DoubleBits(d), 8);
    return out;
}

Text CutOnCharacter(std::string_view text, std::size_t max) {
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t next = end + (platform::IsGbkLeadByte(text[end]) ? 2 : 1);
        if (next > max || next > text.size()) break;
        end = next;
    }
    return Text(text.substr(0, end));
}

std::string_view Unbracketed(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

}  // namespace sk
