#include "services/storage.h"

#include <algorithm>
#include <cstdint>

#include "platform/codepage.h"
#include "platform/programs.h"
#include "platform/files.h"
#include "services/process.h"

namespace sk {

namespace {

// The profile functions get a fixed buffer: values longer than 10239 bytes come back cut.
constexpr std::size_t kIniBufferSize = 10240;

Text g_runDirectory;
Text g_exeFileName;

// Position of the last backslash that is a character of its own (not the second byte of a
// double-byte character), or npos.
std::size_t LastSeparator(std::string_view s) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (platform::IsGbkLeadByte(b) && i + 1 < s.size()) {
            i += 2;
            continue;
        }
        if (b == '\\') found = i;
        ++i;
    }
    return found;
}

// Leading blanks and control characters (0x01-0x20) do not count in INI names.
std::string_view SkipLeadingBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) >= 0x01 &&
           static_cast<unsigned char>(s.front()) <= 0x20)
        s.remove_prefix(1);
    return s;
}

platform::RegistryRoot RootFor(int rootCode) {
    switch (rootCode) {
        case 1: return platform::RegistryRoot::ClassesRoot;
        case 2: return platform::RegistryRoot::CurrentConfig;
        case 4: return platform::RegistryRoot::LocalMachine;
        case 5: return platform::RegistryRoot::Users;
        default: return platform::RegistryRoot::CurrentUser;
    }
}

Bytes DwordBytes(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

// Stores one value by its kind; false (nothing written) for a kind the registry does not take.
bool SetValueByKind(platform::RegistryKey key, const std::string& name,
                    const RegistryValue& value) {
    if (const auto* i = std::get_if<std::int32_t>(&value))
        return platform::RegistrySetValue(key, name, platform::RegistryType::Dword, DwordBytes(*i));
    if (const auto* d = std::get_if<double>(&value))
        return platform::RegistrySetValue(key, name, platform::RegistryType::Dword,
                                          DwordBytes(ToInteger(*d)));
    if (const auto* t = std::get_if<Text>(&value)) {
        Bytes data(t->begin(), t->end());
        data.push_back(0);  // REG_SZ is stored with its terminating zero
        return platform::RegistrySetValue(key, name, platform::RegistryType::Sz, data);
    }
    if (const auto* b = std::get_if<Bytes>(&value))
        return platform::RegistrySetValue(key, name, platform::RegistryType::Binary, *b);
    return false;
}

// sharingAll: others may go on writing and deleting meanwhile (a profile's read); otherwise
// writers are kept out for the while.
bool ReadWholeFile(std::string_view path, Bytes& data, bool sharingAll = false) {
    data.clear();
    if (path.empty()) return false;
    const platform::OwnedFile owned(sharingAll ? platform::OpenFileSharingAll(Text(path))
                                               : platform::OpenFileDenyingWriters(Text(path)));
    if (!owned) return false;
    const platform::FileHandle file = owned.get();
    std::uint64_t size = 0;
    std::size_t got = 0;
    // A file too large for memory ends in the runtime error report, like any allocation.
    bool ok = platform::FileSizeOf(file, size) && size <= SIZE_MAX;
    if (ok) data.resize(static_cast<std::size_t>(size));
    if (ok) ok = platform::ReadFromFile(file, data.data(), data.size(), got);
    data.resize(ok ? got : 0);
    return ok;
}

// Writes the pieces to an open file; flush: the bytes reach the disk before it is closed, for
// a file about to replace another. truncate: the file ends after them, and its length is
// checked. The file is closed either way.
bool WriteAndClose(platform::OwnedFile owned, const std::vector<Bytes>& pieces, bool flush,
                   bool truncate = false) {
    const platform::FileHandle file = owned.get();
    bool ok = true;
    std::uint64_t total = 0, size = 0;
    for (const Bytes& piece : pieces) {
        total += piece.size();
        if (piece.empty()) continue;
        if (!platform::WriteToFile(file, piece.data(), piece.size())) {
            ok = false;  // what went out before the error stays in the file
            break;
        }
    }
    if (ok && truncate)
        ok = platform::TruncateFileHere(file) && platform::FileSizeOf(file, size) && size == total;
    if (ok && flush) ok = platform::FlushFile(file);
    // A close can still fail to write what the cache held.
    if (!platform::CloseFile(owned.release())) ok = false;
    return ok;
}

bool WritePieces(std::string_view path, const std::vector<Bytes>& pieces, bool flush) {
    if (path.empty()) return false;
    platform::OwnedFile owned(platform::CreateFileExclusive(Text(path)));
    if (!owned) return false;
    return WriteAndClose(std::move(owned), pieces, flush);
}

// The new contents in a flushed temporary file beside the target; its path, or none. A leftover
// of an earlier write that cannot be created over (read-only, hidden, a folder) is cleared away
// first, and where even that fails the next name is taken.
Opt<Text> WriteTemporary(std::string_view target, const Bytes& data) {
    for (const char* suffix : {".new", ".new1", ".new2", ".new3"}) {
        const Text temporary = JoinText(target, suffix);
        platform::OwnedFile owned(platform::CreateFileExclusive(temporary));
        if (!owned && FileExists(temporary) && platform::RemoveLeftover(temporary))
            owned.reset(platform::CreateFileExclusive(temporary));
        if (!owned) {
            if (FileExists(temporary)) continue;  // a leftover that stays: another name
            return std::nullopt;
        }
        if (WriteAndClose(std::move(owned), {data}, true)) return temporary;
        RemoveFile(temporary);
        return std::nullopt;
    }
    return std::nullopt;
}

enum class Saved { Yes, InUse, No, Torn };  // Torn: a rewrite in place failed part way

std::uint32_t g_retryMs = kReplaceRetryMs;
bool g_stopped = false;

// Puts the complete copy `pending` in place of the target, trying again while another program's
// handle stands in the way (messages handled meanwhile) for up to retryMs, then writing it in
// place. The pending copy goes once the target holds its bytes, and stays after a failure.
Saved Land(const Text& pending, const Text& target, const Bytes& data, std::uint32_t retryMs) {
    const std::uint32_t start = platform::TickCount();
    for (;;) {
        const platform::ReplaceResult r = platform::ReplaceFileAtomically(pending, target);
        if (r == platform::ReplaceResult::Replaced) return Saved::Yes;
        if (r == platform::ReplaceResult::Refused) return Saved::No;
        if (platform::TickCount() - start >= std::min(retryMs, g_retryMs)) break;
        Delay(50);
        if (g_stopped) return Saved::No;
    }
    // Still held: written in place, as Windows' profile functions write, wherever the holder
    // shares writing.
    platform::OwnedFile owned(platform::OpenFileForRewrite(target));
    if (!owned) return platform::LastFailureWasAnotherHandle() ? Saved::InUse : Saved::No;
    if (!WriteAndClose(std::move(owned), {data}, true, true)) return Saved::Torn;
    RemoveFile(pending);
    return Saved::Yes;
}

Text PendingPath(const Text& target) { return JoinText(target, ".pending"); }

// ReplaceFileContents, telling a file kept by another program's handle from other failures.
Saved ReplaceContents(std::string_view path, const Bytes& data) {
    if (path.empty() || g_stopped) return Saved::No;
    const Text target = platform::FinalPathOf(Text(path));
    const Opt<Text> temporary = WriteTemporary(target, data);
    if (!temporary) return Saved::No;
    const Text pending = PendingPath(target);
    if (!platform::RenameFileOver(*temporary, pending)) {
        RemoveFile(*temporary);
        return Saved::No;
    }
    const Saved saved = Land(pending, target, data, kReplaceRetryMs);
    // The pending copy stays where it is the only whole one: after a torn rewrite, or where a
    // ReplaceFile took the target away before it failed.
    if (saved != Saved::Yes && saved != Saved::Torn && FileExists(target)) RemoveFile(pending);
    return saved;
}

// A complete copy a save left behind goes into place first.
Saved LandPending(std::string_view path) {
    const Text target = platform::FinalPathOf(Text(path));
    const Text pending = PendingPath(target);
    if (!FileExists(pending)) return Saved::Yes;
    Bytes data;
    return ReadWholeFile(pending, data) ? Land(pending, target, data, 0) : Saved::No;
}

}  // namespace

