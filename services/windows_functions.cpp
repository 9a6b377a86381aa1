#include "services/windows_functions.h"

#include "services/runtime.h"
#include "services/storage.h"

namespace sk {

const WinFnDecl kWindowsFunctionTable[] = {
    {"CreateToolhelp32Snapshot", ""}, {"Process32First", ""},   {"CloseHandle", "kernel32"},
    {"Process32Next", ""},
    {"GetCurrentProcessId", "kernel32.dll"},
};
const char* const kDefaultLibraries[] = {"Kernel32.dll", "Gdi32.dll",  "User32.dll",
                                         "Advapi32.dll", "Mpr.dll",    "Shell32.dll"};

namespace {

struct Binding {
    void* address = nullptr;
    platform::OwnedLibrary module;  // freed when the entry is released
};
Binding g_bound[static_cast<int>(WinFn::Count)];

void* FindExport(platform::LibraryHandle module, const Text& function) {
    if (!function.empty() && function[0] == '#')
        return platform::LibraryExportByOrdinal(
            module, static_cast<std::uint16_t>(ToInteger(std::string_view(function).substr(1))));
    return platform::LibraryExport(module, function);
}

// A named library: a full path as written, else beside the program first, then the system's
// search.
platform::OwnedLibrary LoadDeclaredLibrary(const Text& library) {
    if (FindText(library, ":") > 0) return platform::OwnedLibrary(platform::OpenLibrary(library));
    platform::OwnedLibrary beside(platform::OpenLibrary(JoinText(GetRunDirectory(), "\\", library)));
    if (beside) return beside;
    return platform::OwnedLibrary(platform::OpenLibrary(library));
}

}  // namespace

void* BindWindowsFunction(WinFn fn) {
    Binding& b = g_bound[static_cast<int>(fn)];
    if (b.address) return b.address;
    const WinFnDecl& decl = kWindowsFunctionTable[static_cast<int>(fn)];
    const Text function = decl.function;
    const Text library = decl.library;
    if (library.empty()) {
        for (const char* candidate : kDefaultLibraries) {
            platform::OwnedLibrary m(platform::OpenLibrary(candidate));
            if (!m) continue;
            if (void* address = FindExport(m.get(), function)) return (b = {address, std::move(m)}).address;
        }
        RuntimeErrorReport(JoinText("无法找到指定DLL库文件中的输出命令“", function, "”"));
    }
    platform::OwnedLibrary m = LoadDeclaredLibrary(library);
    if (void* address = m ? FindExport(m.get(), function) : nullptr)
        return (b = {address, std::move(m)}).address;
    m.reset();  // the report never returns
    RuntimeErrorReport(
        JoinText("无法找到指定DLL库文件“", library, "”中的输出命令“", function, "”"));
}

void ReleaseWindowsFunctions() {
    for (Binding& b : g_bound) b = {};
}

namespace win {

namespace {
template <class Pointer>
Pointer Bound(WinFn fn) {
    return reinterpret_cast<Pointer>(BindWindowsFunction(fn));
}
using Bool = std::int32_t;
}  // namespace

Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
    return Bound<Handle(SK_WINAPI*)(std::uint32_t, std::uint32_t)>(WinFn::CreateToolhelp32Snapshot)(
        flags, processId);
}
bool Process32First(Handle snapshot, platform::ProcessEntry& entry) {
    return Bound<Bool(SK_WINAPI*)(Handle, platform::ProcessEntry*)>(WinFn::Process32First)(
               snapshot, &entry) != 0;
}
bool Process32Next(Handle snapshot, platform::ProcessEntry& entry) {
    return Bound<Bool(SK_WINAPI*)(Handle, platform::ProcessEntry*)>(WinFn::Process32Next)(
               snapshot, &entry) != 0;
}
bool CloseHandle(Handle handle) {
    return Bound<Bool(SK_WINAPI*)(Handle)>(WinFn::CloseHandle)(handle) != 0;
}
std::uint32_t GetCurrentProcessId() {
    return Bound<std::uint32_t(SK_WINAPI*)()>(WinFn::GetCurrentProcessId)();
}

}  // namespace win

}  // namespace sk
