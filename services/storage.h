// INI, registry and file commands. None of them shows a message or ends the program: failure
// comes back only through the result (empty text, empty byte set, false).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>
#include <variant>

#include "services/profile.h"

#include "services/text.h"

namespace sk {

// Records the executable's directory and file name from its full module path and makes the
// directory current. Called once by the runtime at start-up.
void InitRunDirectory();
// The same split, for a given module path (double-byte aware: a 0x5C second byte is no separator).
void SplitModulePath(std::string_view modulePath, Text& directory, Text& fileName);

Text GetRunDirectory();  // without trailing backslash
Text GetExeFileName();   // without directory

// Profile (INI) files are read and written by the program's own reader and writer of Windows'
// rules (services/profile.h), the same on every layer.
// What GetPrivateProfileStringA gives for the file as it is now.
Text ReadIniText(std::string_view file, std::string_view section, std::string_view key,
                 Opt<Text> defaultValue = {});
// An INI file read once, for a run of reads: each gives what ReadIniText gives for the file's
// bytes at the moment of the snapshot.
class IniSnapshot {
public:
    explicit IniSnapshot(std::string_view file);
    ~IniSnapshot();
    IniSnapshot(const IniSnapshot&) = delete;
    IniSnapshot& operator=(const IniSnapshot&) = delete;
    Text Read(std::string_view section, std::string_view key, Opt<Text> defaultValue = {}) const;
    // The sections the reads can find, each once, folded to ASCII lower case.
    std::vector<Text> SectionNames() const;

private:
    std::unique_ptr<sk::profile::Reader> reader_;  // none for an empty file name
};

// Profiles are read sharing reading, writing and deleting, as Windows' own profile functions
// read them: another program's open handle does not stop a read unless it shares no reading.
// A profile in UTF-16 with its byte-order mark is read and written as Windows does
// (profile::Utf16File).

// WritePrivateProfileStringA's edit (no key: delete the section; no value: delete the key),
// made through ReplaceFileContents: after a kill or a power cut, the file or the complete copy
// beside it that RecoverFileContents takes in holds the old contents or the new ones.
bool WriteIniText(std::string_view file, std::string_view section, Opt<Text> key = {},
                  Opt<Text> value = {});

// Edits of one INI file that belong together: made in memory, in order, each as WriteIniText
// would, and saved in one ReplaceFileContents, so the file shows all of them or none. A complete
// copy an earlier save left beside the file goes in first; where it cannot, nothing is edited.
class IniEdits {
public:
    explicit IniEdits(std::string_view file);  // reads the file as it is now
    bool Write(std::string_view section, Opt<Text> key = {}, Opt<Text> value = {});
    // The text with the edits so far (a UTF-16 file's as its ANSI text); none while there is no
    // file. Changes count as edits.
    Opt<std::string>& Content() { return content_; }
    // Edits not yet in the file.
    bool Changed() const { return editable_ && content_ != before_; }
    // True when nothing changed, or the new bytes are in the file. Edits made while it waits for
    // another program's handle (window messages are handled meanwhile) are left for the next.
    bool Save();
    // The last read or save failed because another program holds the file open (sharing no
    // reading, or no writing either way) and nothing was changed, rather than for a read-only
    // file, missing rights or a full disk.
    bool InUse() const { return inUse_; }

private:
    Text file_;
    bool editable_ = false;  // the file could be read (or is not there yet) as ANSI or UTF-16
    bool inUse_ = false;
    Opt<std::string> before_, content_;  // ANSI text: a UTF-16 file's converted
    std::unique_ptr<sk::profile::Utf16File> utf16_;  // the file's encoding, when UTF-16
};

bool FileExists(std::string_view path);
bool RemoveFile(std::string_view path);
Bytes ReadFileBytes(std::string_view path);
bool WriteFileBytes(std::string_view path, const std::vector<Bytes>& pieces);
inline bool WriteFileBytes(std::string_view path, const Bytes& data) {
    return WriteFileBytes(path, std::vector<Bytes>{data});
}
// Puts a fully written temporary file in place of the target in one step: a failure leaves the
// target as it was.
bool ReplaceFile(std::string_view temporaryPath, std::string_view targetPath);
// The file's whole new contents: written to a temporary file beside it (path + ".new", or where
// a leftover of that name cannot be cleared away, ".new1" to ".new3") and flushed to the disk,
// then renamed path + ".pending", complete by its name, and put in place by ReplaceFile. At
// any moment the file or the pending copy holds the old bytes or the new ones whole; the pending
// copy goes once the file has them. A symbolic link is written through: its target gets them.
// While another program's handle stands in the way, the replacement is tried again for up to
// kReplaceRetryMs, window messages handled meanwhile; then the file is rewritten in place, as
// Windows' own profile functions write it, which works wherever that handle shares writing, and
// its length is checked. A rewrite that fails part way leaves the pending copy. A read-only file
// is refused.
bool ReplaceFileContents(std::string_view path, const Bytes& data);
constexpr std::uint32_t kReplaceRetryMs = 2000;
// Until called again with false, the retries, also those of a replacement waiting now, end
// after kShortReplaceRetryMs: for the end of the program or of the session, which must not
// wait long.
void ShortenReplaceRetries(bool shorten = true);
constexpr std::uint32_t kShortReplaceRetryMs = 200;
// For good: no replacement starts, and one waiting now gives up without writing. Once the
// session's end has saved, an older save resumed below it would write over the newer file.
void StopReplacements();
// At start-up: a partial ".new" leftover goes, and a pending copy that a killed save left is
// put in place of the file. False when one is there and could not be.
bool RecoverFileContents(std::string_view path);

// Registry root codes; anything else is HKEY_CURRENT_USER.
enum RegistryRootCode : int { kClassesRoot = 1, kCurrentConfig, kCurrentUser, kLocalMachine,
                              kUsers };
// A value that is not an integer, number, text or byte set (for example a logical) writes nothing.
using RegistryValue = std::variant<std::int32_t, double, Text, Bytes, bool>;
bool WriteRegistryValue(int rootCode, std::string_view valuePath, const RegistryValue& value);
bool DeleteRegistryValue(int rootCode, std::string_view valuePath);

}  // namespace sk
