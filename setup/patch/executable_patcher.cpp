#include "setup/patch/executable_patcher.h"

#include "common/handles.h"
#include "common/install_folder.h"
#include "common/log_line.h"
#include "common/paths.h"
#include "common/property.h"
#include "common/text.h"
#include "setup/catalogue/catalogue.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace vantor {

namespace {

// Numbers in the record are 16-bit: only the low 16 bits of a parsed number
// count, also for the tests on zero and the table lookups.
std::uint16_t Low16(long long value) {
    return static_cast<std::uint16_t>(value & 0xFFFF);
}

// One "%d" of the version text: white space, an optional sign, digits; no
// digit ends the version. Unlike ParseDecimal's clamp, a long number keeps
// the value its leading digits had on reaching 10^9: the record has always
// carried the low 16 bits of that.
bool ReadVersionPart(const char*& p, long long* part) {
    const char* q = p;
    const bool negative = ReadSpaceAndSign(q);
    const DigitRun digits = ReadDigits(q, 1000000000);
    if (digits.count == 0)
        return false;
    const long long value = static_cast<long long>(digits.value);
    *part = negative ? -value : value;
    p = q;
    return true;
}

// "major.minor.build" as major * 1000 + minor * 10 + build. Numbers that are
// missing count as 0 ("6.1" is 6010); text after the build number is ignored.
long long VersionNumber(const char* text) {
    long long parts[3] = {0, 0, 0};
    const char* p = text;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (*p != '.')
                break;
            ++p;
        }
        if (!ReadVersionPart(p, &parts[i]))
            break;
    }
    return parts[0] * 1000 + parts[1] * 10 + parts[2];
}

} // namespace

ExecutablePatcher::ExecutablePatcher(MSIHANDLE installation, LPCSTR executablePath)
    : installation(installation), executablePath(executablePath), record(EmptyPatchInfo()),
      maintenance(0) {
    DeferredProperty reinstallMode(installation, "REINSTALLMODE");
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> mode = FetchValue(reinstallMode, &readResult);
    if (readResult == ERROR_SUCCESS)
        maintenance = mode[0] != '\0' ? 1 : 0;
}

std::unique_ptr<char[]> ExecutablePatcher::ReadChoice(LPCSTR name, UINT* readResult) {
    if (maintenance) {
        RegistryProperty cached(installation, name);
        std::unique_ptr<char[]> value = FetchValue(cached, readResult);
        if (!cached.KeyFound() && cacheNote.empty())
            cacheNote = WithError("; the choices were not found in the registry cache",
                                  cached.RegistryError());
        return value;
    }
    DeferredProperty deferred(installation, name);
    return FetchValue(deferred, readResult);
}

PatchInfo* ExecutablePatcher::CollectPatchValues(int layoutVersion) {
    if (ReadConverterId() != ERROR_SUCCESS || LookupConverterCode(layoutVersion) != ERROR_SUCCESS ||
        ReadPort() != ERROR_SUCCESS || ReadCountryCode() != ERROR_SUCCESS ||
        ReadSerialNumber() != ERROR_SUCCESS || ReadVersion() != ERROR_SUCCESS)
        return nullptr;
    return &record;
}

UINT ExecutablePatcher::ReadConverterId() {
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> value = ReadChoice("DEFAULT_CONVERTER", &readResult);
    // A converter that cannot be read at all (a maintenance run that finds
    // no cache) is taken as id 100.
    converterId = readResult == ERROR_SUCCESS ? Low16(ParseDecimal(value.get())) : 100;
    return ERROR_SUCCESS;
}

UINT ExecutablePatcher::LookupConverterCode(int layoutVersion) {
    const ConverterInfo* row = FindConverter(converterId);
    if (!row) {
        const char* store = maintenance ? " in the registry cache" : "";
        why = converterId == 0 ? std::string("no converter chosen (DEFAULT_CONVERTER") + store +
                                     " is empty or 0)"
                               : "unknown converter id " + std::to_string(converterId) +
                                     " (DEFAULT_CONVERTER" + store + ")";
        return ERROR_INSTALL_FAILURE;
    }
    record.converterCode = Low16(ConverterCode(*row, layoutVersion));
    return ERROR_SUCCESS;
}

