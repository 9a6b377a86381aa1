#include "platform/lock.h"

#include <windows.h>

#include <new>

namespace platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "Mutex storage too small");

Mutex::Mutex() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }
Mutex::~Mutex() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Mutex::lock() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void Mutex::unlock() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

}  // namespace platform
