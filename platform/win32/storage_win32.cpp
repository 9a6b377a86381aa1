// Storage through the ANSI Windows functions: the system code page applies to every path,
// section, key and value.
#include <windows.h>

#include <vector>

#include "platform/storage.h"

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

bool FileSizeOf(FileHandle file, std::uint64_t& size) {
    DWORD high = 0;
    const DWORD low = GetFileSize(AsHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    size = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
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
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
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

bool ReplaceFileAtomically(const std::string& temporaryPath, const std::string& targetPath) {
    // Windows refuses to replace a read-only file; Wine would replace it.
    const DWORD attributes = GetFileAttributesA(targetPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    return MoveFileExA(temporaryPath.c_str(), targetPath.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
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

void ReleaseHeldFile(FileHandle file) { CloseHandle(AsHandle(file)); }

}  // namespace platform
