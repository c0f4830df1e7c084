#include "setup/patch/patch_file.h"

#include "common/handles.h"

#include <cstring>

namespace vantor {

PatchInfo EmptyPatchInfo() {
    PatchInfo record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.marker, kPatchMarker, sizeof record.marker);
    return record;
}

bool FindPatchRecord(HANDLE file, LONGLONG fileSize, LONGLONG from, LONGLONG* at,
                     PatchInfo* found) {
    char window[kPatchWindowSize];
    // Positions are 64-bit, so executables of 2 GiB and more follow the same
    // window rules.
    for (LONGLONG start = from; start >= 0 && start < fileSize; start += kPatchWindowStep) {
        LARGE_INTEGER position;
        position.QuadPart = start;
        if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
            return false;
        DWORD filled = 0;
        if (!ReadFile(file, window, kPatchWindowSize, &filled, nullptr))
            return false;
        if (filled < kPatchRecordSize)
            return false; // the rest of the file cannot hold a whole record
        // The first 9966 positions of a window, and of those only the ones
        // whose whole record was read: a marker too near the end of the file
        // is no record, and nothing is ever written past the end.
        DWORD examined = filled - DWORD(kPatchRecordSize) + 1;
        if (examined > kPatchWindowStep)
            examined = kPatchWindowStep;
        const char* p = window;
        const char* const end = window + examined;
        while (p < end) {
            p = static_cast<const char*>(std::memchr(p, kPatchMarker[0], std::size_t(end - p)));
            if (!p)
                break;
            if (std::memcmp(p, kPatchMarker, sizeof kPatchMarker) == 0) {
                *at = start + (p - window);
                if (found)
                    std::memcpy(found, p, sizeof *found);
                return true;
            }
            ++p;
        }
    }
    return false;
}

FILETIME ReadCreationTime(LPCSTR path) {
    FILETIME created{0, 0};
    FileHandle file(
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file && !GetFileTime(file.get(), &created, nullptr, nullptr))
        created = FILETIME{0, 0};
    return created;
}

namespace {

bool OverwriteFirstRecord(LPCSTR path, const PatchInfo& record) {
    FileHandle file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0)
        return false;
    LONGLONG at = 0;
    if (!FindPatchRecord(file.get(), size.QuadPart, 0, &at))
        return false;
    LARGE_INTEGER position;
    position.QuadPart = at;
    if (!SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN))
        return false;
    DWORD written = 0;
    return WriteFile(file.get(), &record, DWORD(sizeof record), &written, nullptr) &&
           written == sizeof record;
}

// All three times: Wine ignores a change of the creation time alone.
bool SetAllTimes(LPCSTR path, const FILETIME& time) {
    if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0)
        return true; // not known: the times stay as they are
    FileHandle file(CreateFileA(path, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && SetFileTime(file.get(), &time, &time, &time);
}

} // namespace

bool WritePatchRecord(LPCSTR path, const PatchInfo& record) {
    // The creation time is read before the file changes: afterwards all three
    // times are set back to it, so the installed file looks untouched.
    const FILETIME created = ReadCreationTime(path);
    if (!OverwriteFirstRecord(path, record))
        return false;
    return SetAllTimes(path, created);
}

} // namespace vantor
