// config.ini beside the executable: its path, single values, node sections and the rewrite
// that renumbers node sections after a deletion.
#pragma once

#include "services/text.h"

namespace app {

using sk::Text;

// Rebuilt for every access: the program never caches the file or its path.
Text ConfigPath();

Text ReadConfig(const Text& section, const Text& key, sk::Opt<Text> defaultValue = {});

// While one lives, config.ini is read once: ReadConfig answers from that reading (by Windows'
// profile rules) until a write, after which the next read reads the file again. For handlers
// that read many values; they nest.
class ConfigReadOnce {
public:
    ConfigReadOnce();
    ~ConfigReadOnce();
    ConfigReadOnce(const ConfigReadOnce&) = delete;
    ConfigReadOnce& operator=(const ConfigReadOnce&) = delete;
};
// A write that cannot reach the file because another program holds config.ini (after the
// retries and the rewrite in place of sk::ReplaceFileContents), with nothing changed, shows
// kConfigInUseMessage, once for the writes of one ConfigWritesTogether, or for a write outside
// any. Other failures (a read-only file, missing rights, a full disk) show nothing, as before.
void WriteConfig(const Text& section, const Text& key, const Text& value);
void DeleteConfigSection(const Text& section);
extern const char kConfigInUseMessage[];

// While one lives, the writes to config.ini (the renumbering among them) are made in memory,
// in their order, and land in one replace of the file when the outermost scope ends: after a
// kill or a power cut, the file (or the complete copy that the next start takes in, see
// sk::RecoverFileContents) holds them all or none. A read in between lands the writes so far
// first. For handlers whose writes belong together.
// While a save waits for another program's handle, window messages are handled: the writes of
// the handlers run meanwhile join the running save's and land right after it, in the same
// loop; until then they count as done, and reads meanwhile see the file as it was.
class ConfigWritesTogether {
public:
    ConfigWritesTogether();
    ~ConfigWritesTogether();
    ConfigWritesTogether(const ConfigWritesTogether&) = delete;
    ConfigWritesTogether& operator=(const ConfigWritesTogether&) = delete;
    // Lands the writes so far when this is the outermost scope (an inner one leaves that to the
    // outer). False when a write of the outermost scope has failed: what the handler shows must
    // then stay as the file has it.
    bool Land();
};

// While one lives (the end of the program or the session): a save waiting below is cut short,
// retries are bounded by sk::kShortReplaceRetryMs, and the writes land at once, with those of
// the waiting save, in one replace.
class ConfigEnding {
public:
    ConfigEnding();
    ~ConfigEnding();
    ConfigEnding(const ConfigEnding&) = delete;
    ConfigEnding& operator=(const ConfigEnding&) = delete;
};

// While one lives, a failed write shows no message: for the end of a Windows session, where
// nobody is left to answer a box.
class ConfigFailuresUnshown {
public:
    ConfigFailuresUnshown();
    ~ConfigFailuresUnshown();
    ConfigFailuresUnshown(const ConfigFailuresUnshown&) = delete;
    ConfigFailuresUnshown& operator=(const ConfigFailuresUnshown&) = delete;
};

// The section of the node at 0-based list position p: "Node" followed by p + 1.
Text NodeSection(int position);
// remarks(server:port), or server:port without a remark.
Text NodeListText(const Text& remarks, const Text& server, const Text& serverPort);

// How many nodes the list shows for the stored Quantity: a plausible one (up to
// kPlausibleNodeCount) as it is, sections missing or not. A larger one is corrupt and is cut by
// the sections: positions 1 to K, where K is the last node section ("[NodeK]") of the file, at
// most Quantity, up to which positions without a section are no more than the sections (K is at
// most twice the sections up to it), so that it never turns into blank nodes by the thousand
// that the next save would make permanent.
constexpr int kPlausibleNodeCount = 10000;
int ListedNodeCount(int quantity);

// Renames the sections Node(d+2)..Node(n) to Node(d+1)..Node(n-1) after the node at position d
// of n was deleted. Only whole section headers change; the new file replaces the old one in one
// step (with the writes of the ConfigWritesTogether around it), so a failure at any point leaves
// the file as it was.
void RenumberNodeSections(int deleted, int countBefore);
// The rewrite itself, on the file's bytes: the renamed headers are the only change.
std::string RenumberedNodeSections(std::string_view text, int deleted, int countBefore);

}  // namespace app
