// Keeping a changed file's times at its creation time.
#pragma once

#include "platform/platform.h"

namespace vantor {

// The file's creation time; zero when its times cannot be read. The path
// form opens the file for reading (existing file only, no sharing) and
// answers zero when it cannot be opened either.
FILETIME ReadCreationTime(HANDLE file);
FILETIME ReadCreationTime(LPCSTR path);

// Sets the creation, last-access and last-write times all three to the given
// time (Wine ignores a change of the creation time alone). A zero time is
// unknown and leaves the times as they are, which counts as success. The
// handle needs write access (or the right to write attributes); the path
// form opens the file with that right.
bool SetAllTimes(HANDLE file, const FILETIME& time);
bool SetAllTimes(LPCSTR path, const FILETIME& time);

} // namespace vantor
