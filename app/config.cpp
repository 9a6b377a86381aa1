#include "app/config.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "services/profile.h"
#include "services/runtime.h"
#include "services/storage.h"

namespace app {

Text ConfigPath() { return sk::JoinText(sk::GetRunDirectory(), "\\config.ini"); }

namespace {
int g_readOnceScopes = 0;
std::unique_ptr<sk::IniSnapshot> g_reading;  // the file as read once, while a scope lives
int g_writeScopes = 0;
std::unique_ptr<sk::IniEdits> g_edits;  // the writes not yet in the file, while a scope lives
bool g_failed = false;  // a write since the outermost scope began did not reach the file
bool g_inUse = false;   // one of them because another program holds the file
int g_unshownScopes = 0;

void NoteFailure(const sk::IniEdits& edits) {
    g_failed = true;
    g_inUse = g_inUse || edits.InUse();
}

bool g_saving = false;  // a save runs: while it waits for the file, messages are handled
bool g_ending = false;  // the program or the session ends: nothing waits for a save below

// Puts the writes made so far in the file; the scope goes on with the file as it now is. Writes
// asked by messages handled while the save waits join the same edits and land after it, in
// the same loop: never a second save beside it, unless the end cannot wait for it.
void LandWrites() {
    if (!g_edits || (g_saving && !g_ending)) return;
    const bool outer = !g_saving;
    const int scopes = std::exchange(g_writeScopes, 0);  // those of the handlers meanwhile
    g_saving = true;
    while (g_edits->Changed()) {
        if (!g_edits->Save()) {
            NoteFailure(*g_edits);
            break;
        }
    }
    g_writeScopes = scopes;
    g_saving = !outer;
    if (!outer) return;
    g_edits.reset();
    g_reading.reset();
}

// At the end of the outermost scope, or after a write outside any: the message, at most once.
void ReportFailure() {
    if (g_inUse && g_unshownScopes == 0) sk::ShowMessageBox(kConfigInUseMessage);
    g_failed = g_inUse = false;
}

sk::IniEdits& Edits() {
    if (!g_edits) g_edits = std::make_unique<sk::IniEdits>(ConfigPath());
    return *g_edits;
}

// One write outside any scope: through IniEdits, which tells a file in use from other failures.
void WriteNow(const Text& section, sk::Opt<Text> key, sk::Opt<Text> value) {
    if (!Edits().Write(section, std::move(key), std::move(value))) NoteFailure(Edits());
    LandWrites();
    ReportFailure();
}

// WritePrivateProfileStringA's edit (no key: the whole section goes), now or with the scope's.
void Write(const Text& section, sk::Opt<Text> key, sk::Opt<Text> value) {
    if (g_writeScopes == 0) WriteNow(section, std::move(key), std::move(value));
    else if (!Edits().Write(section, std::move(key), std::move(value))) NoteFailure(Edits());
    g_reading.reset();
}

// Calls use with the file as it is now, the writes so far landed: the one reading of the
// ConfigReadOnce scope while one lives, else a reading of its own.
template <class Use>
auto WithReading(Use&& use) {
    LandWrites();
    if (g_readOnceScopes == 0) return use(sk::IniSnapshot(ConfigPath()));
    if (!g_reading) g_reading = std::make_unique<sk::IniSnapshot>(ConfigPath());
    return use(*g_reading);
}
}  // namespace

const char kConfigInUseMessage[] = "保存配置失败：config.ini 正被其他程序使用。";

ConfigWritesTogether::ConfigWritesTogether() { ++g_writeScopes; }
ConfigWritesTogether::~ConfigWritesTogether() {
    if (--g_writeScopes > 0) return;
    LandWrites();
    ReportFailure();
}

bool ConfigWritesTogether::Land() {
    if (g_writeScopes == 1) LandWrites();
    return !g_failed;
}

ConfigEnding::ConfigEnding() {
    g_ending = true;
    sk::ShortenReplaceRetries();
}
ConfigEnding::~ConfigEnding() {
    g_ending = false;
    sk::ShortenReplaceRetries(false);
}

ConfigFailuresUnshown::ConfigFailuresUnshown() { ++g_unshownScopes; }
ConfigFailuresUnshown::~ConfigFailuresUnshown() { --g_unshownScopes; }

ConfigReadOnce::ConfigReadOnce() { ++g_readOnceScopes; }
ConfigReadOnce::~ConfigReadOnce() {
    if (--g_readOnceScopes == 0) g_reading.reset();
}

Text ReadConfig(const Text& section, const Text& key, sk::Opt<Text> defaultValue) {
    return WithReading([&](const sk::IniSnapshot& file) {
        return file.Read(section, key, std::move(defaultValue));
    });
}

void WriteConfig(const Text& section, const Text& key, const Text& value) {
    Write(section, key, value);
}

void DeleteConfigSection(const Text& section) { Write(section, {}, {}); }

Text NodeSection(int position) { return sk::JoinText("Node", sk::ToText(position + 1)); }

Text NodeListText(const Text& remarks, const Text& server, const Text& serverPort) {
    if (remarks.empty()) return sk::JoinText(server, ":", serverPort);
    return sk::JoinText(remarks, "(", server, ":", serverPort, ")");
}

namespace {

struct NodeHeader {
    int number = 0;  // 0: the line is no node's header
    std::size_t begin = 0, end = 0;  // where the section name lies in the line
};

// K of a node's section name "NodeK" (any letter case, K without leading zeros), 0 for any
// other name.
int NodeNumberOf(std::string_view name) {
    if (name.size() < 5 || sk::ToLower(name.substr(0, 4)) != "node") return 0;
    const std::string_view digits = name.substr(4);
    if (digits.size() > 9 || digits[0] == '0') return 0;
    for (char c : digits)
        if (c < '0' || c > '9') return 0;
    return sk::ToInteger(digits);
}

// A node's section header "[NodeK]" (any letter case), as the profile reads take a header:
// blanks around the name or the line, anything after the last ']', no ']' at all.
NodeHeader NodeHeaderIn(std::string_view line) {
    const auto name = sk::profile::SectionNameIn(line);
    if (!name) return {};
    const int number = NodeNumberOf(line.substr(name->first, name->second - name->first));
    if (number == 0) return {};
    return {number, name->first, name->second};
}

// Calls visit with each line of the text and its line end: LF, CR or CR LF, where the profile
// reads end a line (empty for a last line without one).
template <class Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        std::size_t next = end;
        if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        visit(text.substr(start, end - start), text.substr(end, next - end));
        start = next;
    }
}

}  // namespace

