// A scratch folder for tests on either layer, named in Windows form as the program names its
// paths. Written without <filesystem>: its <chrono> does not build with GBK literals.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace scratch {

inline std::string Native(std::string path) {
#ifndef _WIN32
    for (char& c : path)
        if (c == '\\') c = '/';
#endif
    return path;
}

inline bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline void RemoveTree(const std::string& path) {
    const std::string native = Native(path);
    if (DIR* d = ::opendir(native.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            if (IsDirectory(child))
                RemoveTree(child);
            else
                std::remove(Native(child).c_str());
        }
        ::closedir(d);
    }
#ifdef _WIN32
    ::_rmdir(native.c_str());
#else
    ::rmdir(native.c_str());
#endif
}

inline bool MakeDirectory(const std::string& path) {
#ifdef _WIN32
    return ::_mkdir(Native(path).c_str()) == 0;
#else
    return ::mkdir(Native(path).c_str(), 0755) == 0;
#endif
}

// A new empty directory under the temporary folder, named in Windows form as the program
// names its paths.
inline std::string NewScratchDirectory(const char* prefix) {
#ifdef _WIN32
    const char* temp = std::getenv("TEMP");
    std::string root = temp && *temp ? temp : "C:\\windows\\temp";
#else
    const char* temp = std::getenv("TMPDIR");
    std::string root = temp && *temp ? temp : "/tmp";
    for (char& c : root)
        if (c == '/') c = '\\';
#endif
    if (!root.empty() && root.back() == '\\') root.pop_back();
    std::random_device random;
    for (;;) {
        const std::string dir = root + "\\" + prefix + std::to_string(random() % 1000000000u);
        if (MakeDirectory(dir)) return dir;
    }
}

}  // namespace scratch
