// One temporary folder per fuzzing process, kept across inputs: a folder
// made and removed for every input costs more than the work under test.
// Each input rewrites its files in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace fuzz {

inline const std::string& ScratchDir() {
    struct Folder {
        std::string path;
        Folder() {
            // In memory where the machine offers it: rewriting a file of some
            // 100 KiB per input on a disk costs block allocation each time.
            for (const char* root : {"/dev/shm", "/tmp"}) {
                std::string pattern = std::string(root) + "/vantor-fuzz-XXXXXX";
                if (::mkdtemp(&pattern[0])) {
                    path = pattern;
                    return;
                }
            }
            std::abort();
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    return folder.path;
}

// The file's new contents, written over the old.
inline void Rewrite(const std::string& path, const std::string& data) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, data.data(), data.size()) != ssize_t(data.size()))
        std::abort();
    ::close(fd);
}

// The file's contents, in a buffer kept across inputs (valid until the next
// call).
inline const std::string& ReadBack(const std::string& path) {
    static std::string data;
    data.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return data;
    char chunk[65536];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
        data.append(chunk, std::size_t(n));
    ::close(fd);
    return data;
}

} // namespace fuzz
