// Builds the PatchInfo record of one installed application from the
// installation's choices and writes it into the application's executable.
#pragma once

#include "setup/catalogue/country_codes.h"
#include "setup/patch/patch_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vantor {

class ExecutablePatcher {
  public:
    // Decides here, once, whether this is a maintenance run: REINSTALLMODE
    // non-empty in the deferred data. Unreadable counts as a first installation.
    ExecutablePatcher(MSIHANDLE installation, LPCSTR executablePath);

    // Fills converterId and the record's fields; the record, or null when a
    // value needed for it is missing or unknown (nothing is written then).
    PatchInfo* CollectPatchValues(int layoutVersion);

    // Writes the record over the first record in the executable, through
    // the handle the caller opened and checked. Non-zero when written with
    // the times set back, and when no converter was chosen (then nothing is
    // written); 0 when the file could not be patched.
    int WritePatch(HANDLE executable);

    bool Maintenance() const { return maintenance != 0; }
    std::uint16_t ConverterId() const { return converterId; }
    // Why CollectPatchValues gave no record, for the log: "no converter
    // chosen (...)", "unknown converter id 7", ...
    const std::string& Why() const { return why; }
    // Where the last WritePatch stopped.
    const PatchWriteFailure& WriteFailure() const { return writeFailure; }
    // For the patch line of a maintenance run that found no cache key (the
    // fallback values were used): "; the choices were not found ...", else "".
    const std::string& CacheNote() const { return cacheNote; }

  private:
    UINT ReadConverterId();
    UINT LookupConverterCode(int layoutVersion);
    UINT ReadPort();
    UINT ReadCountryCode();
    UINT ReadSerialNumber();
    UINT ReadVersion();

    // One of the user's own choices: from the registry cache on a maintenance
    // run, else from the deferred data.
    std::unique_ptr<char[]> ReadChoice(LPCSTR name, UINT* readResult);

    MSIHANDLE installation;
    LPCSTR executablePath;
    PatchInfo record;
    int maintenance;
    std::uint16_t converterId = 0;
    std::string why;
    std::string cacheNote;
    PatchWriteFailure writeFailure;
};

// What an application of the layout version needs changed in a collected
// record before it is written.
void ApplyLayoutCorrections(PatchInfo& record, int layoutVersion);

// The body of every patch action: patches INSTALLDIR + executableName.
// Always 0: a patch that cannot be made never fails the installation. Each
// call logs one line: the values written, or why the application was left
// as shipped. Deferred data with more fields than its layout holds patches
// nothing; nor does an INSTALLDIR that is not a plain absolute folder, or an
// application that is a link, has a second name, or whose final path is
// not the path meant (a link or junction in a folder of the path).
UINT ApplyPatchInfo(MSIHANDLE installation, LPCSTR executableName, int layoutVersion);

} // namespace vantor
