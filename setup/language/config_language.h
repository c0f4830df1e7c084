// The user-interface language in an application's XML configuration file.
#pragma once

#include "common/file_times.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantor {

struct Culture {
    std::int32_t lcid;
    const char* name; // culture name written into the configuration file
};

// Every language the applications ship, by LCID; several LCIDs may share a
// culture name.
extern const Culture CultureTable[];
extern const std::size_t CultureTableCount;

// The culture name of a decimal LCID text: 0 and *cultureName set, or 13
// (ERROR_INVALID_DATA) for a number outside the table.
UINT CultureNameForLcid(LPCSTR lcidText, LPCSTR* cultureName);

// Rewrites the appSettings section of the file at path for the culture:
// every line in the section that mentions "Language" goes, and a Language
// setting follows the section's opening line (none for "en-US"). The file is
// replaced whole by a finished copy, or not at all, and keeps its creation
// time in all three of its times. The copy, "<path>.tmp", is made new (a
// leftover one is deleted first). Refused, with nothing written and the
// times as they were: a file that is a link or has more than one name, or
// whose final path (or its copy's) is not the path given, answers 5; a file
// holding a NUL byte is no text and answers 13 (no copy is made). Answers 0;
// 5 also when the file or its copy cannot be opened, or the copy cannot take
// the file's place; 1603 when the file cannot be read or the copy cannot be
// written completely. why, when given, gets the reason for a non-zero answer
// with the platform's code, for the log; refused, when given, tells a
// refusal of what was found from a failure.
UINT RewriteAppSettings(LPCSTR path, LPCSTR cultureName, std::string* why = nullptr,
                        bool* refused = nullptr);

} // namespace vantor
