#include "common/paths.h"

#include "common/handles.h"
#include "common/log_line.h"

#include <cstring>
#include <memory>

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

// Windows compares file names without regard to case; here for the ASCII
// letters only, so that a name outside them must match exactly (a refusal
// at worst, never a file taken for another).
bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// Calls a platform function that fills a text buffer and answers the
// length it wrote, or the room it needs when the buffer is too small. A
// text that grows between two calls is asked for again, a few times.
template <typename Fill> bool FetchText(Fill fill, std::string* text) {
    DWORD room = MAX_PATH + 1;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::unique_ptr<char[]> buffer(new char[room]);
        const DWORD length = fill(buffer.get(), room);
        if (length == 0)
            return false;
        if (length < room) {
            text->assign(buffer.get(), length);
            return true;
        }
        room = length + 1; // one more than asked: some versions leave out the terminator
    }
    SetLastError(ERROR_MORE_DATA);
    return false;
}

// "\\?\C:\dir" -> "C:\dir"; "\\?\UNC\server\share" -> "\\server\share".
std::string WithoutLongPrefix(const std::string& path) {
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0)
        return "\\" + path.substr(7);
    if (path.compare(0, 4, "\\\\?\\") == 0)
        return path.substr(4);
    return path;
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

FinalPathCheck CheckFinalPath(HANDLE file, LPCSTR intended) {
    FinalPathCheck check;
    std::string final;
    if (!FetchText(
            [file](char* buffer, DWORD room) {
                return GetFinalPathNameByHandleA(file, buffer, room,
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            },
            &final)) {
        check.error = GetLastError();
        return check;
    }
    check.finalPath = WithoutLongPrefix(final);
    const std::string meant = intended ? intended : "";
    if (SameNoCase(check.finalPath, meant)) {
        check.kind = FinalPathCheck::kSame;
        return check;
    }
    // The final path has long names only: a short name in the intended path
    // is compared by its long name. Expanding a name never resolves a link,
    // so a link on the way still shows as a difference.
    std::string longName;
    if (FetchText([&meant](char* buffer,
                           DWORD room) { return GetLongPathNameA(meant.c_str(), buffer, room); },
                  &longName) &&
        SameNoCase(check.finalPath, longName)) {
        check.kind = FinalPathCheck::kSame;
        return check;
    }
    check.kind = FinalPathCheck::kDiffers;
    return check;
}

std::string FinalPathRefusal(const FinalPathCheck& check) {
    switch (check.kind) {
    case FinalPathCheck::kDiffers:
        return "its final path is " + check.finalPath;
    case FinalPathCheck::kUnknown:
        return WithError("its final path cannot be read", check.error);
    default:
        return std::string();
    }
}

} // namespace vantor