UINT ExecutablePatcher::ReadPort() {
    if (converterId == 0) {
        why = "no converter chosen";
        return ERROR_INSTALL_FAILURE;
    }
    const ConverterInfo* row = FindConverter(converterId);
    if (!row) {
        record.port = 1;
        return ERROR_SUCCESS;
    }
    LPCSTR name = nullptr;
    switch (row->portKind) {
    case kSerialPort:
        name = "DEFAULT_COM_PORT";
        break;
    case kParallelPort:
        name = "DEFAULT_PAR_PORT";
        break;
    case kUsbPort:
    case kNoLocalPort:
        record.port = 0;
        return ERROR_SUCCESS;
    default:
        record.port = 1;
        return ERROR_SUCCESS;
    }
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> value = ReadChoice(name, &readResult);
    if (readResult != ERROR_SUCCESS)
        return ERROR_SUCCESS; // the cleared record's 0
    // Port numbers start at 1: no usable number means the first port.
    const std::uint16_t port = Low16(ParseDecimal(value.get()));
    record.port = port ? port : 1;
    return ERROR_SUCCESS;
}

UINT ExecutablePatcher::ReadCountryCode() {
    // The language is the installation's own, never a cached choice.
    DeferredProperty language(installation, "ProductLanguage");
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> value = FetchValue(language, &readResult);
    if (readResult != ERROR_SUCCESS) {
        why = WithError("ProductLanguage cannot be read", readResult);
        return readResult;
    }
    const std::uint16_t lcid = Low16(ParseDecimal(value.get()));
    if (lcid == 0) {
        why = "no language (ProductLanguage \"" + std::string(value.get()) + "\" is no LCID)";
        return ERROR_INSTALL_FAILURE;
    }
    record.countryCode = FindCountryCode(lcid);
    if (record.countryCode != 0)
        return ERROR_SUCCESS;
    why = "no country code for language " + std::to_string(lcid) + " (ProductLanguage)";
    return ERROR_INSTALL_FAILURE;
}

UINT ExecutablePatcher::ReadSerialNumber() {
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> value = ReadChoice("SERIAL_NUMBER", &readResult);
    // Opaque text, copied as it is. Eight characters fill the field without a
    // terminator; a longer serial number keeps its first eight.
    const char* text = readResult == ERROR_SUCCESS ? value.get() : "";
    const std::size_t length = std::strlen(text);
    const std::size_t room = sizeof record.serialNumber;
    std::memcpy(record.serialNumber, text, length < room ? length + 1 : room);
    return ERROR_SUCCESS;
}

