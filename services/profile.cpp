#include "services/profile.h"


#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/codepage.h"

namespace sk::profile {

namespace {

struct Line {
    std::size_t begin, end, next;  // content [begin, end), line end [end, next)
};

enum class Kind { Blank, Section, Key, Other };

struct Entry {
    Kind kind;
    std::string_view name, value;
};

using platform::IsGbkLeadByte;
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A line ends at LF, at CR, or at CR LF. Profiles are read for every single value, so this
// runs on memchr rather than byte by byte.
std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    const char* data = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const void* nl = std::memchr(data + i, '\n', n - i);
        const std::size_t lf = nl ? static_cast<const char*>(nl) - data : n;
        const void* cr = std::memchr(data + i, '\r', lf - i);
        std::size_t end = lf, next = lf < n ? lf + 1 : n;
        if (cr) {
            end = static_cast<const char*>(cr) - data;
            next = end + 1 == lf ? next : end + 1;  // CR LF is one line end
        }
        lines.push_back({i, end, next});
        i = next;
    }
    return lines;
}

Entry Parse(std::string_view line) {
    const std::string_view body = Trim(line);
    if (body.empty()) return {Kind::Blank, {}, {}};
    if (body.front() == '[') {
        // The name runs to the last ']' (a whole character, not a second byte), or to the end
        // of the line when there is none: Windows still takes such a line as a section.
        std::size_t close = std::string_view::npos;
        for (std::size_t i = 1; i < body.size();) {
            const auto b = static_cast<unsigned char>(body[i]);
            if (IsGbkLeadByte(b) && i + 1 < body.size()) {
                i += 2;
                continue;
            }
            if (b == ']') close = i;
            ++i;
        }
        const std::size_t stop = close == std::string_view::npos ? body.size() : close;
        return {Kind::Section, Trim(body.substr(1, stop - 1)), {}};
    }
    const std::size_t eq = body.find('=');  // '=' is never a second byte
    if (eq == std::string_view::npos) return {Kind::Other, body, {}};
    return {Kind::Key, Trim(body.substr(0, eq)), Trim(body.substr(eq + 1))};
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size();) {
        if (IsGbkLeadByte(a[i]) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            i += 2;
            continue;
        }
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
        ++i;
    }
    return true;
}

struct Document {
    std::string_view text;
    std::vector<Line> lines;

    std::string_view LineText(std::size_t i) const {
        return text.substr(lines[i].begin, lines[i].end - lines[i].begin);
    }
    Entry EntryAt(std::size_t i) const { return Parse(LineText(i)); }

    // Header line of the first section of that name, or npos.
    std::size_t FindSection(std::string_view name) const {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const Entry e = EntryAt(i);
            if (e.kind == Kind::Section && SameName(e.name, name)) return i;
        }
        return std::string_view::npos;
    }
    // One past the section's last line: the next header or the end of the file.
    std::size_t SectionEnd(std::size_t header) const {
        std::size_t i = header + 1;
        while (i < lines.size() && EntryAt(i).kind != Kind::Section) ++i;
        return i;
    }
    // First line in the section that names that key, or npos. A line without '=' names a
    // key without a value: reads pass it by, a write gives it one.
    std::size_t FindKey(std::size_t header, std::string_view key) const {
        const std::size_t end = SectionEnd(header);
        for (std::size_t i = header + 1; i < end; ++i) {
            const Entry e = EntryAt(i);
            if ((e.kind == Kind::Key || e.kind == Kind::Other) && SameName(e.name, key)) return i;
        }
        return std::string_view::npos;
    }
};

Document Load(std::string_view text) { return Document{text, SplitLines(text)}; }

std::string_view StripQuotes(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// A name folded as SameName compares: the index key of a section.
std::string Folded(std::string_view name) {
    std::string out(name);
    for (std::size_t i = 0; i < out.size();) {
        if (IsGbkLeadByte(out[i]) && i + 1 < out.size()) {
            i += 2;
            continue;
        }
        out[i] = FoldAscii(out[i]);
        ++i;
    }
    return out;
}

}  // namespace

