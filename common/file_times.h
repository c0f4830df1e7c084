// Keeping a changed file's times at its creation time.
#pragma once

#include "platform/platform.h"

namespace vantor {

// The file's creation time; zero when the file cannot be opened (for
// reading, existing file only, no sharing) or its times cannot be read.
FILETIME ReadCreationTime(LPCSTR path);

// Sets the creation, last-access and last-write times all three to the given
// time (Wine ignores a change of the creation time alone). A zero time is
// unknown and leaves the times as they are, which counts as success.
bool SetAllTimes(LPCSTR path, const FILETIME& time);

} // namespace vantor
