// Checks on the paths and files that deferred actions write to. Deferred
// actions run as LocalSystem with values a user may pass to a repair, so a
// path is taken only in its plainest form, and no file is written through a
// link that someone may have planted at its name.
#pragma once

#include "platform/platform.h"

#include <string>

namespace vantor {

// "<drive letter>:\..." : a local, absolute path (no UNC or device path,
// which begin with "\\", and nothing relative to a current directory).
bool IsDriveAbsolute(LPCSTR path);

// A drive-absolute path with nothing that could lead it elsewhere: no "/",
// no ":" but the drive's, and no ".." component (nor one of dots and blanks
// only that the platform would shorten to one).
bool IsPlainAbsolutePath(LPCSTR path);

// What stands at a path's last name, looked at without following a link.
struct LinkCheck {
    enum Kind {
        kMissing,      // nothing there
        kPlain,        // a file (or folder) with one name
        kReparsePoint, // a symbolic link or junction
        kHardLinked,   // a file with more than one name
        kUnknown,      // could not be looked at: error tells why
    };
    Kind kind = kUnknown;
    DWORD links = 0; // names of the file, when known
    DWORD error = 0; // the platform's code, for kUnknown
};
LinkCheck CheckLinks(LPCSTR path);
// The same for a file already open (opened with FILE_FLAG_OPEN_REPARSE_POINT
// to see a link itself).
LinkCheck CheckLinks(HANDLE file);

// Where an open file really is, against the path an action meant. The
// platform names an open file by its final path: every symbolic link and
// junction on the way resolved, long names, the case as stored. A link in
// any folder of the intended path, not only at its last name, makes the two
// differ. Both are compared case-insensitively without the "\\?\" prefix;
// a file on a share ("\\?\UNC\...") never matches a drive path. Short
// (8.3) names in the intended path count as their long names.
struct FinalPathCheck {
    enum Kind {
        kSame,    // the file is where the action meant
        kDiffers, // it is elsewhere: finalPath
        kUnknown, // the final path cannot be read: error tells why
    };
    Kind kind = kUnknown;
    std::string finalPath; // as the platform names it, "\\?\" dropped
    DWORD error = 0;       // the platform's code, for kUnknown
};
FinalPathCheck CheckFinalPath(HANDLE file, LPCSTR intended);

// For a log line: "its final path is <path>" (the caller adds its code), or
// "its final path cannot be read (error N)"; empty for kSame.
std::string FinalPathRefusal(const FinalPathCheck& check);

} // namespace vantor
