// Files: real files of the host behind Windows file handles, with Windows'
// sharing, read-only and file-time rules that the host itself lacks. Links
// are the host's own: a symbolic link stands for a Windows symbolic link or
// junction (a reparse point), a hard link for an NTFS hard link.
#include "platform/host/internal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

struct FileObject : KernelObject {
    int fd = -1;
    std::string path;
    DWORD access = 0;
    DWORD share = 0;
    // Non-zero: the handle is a link itself (FILE_FLAG_OPEN_REPARSE_POINT),
    // with these attributes; its data cannot be read or written.
    DWORD linkAttributes = 0;
    ~FileObject() override {
        if (fd >= 0)
            ::close(fd);
    }
    const char* Kind() const override { return "file"; }
};

struct FileState {
    std::map<std::string, std::uint64_t> creation;
    std::set<std::string> locked;
    std::set<std::string> readOnly;
    long long diskSpace = -1;
    std::vector<std::string> tempDirs;
    // 8.3 names: "<host folder>/<short name, lower case>" -> long name.
    std::map<std::string, std::string> shortNames;
};

FileState& F() {
    static FileState state;
    return state;
}

void ResetFiles() {
    for (const std::string& dir : F().tempDirs) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    F() = FileState{};
}

Area area("files", ResetFiles, [] { return OpenKernelHandles("file"); });

constexpr std::uint64_t kEpochDifference = 11644473600ull; // 1601 to 1970, seconds

std::uint64_t ToFileTime(const timespec& t) {
    return (std::uint64_t(t.tv_sec) + kEpochDifference) * 10000000ull +
           std::uint64_t(t.tv_nsec) / 100;
}

timespec FromFileTime(std::uint64_t ft) {
    timespec t{};
    t.tv_sec = time_t(ft / 10000000ull - kEpochDifference);
    t.tv_nsec = long(ft % 10000000ull) * 100;
    return t;
}

