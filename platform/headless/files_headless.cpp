// Storage on Linux: real files (Windows paths arrive with backslashes, which become slashes),
// Windows' sharing rules for the files this process opens, and a registry in memory.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

#include "platform/codepage.h"
#include "platform/headless/files_hooks.h"
#include "platform/headless/user.h"
#include "platform/programs.h"
#include "platform/files.h"

namespace platform {

namespace {

std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// --- files this process holds open, with the sharing Windows would enforce ------------------
// Each open has its access and its share mode (sums of FileRight). A new open is granted when
// every open handle shares what it asks for and it shares what every open handle has.
struct Use {
    unsigned access, share;
};

constexpr unsigned kShareAll = kRead | kWrite | kDelete;

enum class Mode { Read, Write, Hold };

struct OpenFile {
    int fd;
    std::string path;  // native
    Mode mode;
    Use use;
    std::size_t budget;  // bytes that may still be written before an injected failure
    std::optional<std::uint32_t> releaseAt;  // a test's holder lets go at this clock reading
};

struct Countdown {
    int left = 0;
    // True when this call is the one chosen to fail.
    bool Hit() { return left > 0 && --left == 0; }
};

// --- the registry --------------------------------------------------------------------------
struct RegValue {
    std::string name;
    std::uint32_t type;
    ByteVector data;
};
struct RegNode {
    std::string path;  // spelling of its creation
    std::vector<RegValue> values;
};

constexpr int kRoots = 5;

struct State {
    std::mutex mutex;
    std::map<FileHandle, OpenFile> files;
    std::intptr_t nextHandle = 1;
    Countdown failCreate, failWrite, failReplace;
    bool takeTargetAway = false;
    std::size_t failWriteAfter = 0;
    std::string moduleOverride;

    std::map<std::string, RegNode> registry[kRoots];  // by folded path; "" is the root itself
    std::map<RegistryKey, std::pair<int, std::string>> openKeys;
    std::intptr_t nextKey = 1;
    bool registryWritable = true;
    bool machineWritable = true;  // HKEY_LOCAL_MACHINE, for administrators only
};

State& S() {
    static State state;
    return state;
}

using Lock = std::lock_guard<std::mutex>;

// Closes what a test's holder has let go of by now.
void LetGoOfExpiredHolds() {
    const std::uint32_t now = platform::TickCount();
    for (auto it = S().files.begin(); it != S().files.end();) {
        if (it->second.releaseAt && now - *it->second.releaseAt < 0x80000000u) {
            ::close(it->second.fd);
            it = S().files.erase(it);
        } else {
            ++it;
        }
    }
}

// Whether an open with this access and share mode is granted beside the handles open now.
bool Grants(const std::string& native, unsigned access, unsigned share) {
    LetGoOfExpiredHolds();
    for (const auto& [handle, f] : S().files) {
        if (f.path != native) continue;
        if ((access & ~f.use.share) || (f.use.access & ~share)) return false;
    }
    return true;
}

bool AnyOpen(const std::string& native) { return !Grants(native, kShareAll, 0); }

FileHandle Track(int fd, const std::string& native, Mode mode, Use use,
                 std::size_t budget = 0) {
    const FileHandle h = FileHandle{S().nextHandle++};
    S().files[h] = {fd, native, mode, use, budget, std::nullopt};
    return h;
}

// Windows keeps a read-only file from being opened for writing or created over.
bool ReadOnly(const std::string& native) {
    struct stat st;
    return ::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool FileExistsNative(const std::string& native) {
    struct stat st;
    return ::stat(native.c_str(), &st) == 0;
}

// ASCII letters folded, a double-byte character's bytes kept.
std::string Fold(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (IsGbkLeadByte(out[i])) {
            ++i;
            continue;
        }
        if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
    }
    return out;
}

// Path components split at backslashes (double-byte aware); empty components dropped.
std::vector<std::string> Components(std::string_view path) {
    std::vector<std::string> parts;
    std::string current;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto b = static_cast<unsigned char>(path[i]);
        if (IsGbkLeadByte(b) && i + 1 < path.size()) {
            current += path.substr(i, 2);
            ++i;
        } else if (b == '\\') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += path[i];
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

std::string Join(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) out += '\\';
        out += parts[i];
    }
    return out;
}

std::string FoldedPath(std::string_view keyPath) {
    const std::vector<std::string> parts = Components(keyPath);
    return Fold(Join(parts, parts.size()));
}

std::map<std::string, RegNode>& Root(RegistryRoot root) {
    return S().registry[static_cast<int>(root)];
}

RegistryKey NewKeyHandle(RegistryRoot root, const std::string& folded) {
    const RegistryKey key = RegistryKey{S().nextKey++};
    S().openKeys[key] = {static_cast<int>(root), folded};
    return key;
}

RegNode* NodeOf(RegistryKey key) {
    auto it = S().openKeys.find(key);
    if (it == S().openKeys.end()) return nullptr;
    auto& root = S().registry[it->second.first];
    if (it->second.second.empty()) return &root[""];  // the root key always exists
    auto node = root.find(it->second.second);
    return node == root.end() ? nullptr : &node->second;
}

std::vector<RegValue>::iterator FindValue(RegNode& node, const std::string& name) {
    const std::string folded = Fold(name);
    return std::find_if(node.values.begin(), node.values.end(),
                        [&](const RegValue& v) { return Fold(v.name) == folded; });
}

}  // namespace