struct Reader::Index {
    std::optional<std::string> content;
    Document doc;
    // (folded name, header line), sorted by name, the first header of each name only.
    std::vector<std::pair<std::string, std::size_t>> sections;
};

Reader::Reader(std::optional<std::string> content) : index_(new Index{std::move(content), {}, {}}) {
    if (!index_->content) return;
    index_->doc = Load(*index_->content);
    auto& sections = index_->sections;
    for (std::size_t i = 0; i < index_->doc.lines.size(); ++i) {
        const Entry e = index_->doc.EntryAt(i);
        if (e.kind == Kind::Section) sections.emplace_back(Folded(e.name), i);
    }
    std::sort(sections.begin(), sections.end());  // by name, then by line: the first header leads
    sections.erase(std::unique(sections.begin(), sections.end(),
                               [](const auto& a, const auto& b) { return a.first == b.first; }),
                   sections.end());  // the first of each name stays
}

Reader::~Reader() = default;

std::string Reader::Read(const std::string& section, const std::string& key,
                         const std::optional<std::string>& defaultValue,
                         std::size_t bufferSize) const {
    if (bufferSize == 0) return std::string();
    auto fit = [bufferSize](std::string_view v) {
        return std::string(v.substr(0, bufferSize - 1));
    };
    // Windows drops the default's trailing spaces.
    std::string_view fallback = defaultValue ? std::string_view(*defaultValue) : std::string_view();
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
    fallback = StripQuotes(fallback);
    if (!index_->content) return fit(fallback);

    const std::string wanted = Folded(section);
    const auto& sections = index_->sections;
    const auto found = std::lower_bound(
        sections.begin(), sections.end(), wanted,
        [](const auto& entry, const std::string& name) { return entry.first < name; });
    if (found == sections.end() || found->first != wanted) return fit(fallback);
    const Document& doc = index_->doc;
    const std::size_t line = doc.FindKey(found->second, key);
    if (line == std::string_view::npos) return fit(fallback);
    const Entry e = doc.EntryAt(line);
    return fit(e.kind == Kind::Key ? StripQuotes(e.value) : fallback);
}

std::vector<std::string> Reader::SectionNames() const {
    std::vector<std::string> names;
    names.reserve(index_->sections.size());
    for (const auto& entry : index_->sections) names.push_back(entry.first);
    return names;
}

std::string Read(const std::optional<std::string>& content, const std::string& section,
                 const std::string& key, const std::optional<std::string>& defaultValue,
                 std::size_t bufferSize) {
    return Reader(content).Read(section, key, defaultValue, bufferSize);
}

std::optional<std::pair<std::size_t, std::size_t>> SectionNameIn(std::string_view line) {
    const Entry e = Parse(line);
    if (e.kind != Kind::Section) return std::nullopt;
    const auto begin = static_cast<std::size_t>(e.name.data() - line.data());
    return std::make_pair(begin, begin + e.name.size());
}

std::string Write(const std::optional<std::string>& content, const std::string& section,
                  const std::optional<std::string>& key, const std::optional<std::string>& value) {
    std::string text = content.value_or(std::string());
    const Document doc = Load(text);
    const std::size_t header = doc.FindSection(section);
    const bool haveSection = header != std::string_view::npos;

    if (!key) {
        if (!haveSection) return text;
        const std::size_t end = doc.SectionEnd(header);
        const std::size_t from = doc.lines[header].begin;
        return text.erase(from, doc.lines[end - 1].next - from);
    }
    const std::size_t line = haveSection ? doc.FindKey(header, *key) : std::string_view::npos;
    if (!value) {
        if (line == std::string_view::npos) return text;
        const Line& l = doc.lines[line];
        return text.erase(l.begin, l.next - l.begin);
    }
    std::string_view stored = *value;  // its leading blanks are not stored
    while (!stored.empty() && IsBlank(stored.front())) stored.remove_prefix(1);
    if (line != std::string_view::npos) {
        // The key keeps its spelling from the file; the line keeps its own line end.
        const Line& l = doc.lines[line];
        const std::string name(doc.EntryAt(line).name);
        return text.replace(l.begin, l.end - l.begin, name + "=" + std::string(stored));
    }
    const std::string entry = *key + "=" + std::string(stored) + "\r\n";
    if (haveSection) {
        std::size_t last = header;
        const std::size_t end = doc.SectionEnd(header);
        for (std::size_t i = header + 1; i < end; ++i)
            if (doc.EntryAt(i).kind != Kind::Blank) last = i;
        const Line& l = doc.lines[last];
        return text.insert(l.next, (l.next == l.end ? "\r\n" : "") + entry);
    }
    if (!text.empty() && text.back() != '\n' && text.back() != '\r') text += "\r\n";
    return text + "[" + section + "]\r\n" + entry;
}

