// Storage through the ANSI Windows functions: the system code page applies to every path,
// section, key and value.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {

namespace {

HANDLE AsHandle(FileHandle file) { return NativeOf<void>(file); }
FileHandle FromHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? FileHandle{} : HandleOf<FileHandle>(h);
}

HKEY RootKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
        case RegistryRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
        case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
        case RegistryRoot::Users: return HKEY_USERS;
        case RegistryRoot::CurrentUser: break;
    }
    return HKEY_CURRENT_USER;
}

HKEY AsKey(RegistryKey key) { return NativeOf<HKEY__>(key); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Another handle on the file stands in the way. ERROR_ACCESS_DENIED also means missing rights,
// so it counts only where the file could be opened for deleting a moment before (MoveFileEx
// gives it for any other handle on the target).
bool InUseError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The file's discretionary access list as GetFileSecurity gives it; empty when it cannot.
std::vector<char> AccessList(const char* path) {
    DWORD size = 0;
    GetFileSecurityA(path, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<char> descriptor(size);
    if (size == 0 || !GetFileSecurityA(path, DACL_SECURITY_INFORMATION, descriptor.data(), size,
                                       &size))
        descriptor.clear();
    return descriptor;
}

// Whether the file has a data stream besides its own (FindFirstStreamW: Vista and later).
bool HasAlternateStreams(const char* path) {
    using FirstStream = HANDLE(WINAPI*)(LPCWSTR, int, void*, DWORD);
    using NextStream = BOOL(WINAPI*)(HANDLE, void*);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto first = reinterpret_cast<FirstStream>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "FindFirstStreamW")));
    const auto next = reinterpret_cast<NextStream>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "FindNextStreamW")));
    if (!first || !next) return false;
    wchar_t wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH)) return false;
    struct {
        LARGE_INTEGER size;
        WCHAR name[MAX_PATH + 36];
    } stream;  // WIN32_FIND_STREAM_DATA
    const HANDLE search = first(wide, 0, &stream, 0);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool other = false;
    do {
        if (lstrcmpW(stream.name, L"::$DATA") != 0) other = true;
    } while (!other && next(search, &stream));
    FindClose(search);
    return other;
}

// A rename of the new file over the target would lose what the target has of its own: an access
// list other than the one the new file got beside it, or alternate data streams.
bool RenameWouldLose(const char* target, const char* temporary) {
    return AccessList(target) != AccessList(temporary) || HasAlternateStreams(target);
}

}  // namespace

std::string ModuleFileName() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n < MAX_PATH ? n : MAX_PATH);
}

bool SetWorkingDirectory(const std::string& directory) {
    return SetCurrentDirectoryA(directory.c_str()) != 0;
}

bool FindFirstMatch(const std::string& path) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

bool DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