// --- the running executable ----------------------------------------------------------------

std::string ModuleFileName() {
    {
        Lock lock(S().mutex);
        if (!S().moduleOverride.empty()) return S().moduleOverride;
    }
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0) return std::string();
    std::string path(buffer, static_cast<std::size_t>(n));
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool SetWorkingDirectory(const std::string& directory) {
    return !directory.empty() && ::chdir(Native(directory).c_str()) == 0;
}

// --- files ---------------------------------------------------------------------------------

bool FindFirstMatch(const std::string& path) {
    std::string native = Native(path);
    if (native.empty() || native.back() == '/') return false;
    const std::size_t slash = native.rfind('/');
    std::string pattern = slash == std::string::npos ? native : native.substr(slash + 1);
    if (pattern.find_first_of("*?") == std::string::npos) return FileExistsNative(native);
    if (pattern == "*.*") pattern = "*";  // Windows: every name, with or without a dot
    const std::string dir = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    bool found = false;
    while (const dirent* e = ::readdir(d)) {
        if (::fnmatch(pattern.c_str(), e->d_name, FNM_CASEFOLD) == 0) {
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

bool DeleteFileAt(const std::string& path) {
    const std::string native = Native(path);
    Lock lock(S().mutex);
    if (headless::Ended() || path.empty() || !Grants(native, kDelete, kShareAll)) return false;
    return ::unlink(native.c_str()) == 0;
}

namespace {
thread_local bool g_otherHandle = false;  // the last failed open met another handle

FileHandle OpenForReading(const std::string& path, unsigned share) {
    const std::string native = Native(path);
    Lock lock(S().mutex);
    g_otherHandle = !path.empty() && !Grants(native, kRead, share);
    if (path.empty() || g_otherHandle) return {};
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st;
    // A file without its owner's read bit stands in for one whose access list grants this user
    // no reading (tests run as root, whom the bits do not stop).
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(st.st_mode & S_IRUSR)) {
        // Windows opens no directory here
        ::close(fd);
        return {};
    }
    return Track(fd, native, Mode::Read, {kRead, share});
}
}  // namespace

FileHandle OpenFileDenyingWriters(const std::string& path) { return OpenForReading(path, kRead); }

bool LastFailureWasAnotherHandle() { return g_otherHandle; }

FileHandle OpenFileSharingAll(const std::string& path) { return OpenForReading(path, kShareAll); }

bool FileSizeOf(FileHandle file, std::uint64_t& size) {
    Lock lock(S().mutex);
    auto it = S().files.find(file);
    struct stat st;
    if (it == S().files.end() || ::fstat(it->second.fd, &st) != 0) return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool SetFilePosition(FileHandle file, std::uint64_t offset) {
    Lock lock(S().mutex);
    auto it = S().files.find(file);
    return it != S().files.end() &&
           ::lseek(it->second.fd, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
}

bool ReadFromFile(FileHandle file, std::uint8_t* buffer, std::size_t wanted, std::size_t& got) {
    got = 0;
    Lock lock(S().mutex);
    auto it = S().files.find(file);
    if (it == S().files.end() || it->second.mode == Mode::Write) return false;
    while (got < wanted) {
        const ssize_t n = ::read(it->second.fd, buffer + got, wanted - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

FileHandle CreateFileExclusive(const std::string& path) {
    const std::string native = Native(path);
    Lock lock(S().mutex);
    const bool failOpen = S().failCreate.Hit();
    const bool failLater = S().failWrite.Hit();
    if (headless::Ended() || path.empty() || !Grants(native, kWrite, 0) || ReadOnly(native) ||
        failOpen)
        return {};
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return {};
    return Track(fd, native, Mode::Write, {kWrite, 0}, failLater ? S().failWriteAfter : SIZE_MAX);
}

FileHandle OpenFileForRewrite(const std::string& path) {
    const std::string native = Native(path);
    Lock lock(S().mutex);
    g_otherHandle = !path.empty() && !Grants(native, kWrite, kShareAll);
    if (headless::Ended() || path.empty() || g_otherHandle || ReadOnly(native)) return {};
    const bool failLater = S().failWrite.Hit();
    const int fd = ::open(native.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
    return Track(fd, native, Mode::Write, {kWrite, kShareAll},
                 failLater ? S().failWriteAfter : SIZE_MAX);
}

bool TruncateFileHere(FileHandle file) {
    Lock lock(S().mutex);
    auto it = S().files.find(file);
    if (headless::Ended() || it == S().files.end() || it->second.mode != Mode::Write) return false;
    const off_t here = ::lseek(it->second.fd, 0, SEEK_CUR);
    return here >= 0 && ::ftruncate(it->second.fd, here) == 0;
}

bool WriteToFile(FileHandle file, const std::uint8_t* data, std::size_t size) {
    Lock lock(S().mutex);
    auto it = S().files.find(file);
    if (headless::Ended() || it == S().files.end() || it->second.mode != Mode::Write)
        return false;
    OpenFile& f = it->second;
    const std::size_t allowed = std::min(size, f.budget);
    if (!WriteAll(f.fd, reinterpret_cast<const char*>(data), allowed)) return false;
    if (f.budget != SIZE_MAX) f.budget -= allowed;
    return allowed == size;
}

bool FlushFile(FileHandle file) {
    Lock lock(S().mutex);
    auto it = S().files.find(file);
    return it != S().files.end() && it->second.mode == Mode::Write && ::fsync(it->second.fd) == 0;
}

bool CloseFile(FileHandle file) {
    Lock lock(S().mutex);
    auto it = S().files.find(file);
    if (it == S().files.end()) return false;
    const bool ok = ::close(it->second.fd) == 0;
    S().files.erase(it);
    return ok;
}

ReplaceResult ReplaceFileAtomically(const std::string& temporaryPath, const std::string& targetPath) {
    const std::string from = Native(temporaryPath), to = Native(targetPath);
    Lock lock(S().mutex);
    if (headless::Ended() || temporaryPath.empty() || targetPath.empty()) return ReplaceResult::Refused;
    if (S().failReplace.Hit()) {
        if (S().takeTargetAway) std::rename(to.c_str(), (to + "~").c_str());
        return ReplaceResult::Refused;
    }
    struct stat st;
    const bool exists = ::stat(to.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || !(st.st_mode & S_IWUSR)))  // read-only, a folder
        return ReplaceResult::Refused;
    // Here nothing is lost by a rename, which fails over any open handle, whatever it shares
    // (MoveFileEx gives ERROR_ACCESS_DENIED then); the new file must be free.
    if (!Grants(from, kShareAll, 0) || (exists && AnyOpen(to))) return ReplaceResult::InUse;
    return std::rename(from.c_str(), to.c_str()) == 0 ? ReplaceResult::Replaced
                                                      : ReplaceResult::Refused;
}

bool RenameFileOver(const std::string& from, const std::string& to) {
    const std::string a = Native(from), b = Native(to);
    Lock lock(S().mutex);
    if (headless::Ended() || !Grants(a, kShareAll, 0) || AnyOpen(b)) return false;
    return std::rename(a.c_str(), b.c_str()) == 0;
}

std::string FinalPathOf(const std::string& path) {
    char* resolved = ::realpath(Native(path).c_str(), nullptr);
    if (!resolved) return path;
    std::string windowsPath = resolved;
    std::free(resolved);
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    return windowsPath;
}

bool RemoveLeftover(const std::string& path) {
    const std::string native = Native(path);
    Lock lock(S().mutex);
    struct stat st;
    if (::lstat(native.c_str(), &st) != 0) return true;
    if (headless::Ended() || AnyOpen(native)) return false;
    if (S_ISDIR(st.st_mode)) return ::rmdir(native.c_str()) == 0;
    return ::unlink(native.c_str()) == 0;
}

FileHandle HoldFile(const std::string& path, unsigned access, unsigned share) {
    const std::string native = Native(path);
    Lock lock(S().mutex);
    if (path.empty() || !Grants(native, access, share)) return {};
    const int fd = ::open(native.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return {};
    return Track(fd, native, Mode::Hold, {access, share});
}

FileHandle HoldFileExclusively(const std::string& path) { return HoldFile(path, kRead | kWrite, 0); }

void ReleaseHeldFile(FileHandle file) { CloseFile(file); }

bool MakeSymbolicLink(const std::string& link, const std::string& target) {
    return ::symlink(Native(target).c_str(), Native(link).c_str()) == 0;
}

// --- registry ------------------------------------------------------------------------------

bool Writable(RegistryRoot root) {
    return !headless::Ended() && S().registryWritable && (root != RegistryRoot::LocalMachine || S().machineWritable);
}

RegistryKey RegistryOpenForWrite(RegistryRoot root, const std::string& keyPath) {
    Lock lock(S().mutex);
    if (!Writable(root)) return {};
    const std::string folded = FoldedPath(keyPath);
    if (!folded.empty() && !Root(root).count(folded)) return {};
    return NewKeyHandle(root, folded);
}

RegistryKey RegistryCreateKey(RegistryRoot root, const std::string& keyPath) {
    Lock lock(S().mutex);
    if (!Writable(root)) return {};
    const std::vector<std::string> parts = Components(keyPath);
    for (std::size_t n = 1; n <= parts.size(); ++n) {
        const std::string path = Join(parts, n);
        RegNode& node = Root(root)[Fold(path)];
        if (node.path.empty()) node.path = path;
    }
    return NewKeyHandle(root, Fold(Join(parts, parts.size())));
}

bool RegistrySetValue(RegistryKey key, const std::string& name, RegistryType kind,
                      const ByteVector& data) {
    Lock lock(S().mutex);
    RegNode* node = NodeOf(key);
    if (!node) return false;
    const auto type = static_cast<std::uint32_t>(kind);
    auto it = FindValue(*node, name);
    if (it == node->values.end())
        node->values.push_back({name, type, data});
    else
        *it = {it->name, type, data};
    return true;
}

bool RegistryDeleteValue(RegistryKey key, const std::string& name) {
    Lock lock(S().mutex);
    RegNode* node = NodeOf(key);
    if (!node) return false;
    auto it = FindValue(*node, name);
    if (it == node->values.end()) return false;
    node->values.erase(it);
    return true;
}

bool RegistryDeleteKey(RegistryRoot root, const std::string& keyPath) {
    Lock lock(S().mutex);
    if (!Writable(root)) return false;
    const std::string folded = FoldedPath(keyPath);
    auto& keys = Root(root);
    auto it = keys.find(folded);
    if (folded.empty() || it == keys.end()) return false;
    const std::string prefix = folded + "\\";
    auto child = keys.lower_bound(prefix);
    if (child != keys.end() && child->first.compare(0, prefix.size(), prefix) == 0) return false;
    keys.erase(it);
    return true;
}

void RegistryCloseKey(RegistryKey key) {
    Lock lock(S().mutex);
    S().openKeys.erase(key);
}

bool RegistryQueryValue(RegistryRoot root, const std::string& keyPath, const std::string& name,
                        std::uint32_t& type, ByteVector& data) {
    Lock lock(S().mutex);
    const std::string folded = FoldedPath(keyPath);
    auto& keys = Root(root);
    auto node = keys.find(folded);
    if (node == keys.end()) return false;
    auto it = FindValue(node->second, name);
    if (it == node->second.values.end()) return false;
    type = it->type;
    data = it->data;
    return true;
}

bool RegistryKeyExists(RegistryRoot root, const std::string& keyPath) {
    Lock lock(S().mutex);
    const std::string folded = FoldedPath(keyPath);
    return folded.empty() || Root(root).count(folded) > 0;
}

// --- test hooks ----------------------------------------------------------------------------

namespace hooks {

std::vector<std::string> RegistryKeys(RegistryRoot root) {
    Lock lock(S().mutex);
    std::vector<std::string> out;
    for (const auto& [folded, node] : Root(root))
        if (!folded.empty()) out.push_back(node.path);
    std::sort(out.begin(), out.end());
    return out;
}

void ResetRegistry() {
    Lock lock(S().mutex);
    for (auto& root : S().registry) root.clear();
    S().openKeys.clear();
    S().registryWritable = true;
    S().machineWritable = true;
}

void SetRegistryWritable(bool writable) {
    Lock lock(S().mutex);
    S().registryWritable = writable;
}

void SetMachineRegistryWritable(bool writable) {
    Lock lock(S().mutex);
    S().machineWritable = writable;
}

void FailFileCreate(int nth) {
    Lock lock(S().mutex);
    S().failCreate.left = nth;
}

void FailFileWrite(std::size_t bytesWritten, int nth) {
    Lock lock(S().mutex);
    S().failWrite.left = nth;
    S().failWriteAfter = bytesWritten;
}

void FailReplace(int nth, bool takeTargetAway) {
    Lock lock(S().mutex);
    S().failReplace.left = nth;
    S().takeTargetAway = takeTargetAway;
}

void LetGoAfter(FileHandle held, std::uint32_t ms) {
    Lock lock(S().mutex);
    auto it = S().files.find(held);
    if (it != S().files.end()) it->second.releaseAt = platform::TickCount() + ms;
}

void ClearFailures() {
    Lock lock(S().mutex);
    S().failCreate.left = S().failWrite.left = S().failReplace.left = 0;
}

void SetModuleFileName(const std::string& windowsPath) {
    Lock lock(S().mutex);
    S().moduleOverride = windowsPath;
}

}  // namespace hooks

}  // namespace platform
