#include "app/config.h"

#include <algorithm>

#include "services/storage.h"

namespace app {

Text ConfigPath() { return sk::JoinText(sk::GetRunDirectory(), "\\config.ini"); }

namespace {
int g_readOnceScopes = 0;
std::unique_ptr<sk::IniSnapshot> g_reading;  // the file as read once, while a scope lives
int g_writeScopes = 0;
std::unique_ptr<sk::IniEdits> g_edits;  // the writes not yet in the file, while a scope lives

// Puts the writes made so far in the file; the scope goes on with the file as it now is.
void LandWrites() {
    if (!g_edits) return;
    g_edits->Save();
    g_edits.reset();
    g_reading.reset();
}

sk::IniEdits& Edits() {
    if (!g_edits) g_edits = std::make_unique<sk::IniEdits>(ConfigPath());
    return *g_edits;
}
}  // namespace

ConfigWritesTogether::ConfigWritesTogether() { ++g_writeScopes; }
ConfigWritesTogether::~ConfigWritesTogether() {
    if (--g_writeScopes == 0) LandWrites();
}

ConfigReadOnce::ConfigReadOnce() { ++g_readOnceScopes; }
ConfigReadOnce::~ConfigReadOnce() {
    if (--g_readOnceScopes == 0) g_reading.reset();
}

Text ReadConfig(const Text& section, const Text& key, sk::Opt<Text> defaultValue) {
    LandWrites();
    if (g_readOnceScopes == 0) return sk::ReadIniText(ConfigPath(), section, key, std::move(defaultValue));
    if (!g_reading) g_reading = std::make_unique<sk::IniSnapshot>(ConfigPath());
    return g_reading->Read(section, key, std::move(defaultValue));
}

void WriteConfig(const Text& section, const Text& key, const Text& value) {
    if (g_writeScopes > 0) Edits().Write(section, key, value);
    else sk::WriteIniText(ConfigPath(), section, key, value);
    g_reading.reset();
}

void DeleteConfigSection(const Text& section) {
    if (g_writeScopes > 0) Edits().Write(section);
    else sk::WriteIniText(ConfigPath(), section);
    g_reading.reset();
}

Text NodeSection(int position) { return sk::JoinText("Node", sk::ToText(position + 1.0)); }

Text NodeListText(const Text& remarks, const Text& server, const Text& serverPort) {
    if (remarks.empty()) return sk::JoinText(server, ":", serverPort);
    return sk::JoinText(remarks, "(", server, ":", serverPort, ")");
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The node number of a section header line "[NodeK]" (blanks around, any letter case), or 0.
int HeaderNodeNumber(std::string_view line) {
    std::size_t b = 0, e = line.size();
    while (e > b && (line[e - 1] == '\r' || line[e - 1] == '\n' || IsBlank(line[e - 1]))) --e;
    while (b < e && IsBlank(line[b])) ++b;
    if (e - b < 7 || line[b] != '[' || line[e - 1] != ']') return 0;
    std::string_view name = line.substr(b + 1, e - b - 2);
    if (sk::ToLower(name.substr(0, 4)) != "node") return 0;
    std::string_view digits = name.substr(4);
    if (digits.empty() || digits.size() > 9 || digits[0] == '0') return 0;
    for (char c : digits)
        if (c < '0' || c > '9') return 0;
    return sk::ToInteger(digits);
}

// Calls visit with each line of the text, its line break included.
template <class Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        visit(text.substr(start, end - start));
        start = end;
    }
}

}  // namespace

int LastNodeSectionNumber() {
    const sk::Bytes file = sk::ReadFileBytes(ConfigPath());
    int last = 0;
    ForEachLine(std::string_view(reinterpret_cast<const char*>(file.data()), file.size()),
                [&](std::string_view line) { last = std::max(last, HeaderNodeNumber(line)); });
    return last;
}

std::string RenumberedNodeSections(std::string_view text, int deleted, int countBefore) {
    // Rename line by line; every byte outside the renamed headers is kept as it was.
    std::string out;
    out.reserve(text.size());
    ForEachLine(text, [&](std::string_view line) {
        int k = HeaderNodeNumber(line);
        if (k >= deleted + 2 && k <= countBefore) {
            std::size_t open = line.find('['), close = line.rfind(']');
            out.append(line.substr(0, open + 1));
            out.append(NodeSection(k - 2));
            out.append(line.substr(close));
        } else {
            out.append(line);
        }
    });
    return out;
}

void RenumberNodeSections(int deleted, int countBefore) {
    const ConfigWritesTogether together;
    sk::Opt<std::string>& content = Edits().Content();
    if (!content || content->empty()) return;  // unreadable: the file stays as it is
    *content = RenumberedNodeSections(*content, deleted, countBefore);
    g_reading.reset();
}

}  // namespace app