UINT ExecutablePatcher::ReadVersion() {
    DeferredProperty productVersion(installation, "ProductVersion");
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> value = FetchValue(productVersion, &readResult);
    if (readResult != ERROR_SUCCESS) {
        why = WithError("ProductVersion cannot be read", readResult);
        return readResult;
    }
    // Pre-release builds are versioned "alpha" and carry version 0.
    if (std::strcmp(value.get(), "alpha") == 0)
        return ERROR_SUCCESS;
    record.version = Low16(VersionNumber(value.get()));
    if (record.version == 0) {
        why = "ProductVersion \"" + std::string(value.get()) + "\" gives version 0";
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

int ExecutablePatcher::WritePatch(HANDLE executable) {
    writeFailure = PatchWriteFailure{};
    if (converterId == 0)
        return 1;
    return WritePatchRecord(executable, record, &writeFailure) ? 1 : 0;
}

void ApplyLayoutCorrections(PatchInfo& record, int layoutVersion) {
    if (layoutVersion != 1)
        return;
    // Applications of layout 1 know the USB scope 3000 family as 3200.
    if (record.converterCode == 3000)
        record.converterCode = 3200;
    // ... and recognise the demonstration source by its serial number.
    if (record.converterCode == 99)
        std::memcpy(record.serialNumber, "DEMO", 5);
}

namespace {

// Why the opened application is not patched, or nothing.
std::string HandleRefusal(HANDLE executable, LPCSTR path) {
    const LinkCheck links = CheckLinks(executable);
    switch (links.kind) {
    case LinkCheck::kPlain:
        break;
    case LinkCheck::kReparsePoint:
        return WithError("it is a symbolic link or junction", ERROR_INVALID_DATA);
    case LinkCheck::kHardLinked:
        return WithError("it has " + std::to_string(links.links) + " hard links",
                         ERROR_INVALID_DATA);
    default:
        return WithError("it cannot be examined", links.error);
    }
    const FinalPathCheck final = CheckFinalPath(executable, path);
    if (final.kind == FinalPathCheck::kDiffers)
        return WithError(FinalPathRefusal(final), ERROR_INVALID_DATA);
    return FinalPathRefusal(final);
}

std::string WriteFailureText(const PatchWriteFailure& failure) {
    switch (failure.step) {
    case PatchWriteFailure::kOpen:
        if (failure.error == ERROR_FILE_NOT_FOUND || failure.error == ERROR_PATH_NOT_FOUND)
            return WithError("the file is missing", failure.error);
        if (failure.error == ERROR_SHARING_VIOLATION)
            return WithError("the file is in use", failure.error);
        return WithError("the file cannot be opened for writing", failure.error);
    case PatchWriteFailure::kRead:
        return WithError("the file cannot be read", failure.error);
    case PatchWriteFailure::kNoRecord:
        return "no patch_info3 record found in the file";
    default:
        return WithError("the record cannot be written", failure.error);
    }
}

// The values as the record carries them; the serial number up to its first
// zero byte, eight characters at most.
std::string WrittenValues(const PatchInfo& record, std::uint16_t converterId) {
    const char* serial = record.serialNumber;
    const std::size_t serialLength =
        std::find(serial, serial + sizeof record.serialNumber, '\0') - serial;
    return "converter " + std::to_string(converterId) + " (code " +
           std::to_string(record.converterCode) + "), port " + std::to_string(record.port) +
           ", country " + std::to_string(record.countryCode) + ", serial \"" +
           std::string(serial, serialLength) + "\", version " + std::to_string(record.version);
}

} // namespace

UINT ApplyPatchInfo(MSIHANDLE installation, LPCSTR executableName, int layoutVersion) {
    const auto log = [installation](const std::string& line) {
        LogAction(installation, line.c_str());
    };
    const std::string notPatched = std::string(executableName) + " not patched: ";
    DeferredProperty installDir(installation, "INSTALLDIR");
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> directory = FetchValue(installDir, &readResult);
    if (readResult != ERROR_SUCCESS) {
        log(WithError(notPatched + "CustomActionData cannot be read", readResult));
        return ERROR_SUCCESS;
    }
    // A "|" inside a value (the user's choices can be set on a repair's
    // command line) shifts every later field, REINSTALLMODE included: no
    // field of such data is used.
    if (installDir.Malformed()) {
        log(WithError("Malformed CustomActionData (" + std::to_string(installDir.FieldCount()) +
                          " fields, at most " + std::to_string(DeferredProperty::kLayoutFields) +
                          "): " + executableName + " not patched",
                      ERROR_INVALID_DATA));
        return ERROR_SUCCESS;
    }
    if (directory[0] == '\0') {
        // No field at all: nothing filled the data for this action.
        log(notPatched + (installDir.FieldCount() == 0
                              ? "CustomActionData is empty: is the type-51 action that sets it "
                                "missing?"
                              : "INSTALLDIR is empty in CustomActionData"));
        return ERROR_SUCCESS;
    }
    // The actions write as LocalSystem, and INSTALLDIR may come from whoever
    // starts a repair: only a folder of this machine's own disks is taken,
    // never a share, a device path or a folder relative to the current one,
    // and only in its plainest form (no "/", no ".." part, no second ":").
    if (!IsDriveAbsolute(directory.get())) {
        log(WithError(notPatched + "INSTALLDIR is not a local absolute folder: " + directory.get(),
                      ERROR_INVALID_DATA));
        return ERROR_SUCCESS;
    }
    if (!IsPlainAbsolutePath(directory.get())) {
        log(WithError(notPatched + "INSTALLDIR is not a plain absolute folder: " + directory.get(),
                      ERROR_INVALID_DATA));
        return ERROR_SUCCESS;
    }
    // Once the product has recorded its install folder, no other is patched.
    const FolderCheck recorded = CheckRecordedFolder(installation, directory.get());
    if (recorded.Refused()) {
        log(notPatched + recorded.why);
        return ERROR_SUCCESS;
    }
    // INSTALLDIR ends with its separator, as the engine forms directories.
    // One without it is joined all the same, and the line says so.
    const std::size_t directoryLength = std::strlen(directory.get());
    const std::string separatorNote =
        directory[directoryLength - 1] == '\\'
            ? std::string()
            : "; INSTALLDIR \"" + std::string(directory.get()) + "\" does not end with \"\\\"";
    const std::size_t nameLength = std::strlen(executableName);
    std::unique_ptr<char[]> path(new char[directoryLength + nameLength + 1]);
    std::memcpy(path.get(), directory.get(), directoryLength);
    std::memcpy(path.get() + directoryLength, executableName, nameLength + 1);

    // Nothing is written through a link planted at the application's name.
    // Looked at by name first, so that a junction there (a folder, which the
    // open below would not take) is named as what it is; the handle that is
    // written through is checked again below.
    const LinkCheck links = CheckLinks(path.get());
    if (links.kind == LinkCheck::kReparsePoint || links.kind == LinkCheck::kHardLinked) {
        log(WithError(std::string(path.get()) + " not patched: " +
                          (links.kind == LinkCheck::kReparsePoint
                               ? std::string("it is a symbolic link or junction")
                               : "it has " + std::to_string(links.links) + " hard links"),
                      ERROR_INVALID_DATA) +
            separatorNote);
        return ERROR_SUCCESS;
    }

    ExecutablePatcher patcher(installation, path.get());
    PatchInfo* record = patcher.CollectPatchValues(layoutVersion);
    if (!record) {
        log(std::string(path.get()) + " not patched: " + patcher.Why() + separatorNote);
        return ERROR_SUCCESS;
    }
    ApplyLayoutCorrections(*record, layoutVersion);

    // The record is written through the handle checked here: the file it
    // stands for must be the application itself, at the path meant, with
    // no link at its name nor in any folder on the way.
    FileHandle executable(OpenForPatching(path.get(), FILE_FLAG_OPEN_REPARSE_POINT));
    if (!executable) {
        PatchWriteFailure unopened;
        unopened.step = PatchWriteFailure::kOpen;
        unopened.error = GetLastError();
        log(std::string(path.get()) + " not patched: " + WriteFailureText(unopened) +
            separatorNote);
        return ERROR_SUCCESS;
    }
    const std::string refusal = HandleRefusal(executable.get(), path.get());
    if (!refusal.empty()) {
        log(std::string(path.get()) + " not patched: " + refusal + separatorNote);
        return ERROR_SUCCESS;
    }
    patcher.WritePatch(executable.get());
    executable.reset();
    const PatchWriteFailure& failure = patcher.WriteFailure();
    if (failure.step == PatchWriteFailure::kNone)
        log(std::string(path.get()) + " patched: " + WrittenValues(*record, patcher.ConverterId()) +
            patcher.CacheNote() + separatorNote);
    else if (failure.step == PatchWriteFailure::kTimes)
        log(WithError(std::string(path.get()) +
                          " patched: " + WrittenValues(*record, patcher.ConverterId()) +
                          "; its times not set back",
                      failure.error) +
            patcher.CacheNote() + separatorNote);
    else
        log(std::string(path.get()) + " not patched: " + WriteFailureText(failure) + separatorNote);
    return ERROR_SUCCESS;
}

} // namespace vantor
