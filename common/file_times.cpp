#include "common/file_times.h"

#include "common/handles.h"

namespace vantor {

FILETIME ReadCreationTime(LPCSTR path) {
    FILETIME created{0, 0};
    FileHandle file(
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !GetFileTime(file.get(), &created, nullptr, nullptr))
        return FILETIME{0, 0};
    return created;
}

bool SetAllTimes(LPCSTR path, const FILETIME& time) {
    if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0)
        return true;
    FileHandle file(CreateFileA(path, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && SetFileTime(file.get(), &time, &time, &time);
}

} // namespace vantor
