// The Windows functions the program calls by name, bound on first use: each entry names its
// function and the library it is declared in (none: the default list is searched). A function
// that cannot be found ends the program through the runtime error report.
#pragma once

#include <cstdint>

#include "platform/programs.h"

namespace sk {

enum class WinFn : int {
    CreateToolhelp32Snapshot,
    Process32First,
    CloseHandle,
    Process32Next,
    GetCurrentProcessId,
    Count
};

struct WinFnDecl {
    const char* function;  // a name, or "#" and an ordinal
    const char* library;   // "" searches kDefaultLibraries
};
extern const WinFnDecl kWindowsFunctionTable[static_cast<int>(WinFn::Count)];
extern const char* const kDefaultLibraries[6];

// The entry's address, bound on its first use.
void* BindWindowsFunction(WinFn fn);
// Frees the bound libraries (the normal end of the program); entries bind afresh afterwards.
void ReleaseWindowsFunctions();

// Typed calls through the table.
namespace win {
using Handle = platform::KernelHandle;
constexpr Handle kInvalidHandle{-1};
Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId);
bool Process32First(Handle snapshot, platform::ProcessEntry& entry);
bool Process32Next(Handle snapshot, platform::ProcessEntry& entry);
bool CloseHandle(Handle handle);
std::uint32_t GetCurrentProcessId();
using OwnedHandle = platform::Owned<Handle, CloseHandle>;
}  // namespace win

}  // namespace sk
