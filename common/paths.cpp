#include "common/paths.h"

#include "common/handles.h"

#include <cstring>

namespace vantor {

namespace {

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// ".." and what the platform trims to it (".. ", "..."): dots and blanks
// only, two dots or more.
bool IsParentLike(const char* name, std::size_t length) {
    std::size_t dots = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (name[i] == '.')
            ++dots;
        else if (name[i] != ' ')
            return false;
    }
    return dots >= 2;
}

} // namespace

bool IsDriveAbsolute(LPCSTR path) {
    return path && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\';
}

bool IsPlainAbsolutePath(LPCSTR path) {
    if (!IsDriveAbsolute(path))
        return false;
    if (std::strchr(path, '/') || std::strchr(path + 2, ':'))
        return false;
    for (const char* name = path + 3; *name;) {
        const std::size_t length = std::strcspn(name, "\\");
        if (IsParentLike(name, length))
            return false;
        name += length;
        if (*name)
            ++name;
    }
    return true;
}

LinkCheck CheckLinks(HANDLE file) {
    LinkCheck check;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        check.error = GetLastError();
        return check;
    }
    check.links = info.nNumberOfLinks;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        check.kind = LinkCheck::kReparsePoint;
    else if (info.nNumberOfLinks > 1)
        check.kind = LinkCheck::kHardLinked;
    else
        check.kind = LinkCheck::kPlain;
    return check;
}

LinkCheck CheckLinks(LPCSTR path) {
    // Attributes only, sharing everything: this open stands in nobody's way.
    // Backup semantics let a junction (a folder) be opened as well.
    FileHandle file(CreateFileA(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        LinkCheck check;
        check.error = GetLastError();
        if (check.error == ERROR_FILE_NOT_FOUND || check.error == ERROR_PATH_NOT_FOUND)
            check.kind = LinkCheck::kMissing;
        return check;
    }
    return CheckLinks(file.get());
}

} // namespace vantor