void SplitModulePath(std::string_view modulePath, Text& directory, Text& fileName) {
    const std::size_t sep = LastSeparator(modulePath);
    if (sep == std::string_view::npos) {
        directory.clear();
        fileName = Text(modulePath);
        return;
    }
    directory = Text(modulePath.substr(0, sep));
    fileName = Text(modulePath.substr(sep + 1));
}

void InitRunDirectory() {
    g_stopped = false;  // a new start (the tests start the program many times in one process)
    SplitModulePath(platform::ModuleFileName(), g_runDirectory, g_exeFileName);
    platform::SetWorkingDirectory(g_runDirectory);
}

Text GetRunDirectory() { return g_runDirectory; }
Text GetExeFileName() { return g_exeFileName; }

namespace {
// The arguments as the profile functions get them; false when a read can only give "".
bool IniReadArguments(std::string_view& section, std::string_view& key, Opt<Text>& defaultValue) {
    section = SkipLeadingBlanks(section);
    key = SkipLeadingBlanks(key);
    if (defaultValue && defaultValue->empty()) defaultValue.reset();
    return !section.empty() && !key.empty();
}
}  // namespace

Text ReadIniText(std::string_view file, std::string_view section, std::string_view key,
                 Opt<Text> defaultValue) {
    return IniSnapshot(file).Read(section, key, std::move(defaultValue));
}

IniSnapshot::IniSnapshot(std::string_view file) {
    file = SkipLeadingBlanks(file);
    if (file.empty()) return;
    Opt<std::string> content;
    Bytes bytes;
    ReadWholeFile(file, bytes, true);
    if (!bytes.empty()) content.emplace(bytes.begin(), bytes.end());
    if (content && sk::profile::Utf16File::Is(*content))
        content = sk::profile::Utf16File(*content).Text();
    reader_ = std::make_unique<sk::profile::Reader>(std::move(content));
}