int ListedNodeCount(int quantity) {
    if (quantity <= 0) return 0;
    if (quantity <= kPlausibleNodeCount) return quantity;
    const std::vector<Text> names =
        WithReading([](const sk::IniSnapshot& file) { return file.SectionNames(); });
    std::vector<int> present;  // distinct: the names are
    for (const Text& name : names) {
        const int k = NodeNumberOf(name);
        if (k >= 1 && k <= quantity) present.push_back(k);
    }
    std::sort(present.begin(), present.end());
    int count = 0;
    for (std::size_t i = 0; i < present.size(); ++i)
        if (static_cast<std::size_t>(present[i]) <= 2 * (i + 1)) count = present[i];
    return count;
}

std::string RenumberedNodeSections(std::string_view text, int deleted, int countBefore) {
    // Rename line by line; every byte outside the renamed headers is kept as it was.
    std::string out;
    out.reserve(text.size());
    ForEachLine(text, [&](std::string_view line, std::string_view lineEnd) {
        const NodeHeader h = NodeHeaderIn(line);
        if (h.number >= deleted + 2 && h.number <= countBefore) {
            out.append(line.substr(0, h.begin));
            out.append(NodeSection(h.number - 2));
            out.append(line.substr(h.end));
        } else {
            out.append(line);
        }
        out.append(lineEnd);
    });
    return out;
}

void RenumberNodeSections(int deleted, int countBefore) {
    const ConfigWritesTogether together;
    sk::Opt<std::string>& content = Edits().Content();
    if (!content) return;  // unreadable: the file stays as it is
    *content = RenumberedNodeSections(*content, deleted, countBefore);
    g_reading.reset();
}

}  // namespace app
