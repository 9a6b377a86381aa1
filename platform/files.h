// The files half of the seam to the operating system: the module path, the profile (INI)
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
// Read access; others may read, write and delete meanwhile, as Windows' own profile functions
// open a profile: another program holding the file open for writing does not stop the read.
FileHandle OpenFileSharingAll(const std::string& path);
// Whether the last open or read of a file on this thread failed for another program's handle
// on it (a sharing or lock violation), rather than for missing rights, a missing file or the disk.
bool LastFailureWasAnotherHandle();
bool FileSizeOf(FileHandle file, std::uint64_t& size);
bool SetFilePosition(FileHandle file, std::uint64_t offset);  // from the file's start
// False on a read error; a short read is not an error (got tells how much arrived).
bool ReadFromFile(FileHandle file, std::uint8_t* buffer, std::size_t wanted, std::size_t& got);
// Create or truncate, no sharing; the file carries the archive attribute.
FileHandle CreateFileExclusive(const std::string& path);
bool WriteToFile(FileHandle file, const std::uint8_t* data, std::size_t size);
bool FlushFile(FileHandle file);  // what was written is on the disk, not only in the cache
bool CloseFile(FileHandle file);

// Write access to an existing file, which keeps its bytes until written over; others may read,
// write and delete meanwhile (how Windows' profile functions rewrite a profile in place). The
// file is marked for archiving.
FileHandle OpenFileForRewrite(const std::string& path);
bool TruncateFileHere(FileHandle file);  // the file ends at the current position

// Puts temporaryPath in place of targetPath, keeping the target's attributes, security and
// streams: the target's attributes go onto the new file, which then takes the target's place in
// one step by a rename (MoveFileEx); ReplaceFile, which merges security and streams, only where
// the target has an access list or streams of its own that a rename would lose. On failure both
// stay as they were. A read-only target is refused, as Windows refuses it.
// Every file written here carries the archive attribute, as any write sets it.
enum class ReplaceResult {
    Replaced,
    InUse,    // another handle on either file stands in the way: a sharing or lock violation
    Refused,  // anything else: read-only, missing rights, gone, no such folder
};
ReplaceResult ReplaceFileAtomically(const std::string& temporaryPath,
                                    const std::string& targetPath);
// MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: the file takes the new
// name, over a file of that name that nothing holds open.
bool RenameFileOver(const std::string& from, const std::string& to);
// The file a path finally names: the target of a symbolic link (followed to its end), the path
// itself for anything else or when it cannot be told.
std::string FinalPathOf(const std::string& path);
// Clears a leftover file's read-only and hidden attributes and deletes it, or removes an empty
// folder of that name. True when nothing is left there.
bool RemoveLeftover(const std::string& path);

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
// Keeps an existing file open as another program would, until released: access and share are
// sums of these (the CreateFile rights and share modes of the same names).
enum FileRight : unsigned { kRead = 1, kWrite = 2, kDelete = 4 };
FileHandle HoldFile(const std::string& path, unsigned access, unsigned share);
void ReleaseHeldFile(FileHandle file);
// A symbolic link to a file; false when the system made none (Windows without the right to,
// Wine 8, whose CreateSymbolicLink reports success and makes nothing).
bool MakeSymbolicLink(const std::string& link, const std::string& target);

}  // namespace platform