IniSnapshot::~IniSnapshot() = default;

Text IniSnapshot::Read(std::string_view section, std::string_view key, Opt<Text> defaultValue) const {
    if (!reader_ || !IniReadArguments(section, key, defaultValue)) return Text();
    Text value = reader_->Read(Text(section), Text(key), defaultValue, kIniBufferSize);
    // The buffer's text ends at its first zero byte, also where the file's value goes on.
    value.resize(std::min(value.size(), value.find('\0')));
    return value;
}

std::vector<Text> IniSnapshot::SectionNames() const {
    return reader_ ? reader_->SectionNames() : std::vector<Text>();
}

bool WriteIniText(std::string_view file, std::string_view section, Opt<Text> key, Opt<Text> value) {
    IniEdits edits(file);
    return edits.Write(section, std::move(key), std::move(value)) && edits.Save();
}

IniEdits::IniEdits(std::string_view file) : file_(file) {
    if (file_.empty()) return;
    if (const Saved landed = LandPending(file_); landed != Saved::Yes) {
        inUse_ = landed == Saved::InUse;
        return;
    }
    if (FileExists(file_)) {
        Bytes bytes;
        if (!ReadWholeFile(file_, bytes, true)) {
            // There, but held by another program that shares no reading (not: no rights to it).
            inUse_ = platform::LastFailureWasAnotherHandle();
            return;
        }
        before_.emplace(bytes.begin(), bytes.end());
        if (sk::profile::Utf16File::Is(*before_)) {
            utf16_ = std::make_unique<sk::profile::Utf16File>(*before_);
            before_ = utf16_->Text();
        } else if (before_->rfind("\xFE\xFF", 0) == 0) {
            return;  // big-endian UTF-16: the writer's ANSI lines would garble it
        }
    }
    content_ = before_;
    editable_ = true;
}

bool IniEdits::Write(std::string_view section, Opt<Text> key, Opt<Text> value) {
    if (!editable_) return false;
    if (utf16_ && content_) utf16_->Follow(*content_);  // a change made through Content()
    content_ = sk::profile::Write(content_, Text(section), std::move(key), std::move(value));
    if (utf16_ && content_) utf16_->Follow(*content_);
    return true;
}

bool IniEdits::Save() {
    if (!editable_ || content_ == before_) return editable_;
    if (!content_) return false;
    // Edits made while the save waits (messages are handled then) stay for the next save.
    const Opt<std::string> saving = content_;
    const std::string bytes = utf16_ ? utf16_->Encode(*saving) : *saving;
    const Saved saved = ReplaceContents(file_, Bytes(bytes.begin(), bytes.end()));
    inUse_ = saved == Saved::InUse;
    if (saved != Saved::Yes) return false;
    before_ = saving;
    return true;
}

bool FileExists(std::string_view path) { return platform::FindFirstMatch(Text(path)); }

bool RemoveFile(std::string_view path) { return platform::DeleteFileAt(Text(path)); }

Bytes ReadFileBytes(std::string_view path) {
    Bytes data;
    return ReadWholeFile(path, data) ? data : Bytes();
}

bool WriteFileBytes(std::string_view path, const std::vector<Bytes>& pieces) {
    return WritePieces(path, pieces, false);
}

bool ReplaceFileContents(std::string_view path, const Bytes& data) {
    return ReplaceContents(path, data) == Saved::Yes;
}

bool RecoverFileContents(std::string_view path) {
    platform::RemoveLeftover(JoinText(platform::FinalPathOf(Text(path)), ".new"));
    return LandPending(path) == Saved::Yes;
}

void StopReplacements() { g_stopped = true; }

void ShortenReplaceRetries(bool shorten) {
    g_retryMs = shorten ? kShortReplaceRetryMs : kReplaceRetryMs;
}

bool ReplaceFile(std::string_view temporaryPath, std::string_view targetPath) {
    return platform::ReplaceFileAtomically(Text(temporaryPath), Text(targetPath)) ==
           platform::ReplaceResult::Replaced;
}

bool WriteRegistryValue(int rootCode, std::string_view valuePath, const RegistryValue& value) {
    const platform::RegistryRoot root = RootFor(rootCode);
    Text keyPath, name;
    SplitModulePath(valuePath, keyPath, name);
    platform::OwnedKey key(platform::RegistryOpenForWrite(root, keyPath));
    if (!key) key.reset(platform::RegistryCreateKey(root, keyPath));
    if (!key) return false;
    return SetValueByKind(key.get(), name, value);
}

bool DeleteRegistryValue(int rootCode, std::string_view valuePath) {
    const platform::RegistryRoot root = RootFor(rootCode);
    Text keyPath, name;
    SplitModulePath(valuePath, keyPath, name);
    bool deleted = false;
    if (const platform::OwnedKey key{platform::RegistryOpenForWrite(root, keyPath)})
        deleted = platform::RegistryDeleteValue(key.get(), name);
    // Not a value: the whole text may name a key without subkeys.
    if (!deleted) deleted = platform::RegistryDeleteKey(root, Text(valuePath));
    return deleted;
}

}  // namespace sk
