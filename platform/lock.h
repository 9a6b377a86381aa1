// A mutex for the little state the window thread shares with the update check's thread. On
// Win32 a critical section, so the program needs no threads library of its own.
#pragma once

namespace platform {

class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock();
    void unlock();

private:
    alignas(8) unsigned char storage_[64];  // the native lock, built in place
};

}  // namespace platform
