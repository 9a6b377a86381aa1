// Floating-point numbers as text. Kept apart from the other text commands: printf's formatter is
// larger than any part of the program, and only a program that prints such numbers should carry it.
#include "services/text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sk {

namespace {

// "%.Ng" with the Microsoft C runtime's look, whatever C library this build links: the exponent
// carries its sign and at least three digits, and infinities and NaNs read "1.#INF" and so on.
Text FormatNumber(double v, int precision) {
    if (std::isinf(v)) return v < 0 ? Text("-1.#INF") : Text("1.#INF");
    if (std::isnan(v)) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        const bool negative = (bits >> 63) != 0;
        const bool quiet = ((bits >> 51) & 1) != 0;
        const std::uint64_t payload = bits & ((std::uint64_t{1} << 51) - 1);
        if (negative && quiet && payload == 0) return "-1.#IND";  // the FPU's default NaN
        return Text(negative ? "-" : "") + (quiet ? "1.#QNAN" : "1.#SNAN");
    }
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%.*g", precision, v);
    if (n <= 0 || n >= static_cast<int>(sizeof buf)) return Text();
    const char* e = static_cast<const char*>(std::memchr(buf, 'e', static_cast<std::size_t>(n)));
    if (!e) return Text(buf, static_cast<std::size_t>(n));
    const char* p = e + 1;
    char sign = '+';
    if (*p == '+' || *p == '-') sign = *p++;
    int exponent = 0;
    while (*p >= '0' && *p <= '9') exponent = exponent * 10 + (*p++ - '0');
    char tail[16];
    int t = std::snprintf(tail, sizeof tail, "e%c%03d", sign, exponent);
    Text out;
    out.reserve(static_cast<std::size_t>(e - buf) + static_cast<std::size_t>(t));
    out.append(buf, static_cast<std::size_t>(e - buf));
    out.append(tail, static_cast<std::size_t>(t));
    return out;
}

}  // namespace

Text ToText(float v) { return FormatNumber(static_cast<double>(v), 6); }
Text ToText(double v) { return FormatNumber(v, 13); }

}  // namespace sk