FileHandle OpenFileDenyingWriters(const std::string& path) {
    return FromHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle OpenFileSharingAll(const std::string& path) {
    return FromHandle(CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool LastFailureWasAnotherHandle() { return InUseError(GetLastError()); }

bool FileSizeOf(FileHandle file, std::uint64_t& size) {
    DWORD high = 0;
    const DWORD low = GetFileSize(AsHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    size = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
}

bool SetFilePosition(FileHandle file, std::uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(AsHandle(file), to, nullptr, FILE_BEGIN) != 0;
}

bool ReadFromFile(FileHandle file, std::uint8_t* buffer, std::size_t wanted, std::size_t& got) {
    got = 0;
    while (got < wanted) {
        const std::size_t left = wanted - got;
        const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD read = 0;
        if (!ReadFile(AsHandle(file), buffer + got, chunk, &read, nullptr)) return false;
        if (read == 0) break;  // the file got shorter: keep what arrived
        got += read;
    }
    return true;
}

FileHandle CreateFileExclusive(const std::string& path) {
    return FromHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_ARCHIVE, nullptr));
}

bool WriteToFile(FileHandle file, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(AsHandle(file), data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

bool FlushFile(FileHandle file) { return FlushFileBuffers(AsHandle(file)) != 0; }

bool CloseFile(FileHandle file) { return CloseHandle(AsHandle(file)) != 0; }

FileHandle OpenFileForRewrite(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // Windows sets the attribute on a write; Wine does not.
    if (file != INVALID_HANDLE_VALUE)
        SetFileAttributesA(path.c_str(), GetFileAttributesA(path.c_str()) | FILE_ATTRIBUTE_ARCHIVE);
    return FromHandle(file);
}

bool TruncateFileHere(FileHandle file) { return SetEndOfFile(AsHandle(file)) != 0; }

ReplaceResult ReplaceFileAtomically(const std::string& temporaryPath, const std::string& targetPath) {
    const char* target = targetPath.c_str();
    const char* temporary = temporaryPath.c_str();
    const DWORD attributes = GetFileAttributesA(target);
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    // Windows refuses to replace a read-only file; Wine would replace it.
    if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return ReplaceResult::Refused;
    if (exists) {
        // ReplaceFile opens the target for reading and deleting, sharing everything (so its
        // documentation says): a handle that refuses that stands in the way. Asking first spares
        // a doomed attempt, which under Wine leaves an empty rf*.tmp file beside the target.
        const HANDLE probe = CreateFileA(target, GENERIC_READ | DELETE, kShareAll, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            return InUseError(GetLastError()) ? ReplaceResult::InUse : ReplaceResult::Refused;
        CloseHandle(probe);
        // The new file carries the target's attributes, and the archive attribute of a changed
        // file, before it takes the target's place:
        // ReplaceFile keeps them on Windows, Wine's does not, and the rename below keeps none.
        constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        SetFileAttributesA(temporary, (attributes & kKept) | FILE_ATTRIBUTE_ARCHIVE);
        // Security and alternate streams a rename would lose go over with ReplaceFile; where the
        // rights to merge them are missing, the replacement goes ahead without. Only then: the
        // rename is one step, while ReplaceFile may take the target away before it puts the new
        // file there (Wine's does, in two renames), and a kill between leaves no config.ini.
        if (RenameWouldLose(target, temporary) &&
            ReplaceFileA(target, temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                         nullptr))
            return ReplaceResult::Replaced;
    }
    // No target yet, nothing a rename would lose, or ReplaceFile could not (it may have moved
    // the target away already).
    if (RenameFileOver(temporaryPath, targetPath)) return ReplaceResult::Replaced;
    const DWORD error = GetLastError();
    return InUseError(error) || (exists && error == ERROR_ACCESS_DENIED) ? ReplaceResult::InUse
                                                                       : ReplaceResult::Refused;
}

bool RenameFileOver(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string FinalPathOf(const std::string& path) {
    // Windows Vista and later; before it there are no symbolic links to follow.
    using FinalPathName = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    const auto finalPathName = reinterpret_cast<FinalPathName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (!finalPathName) return path;
    const HANDLE file = CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    std::wstring name(MAX_PATH, L'\0');
    DWORD n = finalPathName(file, name.data(), static_cast<DWORD>(name.size()), 0);
    if (n >= name.size()) {
        name.assign(n + 1, L'\0');
        n = finalPathName(file, name.data(), static_cast<DWORD>(name.size()), 0);
    }
    CloseHandle(file);
    if (n == 0 || n >= name.size()) return path;
    name.resize(n);
    // \\?\C:\... and \\?\UNC\server\... back to the forms the ANSI functions take.
    if (name.compare(0, 8, L"\\\\?\\UNC\\") == 0) name.erase(2, 6);
    else if (name.compare(0, 4, L"\\\\?\\") == 0) name.erase(0, 4);
    BOOL lossy = FALSE;
    const int size = static_cast<int>(name.size());
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), size, nullptr,
                                          0, nullptr, &lossy);
    if (bytes <= 0 || lossy) return path;  // a name the code page cannot spell: keep the given one
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.data(), size, out.data(), bytes, nullptr,
                        nullptr);
    return out;
}

bool RemoveLeftover(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryA(path.c_str()) != 0;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != 0;
}

RegistryKey RegistryOpenForWrite(RegistryRoot root, const std::string& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootKey(root), keyPath.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return {};
    return HandleOf<RegistryKey>(key);
}

RegistryKey RegistryCreateKey(RegistryRoot root, const std::string& keyPath) {
    HKEY key = nullptr;
    if (RegCreateKeyA(RootKey(root), keyPath.c_str(), &key) != ERROR_SUCCESS) return {};
    return HandleOf<RegistryKey>(key);
}

bool RegistrySetValue(RegistryKey key, const std::string& name, RegistryType type,
                      const ByteVector& data) {
    return RegSetValueExA(AsKey(key), name.c_str(), 0, static_cast<DWORD>(type), data.data(),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool RegistryDeleteValue(RegistryKey key, const std::string& name) {
    return RegDeleteValueA(AsKey(key), name.c_str()) == ERROR_SUCCESS;
}

bool RegistryDeleteKey(RegistryRoot root, const std::string& keyPath) {
    return RegDeleteKeyA(RootKey(root), keyPath.c_str()) == ERROR_SUCCESS;
}

void RegistryCloseKey(RegistryKey key) { RegCloseKey(AsKey(key)); }

bool RegistryQueryValue(RegistryRoot root, const std::string& keyPath, const std::string& name,
                        std::uint32_t& type, ByteVector& data) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootKey(root), keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD kind = 0, size = 0;
    bool ok = RegQueryValueExA(key, name.c_str(), nullptr, &kind, nullptr, &size) == ERROR_SUCCESS;
    if (ok) {
        data.assign(size, 0);
        ok = RegQueryValueExA(key, name.c_str(), nullptr, &kind, data.data(), &size) ==
             ERROR_SUCCESS;
        data.resize(size);
        type = kind;
    }
    RegCloseKey(key);
    return ok;
}

bool RegistryKeyExists(RegistryRoot root, const std::string& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootKey(root), keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

FileHandle HoldFileExclusively(const std::string& path) {
    return FromHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle HoldFile(const std::string& path, unsigned access, unsigned share) {
    const DWORD rights = ((access & kRead) ? GENERIC_READ : 0) |
                         ((access & kWrite) ? GENERIC_WRITE : 0) | ((access & kDelete) ? DELETE : 0);
    const DWORD mode = ((share & kRead) ? FILE_SHARE_READ : 0) |
                       ((share & kWrite) ? FILE_SHARE_WRITE : 0) |
                       ((share & kDelete) ? FILE_SHARE_DELETE : 0);
    return FromHandle(CreateFileA(path.c_str(), rights, mode, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

void ReleaseHeldFile(FileHandle file) { CloseHandle(AsHandle(file)); }

bool MakeSymbolicLink(const std::string& link, const std::string& target) {
    using CreateLink = BOOLEAN(WINAPI*)(LPCSTR, LPCSTR, DWORD);
    const auto createLink = reinterpret_cast<CreateLink>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
    constexpr DWORD kUnprivileged = 2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (!createLink) return false;
    if (!createLink(link.c_str(), target.c_str(), kUnprivileged) &&
        !createLink(link.c_str(), target.c_str(), 0))
        return false;
    const DWORD attributes = GetFileAttributesA(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace platform