bool Utf16File::Is(std::string_view bytes) { return bytes.substr(0, 2) == "\xFF\xFE"; }

namespace {
bool IsLineEndUnit(char16_t u) { return u == u'\r' || u == u'\n'; }
}  // namespace

Utf16File::Utf16File(std::string_view bytes) {
    bytes.remove_prefix(std::min<std::size_t>(2, bytes.size()));
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    if (bytes.size() % 2) oddByte_.assign(1, bytes.back());
    text_.reserve(units.size());
    for (std::size_t i = 0; i < units.size();) {
        if (IsLineEndUnit(units[i])) {
            text_ += static_cast<char>(units[i++]);
            continue;
        }
        std::size_t end = i;
        while (end < units.size() && !IsLineEndUnit(units[end])) ++end;
        const std::u16string_view line(units.data() + i, end - i);
        std::string ansi = platform::AnsiFromUtf16(line);
        text_ += ansi;
        lines_.push_back({std::move(ansi), std::u16string(line)});
        i = end;
    }
}

namespace {
// The text's lines: the runs between line-end characters.
template <class Visit>
void ForEachRun(std::string_view text, Visit&& visit) {
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\r' || text[i] == '\n') {
            visit(text.substr(i++, 1), true);
            continue;
        }
        const std::size_t end = std::min(text.find_first_of("\r\n", i), text.size());
        visit(text.substr(i, end - i), false);
        i = end;
    }
}
}  // namespace

void Utf16File::Follow(std::string_view text) {
    std::vector<Line> now;
    ForEachRun(text, [&](std::string_view run, bool lineEnd) {
        if (!lineEnd) now.push_back({std::string(run), std::nullopt});
    });
    // One edit changes one stretch of lines, or (a renaming) lines in their places: the lines
    // around it are the file's own, counted from the end first, where a deletion of the first
    // of two equal lines leaves the second.
    const std::size_t n = lines_.size(), m = now.size(), least = std::min(n, m);
    std::size_t tail = 0, head = 0;
    if (n == m) {
        for (std::size_t i = 0; i < n; ++i)
            if (lines_[i].text == now[i].text) now[i].units = std::move(lines_[i].units);
    } else {
        while (tail < least && lines_[n - 1 - tail].text == now[m - 1 - tail].text) ++tail;
        while (head < least - tail && lines_[head].text == now[head].text) ++head;
        for (std::size_t i = 0; i < head; ++i) now[i].units = std::move(lines_[i].units);
        for (std::size_t i = 1; i <= tail; ++i) now[m - i].units = std::move(lines_[n - i].units);
    }
    lines_ = std::move(now);
}

std::string Utf16File::Encode(std::string_view text) {
    Follow(text);
    std::u16string units;
    units.reserve(text.size() + 1);
    units += u'\xFEFF';
    std::size_t line = 0;
    ForEachRun(text, [&](std::string_view run, bool lineEnd) {
        if (lineEnd) units += static_cast<char16_t>(run[0]);
        else if (const auto& kept = lines_[line++].units) units += *kept;  // the line's own units
        else units += platform::Utf16FromAnsi(run);  // a line the edit wrote
    });
    std::string out;
    out.reserve(units.size() * 2 + oddByte_.size());
    for (char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out + oddByte_;
}

}  // namespace sk::profile
