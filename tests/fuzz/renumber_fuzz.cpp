// The node renumbering's rewrite on any file bytes, after deleting the node at position d of n.
// Line for line (lines end where the profile reads end them), a header of section NodeK (as
// those reads take a header, any letter case) with d+2 <= K <= n gets the name NodeK-1 in the
// place of the old one, and every other byte is kept. Read through the profile reader, each
// later node's values are found under its new name.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "app/config.h"
#include "services/profile.h"
#include "tests/fuzz/check.h"

namespace {

// The lines without their line ends (LF, CR or CR LF), and the line ends.
struct Lines {
    std::vector<std::string> text, ends;
};

Lines Split(const std::string& file) {
    Lines lines;
    for (std::size_t at = 0; at < file.size();) {
        const std::size_t end = std::min(file.find_first_of("\r\n", at), file.size());
        const std::size_t next =
            std::min(end + (file.compare(end, 2, "\r\n") == 0 ? 2 : 1), file.size());
        lines.text.push_back(file.substr(at, end - at));
        lines.ends.push_back(file.substr(end, next - end));
        at = next;
    }
    return lines;
}

// K of a header of section NodeK (no leading zero), 0 for any other line.
long long NodeNumber(const std::string& line, std::size_t& begin, std::size_t& end) {
    const auto name = sk::profile::SectionNameIn(line);
    if (!name) return 0;
    begin = name->first;
    end = name->second;
    std::string text = line.substr(begin, end - begin);
    for (std::size_t i = 0; i < 4 && i < text.size(); ++i)
        if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + 32);
    const std::string digits = text.size() > 4 ? text.substr(4) : "";
    if (text.rfind("node", 0) != 0 || digits.empty() || digits.size() > 9 || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoll(digits);
}

std::string Node(long long k) { return "Node" + std::to_string(k); }

}  // namespace

// The program replaces operator new and delete with malloc and free (services/runtime.cpp, which
// config.cpp brings in for its message box), and the standard library's nothrow new calls that
// new. The sanitizer's nothrow new, which libFuzzer uses, does not: it goes to malloc here too,
// so the program's delete frees what it made.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const bool many = in.ConsumeIntegralInRange(0, 15) == 0;
    const int count = in.ConsumeIntegralInRange(2, many ? 2147483647 : 40);
    const int deleted = in.ConsumeIntegralInRange(0, count - 2);
    const std::string key = in.ConsumeRandomLengthString(10);
    const std::string text = in.ConsumeRemainingBytesAsString();

    const std::string out = app::RenumberedNodeSections(text, deleted, count);
    const Lines before = Split(text), after = Split(out);
    FUZZ_CHECK(before.text.size() == after.text.size() && before.ends == after.ends);
    for (std::size_t i = 0; i < before.text.size() && i < after.text.size(); ++i) {
        const std::string& line = before.text[i];
        std::size_t begin = 0, end = 0;
        const long long k = NodeNumber(line, begin, end);
        if (k >= deleted + 2 && k <= count)
            FUZZ_CHECK(after.text[i] == line.substr(0, begin) + Node(k - 1) + line.substr(end));
        else
            FUZZ_CHECK(after.text[i] == line);
    }

    // Node(d+1) itself is left out: the file may still hold a section of that name.
    const sk::profile::Reader was(text), is(out);
    const std::optional<std::string> none = std::string("-");
    for (long long k = deleted + 3LL; k <= count && k <= deleted + 12LL; ++k) {
        for (const std::string& name : {std::string("server"), key})
            FUZZ_CHECK(is.Read(Node(k - 1), name, none, 64) == was.Read(Node(k), name, none, 64));
    }
    return 0;
}
