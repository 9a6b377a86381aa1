// The profile reader and writer on any file bytes. What the rules in services/profile.h promise:
// a value written reads back (without its surrounding blanks and one pair of quotes, cut to the
// buffer), a write changes no line but the one it edits or adds, and every other value reads
// as before. A name or value that holds a line break, or a name the file cannot spell back (an
// '=' in a key, blanks around it), is outside those promises: such writes are only run.
// The same bytes after a UTF-16 byte-order mark: a file nothing changed is given back byte for
// byte, and its text has a line wherever the file has one.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <optional>
#include <string>

#include "services/profile.h"
#include "tests/fuzz/check.h"

namespace profile = sk::profile;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

std::string Trim(std::string s) {
    while (!s.empty() && IsBlank(s.back())) s.pop_back();
    std::size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    return s.substr(b);
}

std::string Unquoted(const std::string& v) {
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        return v.substr(1, v.size() - 2);
    return v;
}

// A last byte that would take the header's closing bracket as its second byte.
bool EndsInsideDoubleByte(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) i += static_cast<unsigned char>(s[i]) >= 0x81 && s[i] != '\xff' ? 2 : 1;
    return i > s.size();
}

bool Spellable(const std::string& section, const std::string& key) {
    return !HasLineBreak(section) && section == Trim(section) && !EndsInsideDoubleByte(section) &&
           !HasLineBreak(key) && key == Trim(key) && key.find('=') == std::string::npos &&
           (key.empty() || key[0] != '[');
}

// Names that could be the same under any letter-case rule: every ASCII letter folded.
bool MaybeSameName(const std::string& a, const std::string& b) {
    auto fold = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        return s;
    };
    return fold(a) == fold(b);
}

// The bytes in which before and after differ, once their longest common prefix and then their
// longest common suffix are set aside: [before's middle, after's middle].
std::pair<std::string, std::string> Middles(const std::string& before, const std::string& after) {
    const std::size_t shorter = std::min(before.size(), after.size());
    std::size_t p = 0;
    while (p < shorter && before[p] == after[p]) ++p;
    std::size_t s = 0;
    while (s < shorter - p && before[before.size() - 1 - s] == after[after.size() - 1 - s]) ++s;
    return {before.substr(p, before.size() - p - s), after.substr(p, after.size() - p - s)};
}

std::size_t CountOf(const std::string& s, char c) { return std::count(s.begin(), s.end(), c); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int op = in.ConsumeIntegralInRange(0, 5);  // 0-3: set, 4: delete key, 5: delete section
    const std::size_t buffer = in.ConsumeIntegralInRange<std::size_t>(0, 40);
    const bool fileExists = in.ConsumeIntegralInRange(0, 7) != 0;
    const std::string section = in.ConsumeRandomLengthString(12);
    const std::string key = in.ConsumeRandomLengthString(12);
    const std::string value = in.ConsumeRandomLengthString(24);
    const std::string section2 = in.ConsumeRandomLengthString(12);
    const std::string key2 = in.ConsumeRandomLengthString(12);
    const std::optional<std::string> content =
        fileExists ? std::optional<std::string>(in.ConsumeRemainingBytesAsString()) : std::nullopt;
    const std::string before = content.value_or("");

    const std::string utf16 = "\xFF\xFE" + before;
    profile::Utf16File unicode(utf16);
    FUZZ_CHECK(unicode.Encode(unicode.Text()) == utf16);
    std::size_t lineEnds = 0;
    for (std::size_t i = 2; i + 1 < utf16.size(); i += 2)
        lineEnds += (utf16[i] == '\r' || utf16[i] == '\n') && utf16[i + 1] == '\0';
    FUZZ_CHECK(CountOf(unicode.Text(), '\r') + CountOf(unicode.Text(), '\n') == lineEnds);

    const std::optional<std::string> def = std::string("-");
    const std::string read2 = profile::Read(content, section2, key2, def, 256);
    FUZZ_CHECK(read2.size() <= 255);
    FUZZ_CHECK(profile::Read(content, section, key, def, buffer).size() <
               std::max<std::size_t>(buffer, 1));

    const bool set = op < 4, wholeSection = op == 5;
    const std::string after =
        profile::Write(content, section, wholeSection ? std::nullopt : std::optional(key),
                       set ? std::optional(value) : std::nullopt);
    if (set && (!Spellable(section, key) || HasLineBreak(value))) return 0;

    const auto [removed, added] = Middles(before, after);
    if (set) {
        // The edited line keeps its place and its line end; a new line comes whole.
        FUZZ_CHECK(!HasLineBreak(removed));
        const std::string stored = Unquoted(Trim(value));
        const std::string expected = buffer == 0 ? "" : stored.substr(0, buffer - 1);
        FUZZ_CHECK(profile::Read(after, section, key, def, buffer) == expected);
    } else {
        // Deleting removes whole lines and adds nothing; a key is one line with its line end.
        FUZZ_CHECK(added.empty());
        if (!wholeSection) FUZZ_CHECK(CountOf(removed, '\n') <= 1 && CountOf(removed, '\r') <= 1);
    }
    if (!MaybeSameName(section2, section) || (!wholeSection && !MaybeSameName(key2, key)))
        FUZZ_CHECK(profile::Read(after, section2, key2, def, 256) == read2);
    return 0;
}
