#include "common/file_times.h"

#include "common/handles.h"

namespace vantor {

namespace {

bool IsZero(const FILETIME& time) {
    return time.dwLowDateTime == 0 && time.dwHighDateTime == 0;
}

} // namespace

FILETIME ReadCreationTime(HANDLE file) {
    FILETIME created{0, 0};
    if (!GetFileTime(file, &created, nullptr, nullptr))
        return FILETIME{0, 0};
    return created;
}

FILETIME ReadCreationTime(LPCSTR path) {
    FileHandle file(
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? ReadCreationTime(file.get()) : FILETIME{0, 0};
}

bool SetAllTimes(HANDLE file, const FILETIME& time) {
    return IsZero(time) || SetFileTime(file, &time, &time, &time);
}

bool SetAllTimes(LPCSTR path, const FILETIME& time) {
    if (IsZero(time))
        return true;
    FileHandle file(CreateFileA(path, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && SetAllTimes(file.get(), time);
}

} // namespace vantor
