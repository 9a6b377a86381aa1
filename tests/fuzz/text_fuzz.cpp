// The text commands on any bytes: searches give positions inside the text that really match,
// conversions never do anything undefined (UBSan ends the run), and the round trips hold.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "services/text.h"
#include "tests/fuzz/check.h"

namespace {

bool MatchesAt(const std::string& text, long long at, const std::string& sought, bool ignoreCase) {
    auto fold = [&](char c) { return ignoreCase && c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    if (at < 0 || at + static_cast<long long>(sought.size()) > static_cast<long long>(text.size()))
        return false;
    for (std::size_t k = 0; k < sought.size(); ++k)
        if (fold(text[at + k]) != fold(sought[k])) return false;
    return true;
}

void CheckSearches(const std::string& text, const std::string& sought, sk::Opt<int> start,
                   bool ignoreCase) {
    const long long n = static_cast<long long>(text.size()), m = sought.size();
    const int found = sk::FindText(text, sought, start, ignoreCase);
    const int last = sk::FindTextReverse(text, sought, start, ignoreCase);
    FUZZ_CHECK(found == -1 || (found >= 1 && found <= n));
    FUZZ_CHECK(last == -1 || (last >= 1 && last <= n));
    if (m == 0) return;
    if (found != -1) {
        FUZZ_CHECK(MatchesAt(text, found - 1, sought, ignoreCase));
        FUZZ_CHECK(!start || found >= *start);
        FUZZ_CHECK(sk::FindText(text, sought, found, ignoreCase) == found);
        // Every exact match is a match without regard to case, so that search finds one as early.
        const int folded = sk::FindText(text, sought, start, true);
        FUZZ_CHECK(folded != -1 && folded <= found);
    }
    if (last != -1) {
        // The match lies wholly before the start position; searching up to its end finds it.
        const long long end = start ? std::min<long long>(n, std::max(*start - 1LL, 0LL)) : n;
        FUZZ_CHECK(MatchesAt(text, last - 1, sought, ignoreCase) && last - 1 + m <= end);
        FUZZ_CHECK(sk::FindTextReverse(text, sought, static_cast<int>(last + m), ignoreCase) ==
                   last);
    }
    if (!start) {
        FUZZ_CHECK((found == -1) == (last == -1));
        FUZZ_CHECK(found <= last);
    }
}

void CheckEditing(const std::string& text, const std::string& other, int a, int b) {
    const long long n = static_cast<long long>(text.size());
    const long long head = std::clamp<long long>(a - 1LL, 0, n);
    const long long cut = std::clamp<long long>(b, 0, n - head);
    FUZZ_CHECK(sk::ReplaceText(text, a, b, other) ==
               text.substr(0, head) + other + text.substr(head + cut));
    FUZZ_CHECK(sk::ReplaceText(text, a, b) == text.substr(0, head) + text.substr(head + cut));
    const long long keep = std::clamp<long long>(a, 0, n);
    FUZZ_CHECK(sk::TextLeft(text, a) == text.substr(0, keep));
    FUZZ_CHECK(sk::TextRight(text, a) == text.substr(n - keep));
    const std::string lower = sk::ToLower(text);
    FUZZ_CHECK(lower.size() == text.size() && sk::ToLower(lower) == lower);
    FUZZ_CHECK((sk::CompareText(text, other) == 0) == (text == other));
    FUZZ_CHECK(sk::CompareText(text, other) == -sk::CompareText(other, text));
}

void CheckNumbers(std::int64_t wide, std::uint64_t bits, std::uint32_t floatBits,
                  const std::string& text) {
    const auto narrow = static_cast<std::int32_t>(wide);
    FUZZ_CHECK(sk::ToInteger(sk::ToText(narrow)) == narrow);
    FUZZ_CHECK(sk::ToInteger(wide) == narrow);
    FUZZ_CHECK(sk::ToText(wide) == std::to_string(wide));
    double d;
    std::memcpy(&d, &bits, sizeof d);
    float f;
    std::memcpy(&f, &floatBits, sizeof f);
    // In range: toward zero; NaN and out of range: 0x80000000.
    const bool fits = d > -2147483649.0 && d < 2147483648.0;
    const std::int32_t expected =
        fits ? static_cast<std::int32_t>(std::trunc(d)) : std::numeric_limits<std::int32_t>::min();
    FUZZ_CHECK(sk::ToInteger(d) == expected);
    sk::ToInteger(f);
    FUZZ_CHECK(!sk::ToText(d).empty() && !sk::ToText(f).empty());
    sk::ToInteger(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const bool ignoreCase = in.ConsumeBool();
    const bool withStart = in.ConsumeBool();
    const bool smallNumbers = in.ConsumeBool();
    int a = in.ConsumeIntegral<int>(), b = in.ConsumeIntegral<int>();
    if (smallNumbers) {  // mostly positions inside the text, and just outside it
        a %= 40;
        b %= 40;
    }
    const auto wide = in.ConsumeIntegral<std::int64_t>();
    const auto bits = in.ConsumeIntegral<std::uint64_t>();
    const auto floatBits = in.ConsumeIntegral<std::uint32_t>();
    const std::string sought = in.ConsumeRandomLengthString(24);
    const std::string text = in.ConsumeRemainingBytesAsString();

    CheckSearches(text, sought, withStart ? sk::Opt<int>(a) : std::nullopt, ignoreCase);
    CheckEditing(text, sought, a, b);
    CheckNumbers(wide, bits, floatBits, text);
    return 0;
}
