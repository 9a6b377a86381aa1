#include <mutex>
#include <new>

#include "platform/lock.h"

namespace platform {

static_assert(sizeof(std::mutex) <= 64, "Mutex storage too small");

Mutex::Mutex() { new (storage_) std::mutex; }
Mutex::~Mutex() { std::launder(reinterpret_cast<std::mutex*>(storage_))->~mutex(); }
void Mutex::lock() { std::launder(reinterpret_cast<std::mutex*>(storage_))->lock(); }
void Mutex::unlock() { std::launder(reinterpret_cast<std::mutex*>(storage_))->unlock(); }

}  // namespace platform