std::uint64_t Join(const FILETIME& ft) {
    return (std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME Split(std::uint64_t value) {
    return FILETIME{DWORD(value & 0xFFFFFFFFu), DWORD(value >> 32)};
}

std::string Canonical(const std::string& hostPath) {
    std::error_code ignored;
    std::filesystem::path p = std::filesystem::weakly_canonical(hostPath, ignored);
    return p.empty() ? hostPath : p.string();
}

} // namespace

std::string CanonicalPath(const std::string& hostPath) {
    std::string path = Canonical(hostPath);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool OpenFileOf(HANDLE handle, std::string* hostPath, DWORD* access) {
    FileObject* file = FindKernel<FileObject>(handle);
    if (!file)
        return false;
    *hostPath = file->linkAttributes ? file->path : CanonicalPath(file->path);
    *access = file->access;
    return true;
}

void SetDiskSpace(long long bytes) {
    F().diskSpace = bytes;
}

std::string MakeTempDir() {
    char pattern[] = "/tmp/vantor-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made)
        std::abort();
    // The folder as the platform names it once links are resolved, so that
    // a final path read back from a handle is a path below it.
    char* resolved = ::realpath(made, nullptr);
    if (!resolved)
        std::abort();
    const std::string dir = resolved;
    std::free(resolved);
    F().tempDirs.push_back(dir);
    return dir;
}

std::string WinPath(const std::string& hostPath) {
    std::string path = hostPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return !path.empty() && path[0] == '\\' ? "C:" + path : path;
}

std::string ReadHostFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

void WriteHostFile(const std::string& hostPath, const std::string& data) {
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out << data;
}

bool FileExists(const std::string& hostPath) {
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0;
}

bool IsLink(const std::string& hostPath) {
    struct stat st;
    return ::lstat(hostPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

void PlantLink(const std::string& linkHostPath, const std::string& targetHostPath) {
    std::error_code failed;
    std::filesystem::create_symlink(targetHostPath, linkHostPath, failed);
    if (failed)
        std::abort();
}

void PlantHardLink(const std::string& linkHostPath, const std::string& existingHostPath) {
    std::error_code failed;
    std::filesystem::create_hard_link(existingHostPath, linkHostPath, failed);
    if (failed)
        std::abort();
}

void SetShortName(const std::string& hostPath, const std::string& shortName) {
    const std::filesystem::path p(hostPath);
    F().shortNames[p.parent_path().string() + "/" + Lower(shortName)] = p.filename().string();
}

std::string ExpandShortNames(const std::string& hostPath) {
    if (F().shortNames.empty() || hostPath.empty() || hostPath[0] != '/')
        return hostPath;
    std::string expanded;
    std::size_t at = 1;
    while (at <= hostPath.size()) {
        const std::size_t end = std::min(hostPath.find('/', at), hostPath.size());
        const std::string name = hostPath.substr(at, end - at);
        auto it = F().shortNames.find(expanded + "/" + Lower(name));
        expanded += "/" + (it != F().shortNames.end() ? it->second : name);
        at = end + 1;
    }
    return expanded;
}

void SetCreationTime(const std::string& hostPath, std::uint64_t fileTime) {
    F().creation[Canonical(hostPath)] = fileTime;
}

std::uint64_t CreationTime(const std::string& hostPath) {
    auto it = F().creation.find(Canonical(hostPath));
    if (it != F().creation.end())
        return it->second;
    return LastWriteTime(hostPath);
}

std::uint64_t LastWriteTime(const std::string& hostPath) {
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0 ? ToFileTime(st.st_mtim) : 0;
}

std::uint64_t LastAccessTime(const std::string& hostPath) {
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0 ? ToFileTime(st.st_atim) : 0;
}

void LockFile(const std::string& hostPath, bool locked) {
    if (locked)
        F().locked.insert(Canonical(hostPath));
    else
        F().locked.erase(Canonical(hostPath));
}

void SetReadOnly(const std::string& hostPath, bool readOnly) {
    if (readOnly)
        F().readOnly.insert(Canonical(hostPath));
    else
        F().readOnly.erase(Canonical(hostPath));
}

int OpenFileHandles() {
    return OpenKernelHandles("file");
}

} // namespace host

using namespace host;

namespace {

// Open handles of the stand-in on one file, to apply the sharing rules.
struct Sharing {
    bool open = false;
    bool deniesRead = false;
    bool deniesWrite = false;
    bool reading = false;
    bool writing = false;
};

std::map<std::string, std::vector<FileObject*>>& ByPath() {
    static std::map<std::string, std::vector<FileObject*>> byPath;
    return byPath;
}

void Forget(FileObject* file) {
    auto& list = ByPath()[file->path];
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == file) {
            list.erase(it);
            break;
        }
    }
}

struct TrackedFile : FileObject {
    ~TrackedFile() override { Forget(this); }
};

Sharing SharingOf(const std::string& canonical) {
    Sharing s;
    for (FileObject* f : ByPath()[canonical]) {
        s.open = true;
        s.deniesRead |= !(f->share & FILE_SHARE_READ);
        s.deniesWrite |= !(f->share & FILE_SHARE_WRITE);
        s.reading |= (f->access & GENERIC_READ) != 0;
        s.writing |= (f->access & GENERIC_WRITE) != 0;
    }
    return s;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool ParentExists(const std::string& hostPath) {
    std::filesystem::path parent = std::filesystem::path(hostPath).parent_path();
    std::error_code ignored;
    return parent.empty() || std::filesystem::is_directory(parent, ignored);
}

// The link itself, opened with FILE_FLAG_OPEN_REPARSE_POINT: its attributes
// can be read; a new file cannot be made at its name. Replacing or
// truncating a link through such a handle is not modelled.
HANDLE OpenLinkItself(const std::string& path, DWORD dwDesiredAccess, DWORD dwCreationDisposition) {
    if (dwCreationDisposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition != OPEN_EXISTING && dwCreationDisposition != OPEN_ALWAYS) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::error_code ignored;
    TrackedFile* file = new TrackedFile;
    file->fd = fd;
    file->path = path;
    file->access = dwDesiredAccess;
    // A link to a folder is a junction (or a directory symbolic link).
    file->linkAttributes = FILE_ATTRIBUTE_REPARSE_POINT |
                           (std::filesystem::is_directory(path, ignored) ? FILE_ATTRIBUTE_DIRECTORY
                                                                         : FILE_ATTRIBUTE_ARCHIVE);
    SetLastError(dwCreationDisposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return NewKernelHandle(file);
}

} // namespace

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE) {
    DWORD error = 0;
    if (ShouldFail("CreateFileA", &error)) {
        SetLastError(FaultError(error, ERROR_ACCESS_DENIED));
        return INVALID_HANDLE_VALUE;
    }
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = HostPath(lpFileName);
    if ((dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) && IsLink(path))
        return OpenLinkItself(path, dwDesiredAccess, dwCreationDisposition);
    const std::string canonical = Canonical(path);
    const bool exists = FileExists(path);
    std::error_code ignored;
    // A folder opens only with backup semantics.
    if (exists && std::filesystem::is_directory(path, ignored) &&
        !(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const bool wantsRead = dwDesiredAccess & GENERIC_READ;
    const bool wantsWrite = dwDesiredAccess & GENERIC_WRITE;

    if (F().locked.count(canonical)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    Sharing sharing = SharingOf(canonical);
    // Windows' sharing check, both ways: what this open wants against what the
    // open handles allow, and what the open handles do against what it allows.
    if (sharing.open && ((wantsRead && sharing.deniesRead) || (wantsWrite && sharing.deniesWrite) ||
                         (sharing.reading && !(dwShareMode & FILE_SHARE_READ)) ||
                         (sharing.writing && !(dwShareMode & FILE_SHARE_WRITE)))) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    const bool readOnly = F().readOnly.count(canonical) != 0;
    if (exists && readOnly &&
        (wantsWrite || dwCreationDisposition == CREATE_ALWAYS ||
         dwCreationDisposition == TRUNCATE_EXISTING)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }

    // A folder is not a file: Windows answers 5 for every open of one that does
    // not ask for backup semantics, whatever the disposition.
    std::error_code notADirectory;
    if (exists && std::filesystem::is_directory(path, notADirectory)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }

    int flags = 0;
    switch (dwCreationDisposition) {
    case OPEN_EXISTING:
        if (!exists) {
            SetLastError(ParentExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        break;
    case CREATE_NEW:
        if (exists) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!exists) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!exists && !ParentExists(path)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    flags |= (wantsWrite || (flags & O_TRUNC)) ? O_RDWR : O_RDONLY;
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!exists)
        F().creation.erase(Canonical(path)); // a new file: its creation is now
    TrackedFile* file = new TrackedFile;
    file->fd = fd;
    file->path = Canonical(path);
    file->access = dwDesiredAccess;
    file->share = dwShareMode;
    ByPath()[file->path].push_back(file);
    SetLastError(
        exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
            ? ERROR_ALREADY_EXISTS
            : ERROR_SUCCESS);
    return NewKernelHandle(file);
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    DWORD error = 0;
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    if (ShouldFail("ReadFile", &error))
        return Fail(FaultError(error, ERROR_READ_FAULT));
    FileObject* file = FindKernel<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_READ) || file->linkAttributes)
        return Fail(ERROR_ACCESS_DENIED);
    DWORD total = 0;
    char* out = static_cast<char*>(lpBuffer);
    while (total < nNumberOfBytesToRead) {
        ssize_t n = ::read(file->fd, out + total, nNumberOfBytesToRead - total);
        if (n < 0)
            return Fail(ERROR_READ_FAULT);
        if (n == 0)
            break;
        total += DWORD(n);
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = total;
    return TRUE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    DWORD error = 0;
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    if (ShouldFail("WriteFile", &error))
        return Fail(FaultError(error, ERROR_WRITE_FAULT));
    FileObject* file = FindKernel<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_WRITE) || file->linkAttributes)
        return Fail(ERROR_ACCESS_DENIED);
    DWORD wanted = nNumberOfBytesToWrite;
    bool full = false;
    if (F().diskSpace >= 0 && (long long)wanted > F().diskSpace) {
        wanted = DWORD(F().diskSpace);
        full = true;
    }
    DWORD total = 0;
    const char* in = static_cast<const char*>(lpBuffer);
    while (total < wanted) {
        ssize_t n = ::write(file->fd, in + total, wanted - total);
        if (n <= 0)
            return Fail(ERROR_WRITE_FAULT);
        total += DWORD(n);
    }
    if (F().diskSpace >= 0)
        F().diskSpace -= total;
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = total;
    return full ? Fail(ERROR_DISK_FULL) : TRUE;
}

extern "C" BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                        PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod) {
    DWORD error = 0;
    if (ShouldFail("SetFilePointerEx", &error))
        return Fail(FaultError(error, ERROR_INVALID_PARAMETER));
    FileObject* file = FindKernel<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
                 : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                                                : SEEK_END;
    off_t at = ::lseek(file->fd, off_t(liDistanceToMove.QuadPart), whence);
    if (at < 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (lpNewFilePointer)
        lpNewFilePointer->QuadPart = at;
    return TRUE;
}

extern "C" BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    DWORD error = 0;
    if (ShouldFail("GetFileSizeEx", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    FileObject* file = FindKernel<FileObject>(hFile);
    if (!file || !lpFileSize)
        return Fail(ERROR_INVALID_HANDLE);
    struct stat st;
    if (::fstat(file->fd, &st) != 0)
        return Fail(ERROR_ACCESS_DENIED);
    lpFileSize->QuadPart = st.st_size;
    return TRUE;
}

extern "C" BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    DWORD error = 0;
    if (ShouldFail("FlushFileBuffers", &error))
        return Fail(FaultError(error, ERROR_WRITE_FAULT));
    FileObject* file = FindKernel<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_WRITE))
        return Fail(ERROR_ACCESS_DENIED);
    return TRUE;
}

extern "C" BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime,
                                   LPFILETIME lpLastAccessTime, LPFILETIME lpLastWriteTime) {
    DWORD error = 0;
    if (ShouldFail("GetFileTime", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    FileObject* file = FindKernel<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (lpCreationTime)
        *lpCreationTime = Split(CreationTime(file->path));
    if (lpLastAccessTime)
        *lpLastAccessTime = Split(LastAccessTime(file->path));
    if (lpLastWriteTime)
        *lpLastWriteTime = Split(LastWriteTime(file->path));
    return TRUE;
}

extern "C" BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                                  LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    DWORD error = 0;
    if (ShouldFail("GetFileInformationByHandle", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    FileObject* file = FindKernel<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpFileInformation)
        return Fail(ERROR_INVALID_PARAMETER);
    struct stat st;
    if (::fstat(file->fd, &st) != 0)
        return Fail(ERROR_ACCESS_DENIED);
    BY_HANDLE_FILE_INFORMATION info{};
    if (file->linkAttributes)
        info.dwFileAttributes = file->linkAttributes;
    else if (S_ISDIR(st.st_mode))
        info.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    else
        info.dwFileAttributes =
            FILE_ATTRIBUTE_ARCHIVE | (F().readOnly.count(file->path) ? FILE_ATTRIBUTE_READONLY : 0);
    const std::uint64_t created =
        file->linkAttributes ? ToFileTime(st.st_mtim) : CreationTime(file->path);
    info.ftCreationTime = Split(created);
    info.ftLastAccessTime = Split(ToFileTime(st.st_atim));
    info.ftLastWriteTime = Split(ToFileTime(st.st_mtim));
    info.dwVolumeSerialNumber = DWORD(st.st_dev);
    info.nFileSizeHigh = DWORD(std::uint64_t(st.st_size) >> 32);
    info.nFileSizeLow = DWORD(std::uint64_t(st.st_size) & 0xFFFFFFFFu);
    info.nNumberOfLinks = DWORD(st.st_nlink);
    info.nFileIndexHigh = DWORD(std::uint64_t(st.st_ino) >> 32);
    info.nFileIndexLow = DWORD(std::uint64_t(st.st_ino) & 0xFFFFFFFFu);
    *lpFileInformation = info;
    return TRUE;
}

// A null pointer, or a time of zero, leaves that time unchanged.
extern "C" BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime,
                                   const FILETIME* lpLastAccessTime,
                                   const FILETIME* lpLastWriteTime) {
    DWORD error = 0;
    if (ShouldFail("SetFileTime", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    FileObject* file = FindKernel<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(file->access & (GENERIC_WRITE | FILE_WRITE_ATTRIBUTES)))
        return Fail(ERROR_ACCESS_DENIED);
    if (lpCreationTime && Join(*lpCreationTime))
        F().creation[file->path] = Join(*lpCreationTime);
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    if (lpLastAccessTime && Join(*lpLastAccessTime))
        times[0] = FromFileTime(Join(*lpLastAccessTime));
    if (lpLastWriteTime && Join(*lpLastWriteTime))
        times[1] = FromFileTime(Join(*lpLastWriteTime));
    if (::futimens(file->fd, times) != 0)
        return Fail(ERROR_ACCESS_DENIED);
    return TRUE;
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    DWORD error = 0;
    if (ShouldFail("SetEndOfFile", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    FileObject* file = FindKernel<FileObject>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_WRITE) || file->linkAttributes)
        return Fail(ERROR_ACCESS_DENIED);
    const off_t at = ::lseek(file->fd, 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(file->fd, at) != 0)
        return Fail(ERROR_ACCESS_DENIED);
    return TRUE;
}

namespace {

// The path of what an open handle stands for, every link on the way
// resolved (a handle on a link itself: the link's own name in its resolved
// folder), as the host's kernel names it; renames since the open included.
bool OpenedPath(const FileObject& file, std::string* path) {
    char buffer[PATH_MAX + 1];
    const std::string proc = "/proc/self/fd/" + std::to_string(file.fd);
    const ssize_t n = ::readlink(proc.c_str(), buffer, PATH_MAX);
    if (n <= 0)
        return false;
    path->assign(buffer, std::size_t(n));
    const std::string gone = " (deleted)";
    if (path->size() > gone.size() &&
        path->compare(path->size() - gone.size(), gone.size(), gone) == 0)
        path->resize(path->size() - gone.size());
    return true;
}

// The platform's answer for a text: its length on success, or the room it
// needs (terminator included) when the buffer is too small.
DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD room) {
    if (!buffer || room <= text.size())
        return DWORD(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return DWORD(text.size());
}

} // namespace

// The host has one volume, drive C:. Windows resolves every symbolic link
// and junction on the way and names the file by its long names, in the case
// they are stored in: the host's own names are exactly that.
extern "C" DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath,
                                                  DWORD cchFilePath, DWORD dwFlags) {
    DWORD error = 0;
    if (ShouldFail("GetFinalPathNameByHandleA", &error)) {
        SetLastError(FaultError(error, ERROR_ACCESS_DENIED));
        return 0;
    }
    const DWORD volume = dwFlags & ~DWORD(FILE_NAME_OPENED);
    if (volume != VOLUME_NAME_DOS && volume != VOLUME_NAME_GUID && volume != VOLUME_NAME_NT &&
        volume != VOLUME_NAME_NONE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    FileObject* file = FindKernel<FileObject>(hFile);
    std::string path;
    if (!file || !OpenedPath(*file, &path)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const std::string inVolume = WinPath(path).substr(2); // "\\dir\\file"
    std::string text;
    switch (volume) {
    case VOLUME_NAME_DOS:
        text = "\\\\?\\C:" + inVolume;
        break;
    case VOLUME_NAME_GUID:
        text = "\\\\?\\Volume{7a1c5e2b-0000-0000-0000-100000000000}" + inVolume;
        break;
    case VOLUME_NAME_NT:
        text = "\\Device\\HarddiskVolume1" + inVolume;
        break;
    default:
        text = inVolume;
        break;
    }
    SetLastError(ERROR_SUCCESS);
    return CopyOut(text, lpszFilePath, cchFilePath);
}

// Each name of the path that is a short (8.3) name of an existing file or
// folder becomes its long name; the rest stays as written. The whole path
// must exist.
extern "C" DWORD WINAPI GetLongPathNameA(LPCSTR lpszShortPath, LPSTR lpszLongPath,
                                         DWORD cchBuffer) {
    DWORD error = 0;
    if (ShouldFail("GetLongPathNameA", &error)) {
        SetLastError(FaultError(error, ERROR_ACCESS_DENIED));
        return 0;
    }
    if (!lpszShortPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string given = lpszShortPath;
    std::string text;
    if (given.size() >= 3 && given[1] == ':' && given[2] == '\\') {
        std::string host;
        text = given.substr(0, 2);
        std::size_t at = 3;
        while (at <= given.size()) {
            const std::size_t end = std::min(given.find('\\', at), given.size());
            std::string name = given.substr(at, end - at);
            auto it = F().shortNames.find(host + "/" + Lower(name));
            if (it != F().shortNames.end())
                name = it->second;
            host += "/" + name;
            text += "\\" + name;
            at = end + 1;
        }
    } else {
        text = given;
    }
    struct stat st;
    if (::lstat(HostPath(text.c_str()).c_str(), &st) != 0) {
        SetLastError(ParentExists(HostPath(text.c_str())) ? ERROR_FILE_NOT_FOUND
                                                          : ERROR_PATH_NOT_FOUND);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return CopyOut(text, lpszLongPath, cchBuffer);
}

extern "C" BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                                 BOOL bFailIfExists) {
    DWORD error = 0;
    if (ShouldFail("CopyFileA", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    if (!lpExistingFileName || !lpNewFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::string from = HostPath(lpExistingFileName);
    const std::string to = HostPath(lpNewFileName);
    if (!FileExists(from) || std::filesystem::is_directory(from))
        return Fail(ERROR_FILE_NOT_FOUND);
    if (F().locked.count(Canonical(from)) || F().locked.count(Canonical(to)) ||
        SharingOf(Canonical(to)).open)
        return Fail(ERROR_SHARING_VIOLATION);
    const bool targetExists = FileExists(to);
    if (targetExists && bFailIfExists)
        return Fail(ERROR_FILE_EXISTS);
    if (targetExists && F().readOnly.count(Canonical(to)))
        return Fail(ERROR_ACCESS_DENIED);
    if (!ParentExists(to))
        return Fail(ERROR_PATH_NOT_FOUND);
    std::error_code failed;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, failed);
    if (failed)
        return Fail(ERROR_ACCESS_DENIED);
    if (!targetExists)
        F().creation.erase(Canonical(to));
    return TRUE;
}

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    DWORD error = 0;
    if (ShouldFail("MoveFileExA", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    if (!lpExistingFileName || !lpNewFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::string from = HostPath(lpExistingFileName);
    const std::string to = HostPath(lpNewFileName);
    const std::string fromKey = Canonical(from);
    const std::string toKey = Canonical(to);
    if (!FileExists(from))
        return Fail(ERROR_FILE_NOT_FOUND);
    if (F().locked.count(fromKey) || F().locked.count(toKey) || SharingOf(fromKey).open ||
        SharingOf(toKey).open)
        return Fail(ERROR_SHARING_VIOLATION);
    if (FileExists(to)) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING))
            return Fail(ERROR_ALREADY_EXISTS);
        if (F().readOnly.count(toKey))
            return Fail(ERROR_ACCESS_DENIED);
    }
    if (::rename(from.c_str(), to.c_str()) != 0)
        return Fail(ERROR_ACCESS_DENIED);
    // The file keeps its own times under its new name.
    auto created = F().creation.find(fromKey);
    if (created != F().creation.end()) {
        std::uint64_t time = created->second;
        F().creation.erase(created);
        F().creation[toKey] = time;
    } else {
        F().creation.erase(toKey);
    }
    if (F().readOnly.erase(fromKey))
        F().readOnly.insert(toKey);
    else
        F().readOnly.erase(toKey);
    return TRUE;
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    DWORD error = 0;
    if (ShouldFail("DeleteFileA", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    if (!lpFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::string path = HostPath(lpFileName);
    // A link goes itself, its target stays (Windows deletes the reparse point).
    if (IsLink(path)) {
        std::error_code ignored;
        if (std::filesystem::is_directory(path, ignored))
            return Fail(ERROR_ACCESS_DENIED); // a junction is a folder: RemoveDirectory's
        return ::unlink(path.c_str()) == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
    }
    const std::string key = Canonical(path);
    if (!FileExists(path))
        return Fail(ERROR_FILE_NOT_FOUND);
    if (F().locked.count(key) || SharingOf(key).open)
        return Fail(ERROR_SHARING_VIOLATION);
    if (F().readOnly.count(key))
        return Fail(ERROR_ACCESS_DENIED);
    if (::unlink(path.c_str()) != 0)
        return Fail(ERROR_ACCESS_DENIED);
    F().creation.erase(key);
    return TRUE;
}
