#include "common/install_folder.h"

#include "common/choices.h"
#include "common/log_line.h"
#include "common/property.h"

#include <cctype>
#include <cstring>

namespace vantor {

namespace {

// Trailing separators dropped: "C:\A\\" and "C:\A" name the same folder.
std::size_t LengthWithoutSeparators(LPCSTR folder) {
    std::size_t length = std::strlen(folder);
    while (length > 0 && folder[length - 1] == '\\')
        --length;
    return length;
}

} // namespace

bool SameFolder(LPCSTR a, LPCSTR b) {
    if (!a || !b)
        return false;
    const std::size_t length = LengthWithoutSeparators(a);
    if (length != LengthWithoutSeparators(b))
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

FolderCheck CheckRecordedFolder(MSIHANDLE installation, LPCSTR folder) {
    FolderCheck check;
    RegistryProperty record(installation, kInstallFolder);
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> recorded = FetchValue(record, &readResult);
    if (readResult != ERROR_SUCCESS) {
        // No product code, no key or no value: a product whose first
        // installation recorded nothing. Any other code is a record that is
        // there but cannot be read, and nothing may be taken on trust then.
        const LONG error = record.RegistryError();
        if (!record.KeyPath() || error == ERROR_FILE_NOT_FOUND)
            return check;
        check.kind = FolderCheck::kUnreadable;
        check.why = WithError("the install folder of the first installation cannot be read from "
                              "the registry cache",
                              error);
        return check;
    }
    if (recorded[0] == '\0')
        return check;
    check.recorded = recorded.get();
    if (SameFolder(folder, recorded.get())) {
        check.kind = FolderCheck::kRecorded;
        return check;
    }
    check.kind = FolderCheck::kDiffers;
    check.why = WithError(std::string("INSTALLDIR ") + (folder ? folder : "") +
                              " is not the folder of the first installation " + recorded.get(),
                          ERROR_INVALID_DATA);
    return check;
}

} // namespace vantor
