// The handles the seam hands out: a distinct type for each kind, so that a file can never be
// passed where a registry key or an icon is wanted, and one small owner that closes a handle
// when it goes out of scope. The zero value is "none" for every kind.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace platform {

using ByteVector = std::vector<std::uint8_t>;

enum class FileHandle : std::intptr_t {};
enum class RegistryKey : std::intptr_t {};
enum class LibraryHandle : std::intptr_t {};
enum class ThreadHandle : std::intptr_t {};
enum class WindowHandle : std::intptr_t {};
enum class IconHandle : std::intptr_t {};
enum class InternetHandle : std::intptr_t {};
enum class JobHandle : std::intptr_t {};
// A kernel object (process, snapshot) of the functions the program binds by name.
enum class KernelHandle : std::intptr_t {};

template <class Handle>
constexpr bool IsSet(Handle h) {
    return h != Handle{};
}

// A backend's native handle or object pointer as a seam handle, and back.
template <class Handle, class Native>
Handle HandleOf(Native* native) {
    return static_cast<Handle>(reinterpret_cast<std::intptr_t>(native));
}
template <class Native, class Handle>
Native* NativeOf(Handle handle) {
    return reinterpret_cast<Native*>(static_cast<std::intptr_t>(handle));
}

// Owns one handle and closes it once, with Close, when it is reset or goes out of scope.
template <class Handle, auto Close>
class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    // Closing may end the program (a close function bound by name that is missing); the
    // headless layer carries such an end out by unwinding, so this destructor may throw there.
    ~Owned() noexcept(false) { reset(); }
    Owned(Owned&& other) noexcept : handle_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return IsSet(handle_); }
    Handle release() { return std::exchange(handle_, Handle{}); }
    void reset(Handle handle = Handle{}) {
        const Handle old = std::exchange(handle_, handle);
        if (IsSet(old)) Close(old);
    }

private:
    Handle handle_{};
};

// The closing call of each kind; the rest of each kind's calls are in its subject's header.
bool CloseFile(FileHandle file);
void RegistryCloseKey(RegistryKey key);
void CloseLibrary(LibraryHandle library);
void CloseThreadHandle(ThreadHandle thread);
void DestroyIconHandle(IconHandle icon);
void CloseJob(JobHandle job);
namespace internet {
void CloseHandle(InternetHandle handle);
}

using OwnedFile = Owned<FileHandle, CloseFile>;
using OwnedKey = Owned<RegistryKey, RegistryCloseKey>;
using OwnedLibrary = Owned<LibraryHandle, CloseLibrary>;
using OwnedThread = Owned<ThreadHandle, CloseThreadHandle>;
using OwnedIcon = Owned<IconHandle, DestroyIconHandle>;
using OwnedInternet = Owned<InternetHandle, internet::CloseHandle>;
using OwnedJob = Owned<JobHandle, CloseJob>;

}  // namespace platform
