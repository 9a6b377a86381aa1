// The storage half of the seam to the operating system: the module path, the profile (INI)
// functions, files and the registry. Each call is one operating-system call, or on the headless
// layer its stand-in; services/storage.cpp puts the program's rules on top.
// Paths are ANSI byte strings in Windows form (backslashes). Profile (INI) files are read and
// written as files, by the program's own reader and writer of Windows' rules (profile.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace platform {

// --- the running executable ----------------------------------------------------------------
std::string ModuleFileName();  // full path of the executable, "" when unknown
bool SetWorkingDirectory(const std::string& directory);

// --- files ---------------------------------------------------------------------------------
bool FindFirstMatch(const std::string& path);  // FindFirstFileA found something (then closed)
bool DeleteFileAt(const std::string& path);

FileHandle OpenFileDenyingWriters(const std::string& path);  // read access, others may read
bool FileSizeOf(FileHandle file, std::uint64_t& size);
// False on a read error; a short read is not an error (got tells how much arrived).
bool ReadFromFile(FileHandle file, std::uint8_t* buffer, std::size_t wanted, std::size_t& got);
FileHandle CreateFileExclusive(const std::string& path);  // create or truncate, no sharing
bool WriteToFile(FileHandle file, const std::uint8_t* data, std::size_t size);
bool FlushFile(FileHandle file);  // what was written is on the disk, not only in the cache
bool CloseFile(FileHandle file);

// Moves temporaryPath over targetPath in one step; on failure both stay as they were.
bool ReplaceFileAtomically(const std::string& temporaryPath, const std::string& targetPath);

// --- registry ------------------------------------------------------------------------------
enum class RegistryRoot { ClassesRoot, CurrentConfig, CurrentUser, LocalMachine, Users };
// The registry's value types, by their native numbers.
enum class RegistryType : std::uint32_t { Sz = 1, Binary = 3, Dword = 4 };

RegistryKey RegistryOpenForWrite(RegistryRoot root, const std::string& keyPath);  // KEY_WRITE
RegistryKey RegistryCreateKey(RegistryRoot root, const std::string& keyPath);  // with parents
bool RegistrySetValue(RegistryKey key, const std::string& name, RegistryType type,
                      const ByteVector& data);
bool RegistryDeleteValue(RegistryKey key, const std::string& name);
bool RegistryDeleteKey(RegistryRoot root, const std::string& keyPath);  // fails with subkeys
void RegistryCloseKey(RegistryKey key);

// --- read-back, for tests on either layer ------------------------------------------------
bool RegistryQueryValue(RegistryRoot root, const std::string& keyPath, const std::string& name,
                        std::uint32_t& type, ByteVector& data);
bool RegistryKeyExists(RegistryRoot root, const std::string& keyPath);
// Keeps an existing file open for reading and writing, shared with nobody, until released.
FileHandle HoldFileExclusively(const std::string& path);
void ReleaseHeldFile(FileHandle file);

}  // namespace platform
