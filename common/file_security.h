// Whether anyone but the trusted can change a program that is about to run
// as LocalSystem. A program is as safe as the folders that lead to it: whoever
// can replace the file, put a DLL beside it, or move a folder of its path
// away and put another at its name, chooses what runs.
#pragma once

#include "platform/platform.h"

#include <string>

namespace vantor {

struct TrustCheck {
    DWORD error = ERROR_SUCCESS; // 0: only the trusted can change the program
    std::string why;             // otherwise what stands in the way, for a log line
};

// Checks the owner and access list of each folder from the drive's root down
// to the program's own, then of the program itself, read through file (held
// open with at least READ_CONTROL, so that the file checked is the one that
// runs). program is a plain absolute path ("C:\...\tool.exe"). Trusted are
// Administrators, SYSTEM, TrustedInstaller and the account of this process's
// token. The first object that an untrusted account owns or can change ends
// the check: 5 and, for example,
//   "C:\evil\ can be changed by Everyone (delete child, delete)";
// an owner or access list that cannot be read ends it with the platform's code.
TrustCheck CheckOnlyTrustedCanChange(HANDLE file, const std::string& program);

} // namespace vantor
