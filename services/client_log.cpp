#include "services/client_log.h"

#include <array>
#include <cstdint>

#include "platform/codepage.h"
#include "platform/files.h"

namespace sk {

namespace {

constexpr std::uint64_t kTailBytes = 64 * 1024;

// The words the client's (and Go's flag package's) errors are made of; the first line holding
// one of them is the one that says why the client ended.
constexpr std::array<std::string_view, 8> kErrorWords = {
    "Incorrect Usage", "flag provided", "flag needs an argument", "invalid value",
    "Cannot use two forms of the same flag", "bind:", "panic:", "error"};

Text ReadTail(std::string_view path, bool& cutAtStart) {
    Text tail;
    cutAtStart = false;
    const platform::OwnedFile file(platform::OpenFileSharingAll(Text(path)));
    std::uint64_t size = 0;
    if (!file || !platform::FileSizeOf(file.get(), size)) return tail;
    const std::uint64_t from = size > kTailBytes ? size - kTailBytes : 0;
    if (!platform::SetFilePosition(file.get(), from)) return tail;
    tail.resize(static_cast<std::size_t>(size - from));
    std::size_t got = 0;
    if (!platform::ReadFromFile(file.get(), reinterpret_cast<std::uint8_t*>(tail.data()),
                                tail.size(), got))
        got = 0;
    tail.resize(got);
    cutAtStart = from > 0;
    return tail;
}

bool IsDigits(std::string_view s) {
    for (const char c : s)
        if (c < '0' || c > '9') return false;
    return !s.empty();
}

// Drops Go's log stamp "2006/01/02 15:04:05 " and a following "main.go:71: ".
std::string_view StripPrefixes(std::string_view line) {
    if (line.size() >= 20 && line[4] == '/' && line[7] == '/' && line[10] == ' ' &&
        line[13] == ':' && line[16] == ':' && line[19] == ' ' && IsDigits(line.substr(0, 4)) &&
        IsDigits(line.substr(17, 2)))
        line.remove_prefix(20);
    const std::size_t go = line.find(".go:");
    if (go != std::string_view::npos && line.find(' ') > go) {
        const std::size_t colon = line.find(": ", go + 4);
        if (colon != std::string_view::npos && IsDigits(line.substr(go + 4, colon - go - 4)))
            line.remove_prefix(colon + 2);
    }
    return line;
}

Text ToCodePage(std::string_view line) {
    std::u16string units;
    if (!platform::Utf16FromUtf8(line, units)) units = platform::Utf16FromOem(line);
    return platform::AnsiFromUtf16(units);
}

bool HoldsErrorWord(std::string_view line) {
    for (const std::string_view word : kErrorWords)
        if (line.find(word) != std::string_view::npos) return true;
    return false;
}

}  // namespace

ClientLastWords ReadClientLastWords(std::string_view logPath) {
    ClientLastWords words;
    bool cut = false;
    const Text tail = ReadTail(logPath, cut);
    std::string_view rest(tail);
    if (cut) {  // the tail begins inside a line: that line is not whole
        const std::size_t end = rest.find('\n');
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    std::string_view last;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        line = StripPrefixes(line);
        if (line.empty()) continue;
        last = line;
        if (words.errorLine.empty() && HoldsErrorWord(line)) words.errorLine = ToCodePage(line);
    }
    if (!last.empty()) words.lastLine = ToCodePage(last);
    return words;
}

}  // namespace sk
