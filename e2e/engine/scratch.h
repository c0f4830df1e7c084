// Real files for the engine tests: a scratch folder of one test, whole-file
// reads and writes, and the fixture programs built beside the test program.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <string>

namespace engine {

// The fixture programs live in build/<arch>/e2e/fixtures, next to this
// program's own folder (build/<arch>/e2e/engine); VANTOR_FIXTURES overrides.
inline std::string FixturePath(const char* name) {
    if (const char* dir = std::getenv("VANTOR_FIXTURES"))
        return std::string(dir) + "\\" + name;
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder(self);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + "..\\fixtures\\" + name;
}

inline bool WriteText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

// The whole file; "<missing>" when it cannot be opened.
inline std::string ReadText(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
        text.append(chunk, got);
    CloseHandle(file);
    return text;
}

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fresh folder below the temporary folder, removed with everything in it.
class ScratchDir {
  public:
    explicit ScratchDir(const char* name) {
        char temp[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + name + "-" + std::to_string(GetCurrentProcessId());
        Remove(path_);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~ScratchDir() { Remove(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // A folder below this one (and the ones between), by a relative path.
    std::string Make(const std::string& relative) const {
        std::string at = path_;
        std::size_t from = 0;
        while (from <= relative.size()) {
            std::size_t to = relative.find('\\', from);
            if (to == std::string::npos)
                to = relative.size();
            at += "\\" + relative.substr(from, to - from);
            CreateDirectoryA(at.c_str(), nullptr);
            from = to + 1;
        }
        return at;
    }

  private:
    static void Remove(const std::string& path) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                const std::string child = path + "\\" + name;
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(child);
                else
                    DeleteFileA(child.c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(path.c_str());
    }

    std::string path_;
};

} // namespace engine
