// The headless storage layer's other side, for tests: the in-memory registry, failures on
// demand, and where the program believes it runs. Only tests include this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace platform::hooks {

// Every key path under the root (as first created, parents included), sorted.
std::vector<std::string> RegistryKeys(RegistryRoot root);
void ResetRegistry();
// While false, opening a key for writing and creating one fail (a user without rights).
void SetRegistryWritable(bool writable);
// While false, the same for HKEY_LOCAL_MACHINE only (a user without administrator rights).
void SetMachineRegistryWritable(bool writable);

// Failures of coming calls; nth = 1 is the next call of that kind.
// CreateFileExclusive fails: nothing is created or truncated.
void FailFileCreate(int nth = 1);
// CreateFileExclusive or OpenFileForRewrite succeeds (truncating, or keeping the bytes), then
// writing fails once bytesWritten are out; the opens of both kinds count.
void FailFileWrite(std::size_t bytesWritten, int nth = 1);
// ReplaceFileAtomically fails and moves nothing, or with takeTargetAway, only the target away
// (to its name + "~"), as a ReplaceFile that failed half way.
void FailReplace(int nth = 1, bool takeTargetAway = false);
void ClearFailures();

// A file held with platform::HoldFile lets go once the program's clock (the process layer's)
// has moved ms on, as another program closing it while the program waits.
void LetGoAfter(FileHandle held, std::uint32_t ms);

// The module path the program sees (Windows form); "" goes back to the real executable.
void SetModuleFileName(const std::string& windowsPath);

}  // namespace platform::hooks
