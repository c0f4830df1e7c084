// The install folder of the first installation, recorded in the registry
// cache beside the choices, against the folder a deferred action was handed.
// Deferred actions run as LocalSystem with a folder that whoever starts a
// later run may set: once the product has a record, only that folder counts.
#pragma once

#include "platform/platform.h"

#include <string>

namespace vantor {

struct FolderCheck {
    enum Kind {
        kNoRecord,   // nothing recorded (a product installed by an earlier release) or empty
        kRecorded,   // the folder is the recorded one
        kDiffers,    // another folder: refused
        kUnreadable, // a record that cannot be read: refused
    };
    Kind kind = kNoRecord;
    std::string recorded; // the record, when one was read
    // For a refusal, the reason for its one log line, with its code.
    std::string why;
    bool Refused() const { return kind == kDiffers || kind == kUnreadable; }
};

// Reads the record of the running product (ProductCode, which deferred
// actions may read) and holds folder, already checked for its form, against
// it.
FolderCheck CheckRecordedFolder(MSIHANDLE installation, LPCSTR folder);

// The same folder: compared without regard to case, each with exactly one
// trailing "\".
bool SameFolder(LPCSTR a, LPCSTR b);

} // namespace vantor
