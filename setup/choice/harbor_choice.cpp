// The configuration-file choice of the Harbor edition: its alternative
// configuration files (component rondoconfig) become the rows of the combo
// box of DEFAULT_HARBOR_CONFIG, and the chosen one is put in place as
// "tessel.ini".
#include "common/action_boundary.h"
#include "common/handles.h"
#include "common/log_line.h"
#include "common/paths.h"
#include "common/property.h"
#include "setup/cache/lifecycle.h"
#include "setup/choice/converter_choice.h"
#include "setup/exports.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace vantor;

namespace {

constexpr const char kConfigFilesQuery[] = "SELECT * FROM File WHERE Component_='rondoconfig'";
// Columns of a File row.
enum FileColumn : UINT { kFileName = 3 };

constexpr const char kTargetName[] = "tessel.ini";

// A FileName value is "SHORT~1.INI|long name.ini" or a single name.
std::string LongName(const std::string& fileName) {
    const std::size_t bar = fileName.find('|');
    return bar == std::string::npos ? fileName : fileName.substr(bar + 1);
}

// Reads the FileName values of the component's files, in the engine's order.
// Answers the fetch that ended the scan: ERROR_NO_MORE_ITEMS after the last
// row, 0 when a row had no name, or the engine's failure.
UINT ReadConfigNames(MSIHANDLE installation, std::vector<std::string>& names) {
    MsiHandle database(MsiGetActiveDatabase(installation));
    MsiHandle view;
    UINT result = MsiDatabaseOpenViewA(database.get(), kConfigFilesQuery, view.put());
    if (result == ERROR_SUCCESS)
        result = MsiViewExecute(view.get(), 0);
    while (result == ERROR_SUCCESS) {
        MsiHandle record;
        result = MsiViewFetch(view.get(), record.put());
        if (result != ERROR_SUCCESS)
            break;
        DWORD length = 0;
        // A name that cannot be read fails the scan: a file silently left
        // out would make another file the default.
        UINT got = MsiRecordGetStringA(record.get(), kFileName, nullptr, &length);
        if (got != ERROR_SUCCESS && got != ERROR_MORE_DATA) {
            result = got;
            break;
        }
        if (length == 0)
            break; // a nameless row ends the list
        std::string name(length + 1, '\0');
        DWORD size = length + 1;
        got = MsiRecordGetStringA(record.get(), kFileName, &name[0], &size);
        if (got != ERROR_SUCCESS) {
            result = got;
            break;
        }
        name.resize(std::strlen(name.c_str()));
        names.push_back(std::move(name));
    }
    // Handles are closed by their owners, never with MsiCloseAllHandles:
    // Wine's engine makes the installation handle on the action's thread,
    // and closing it would fail every later property write of the action.
    MsiViewClose(view.get());
    return result;
}

// NUM_CONFIGS: ERROR_FILE_NOT_FOUND when there is no file, else the write's code.
UINT WriteConfigCount(MSIHANDLE installation, std::size_t count) {
    if (count < 1)
        return ERROR_FILE_NOT_FOUND;
    return SetPropertyText(installation, "NUM_CONFIGS", std::to_string(count));
}

// One combo-box row for the file at position; the first file is the default.
// Answers the view's open: a package without a ComboBox table (1615) gets
// no row at all.
UINT AddConfigChoice(MSIHANDLE installation, const std::string& longName, int position) {
    if (position == 0)
        SetPropertyText(installation, "DEFAULT_HARBOR_CONFIG", longName);
    MsiHandle database(MsiGetActiveDatabase(installation));
    MsiHandle view;
    const UINT opened = OpenComboBoxView(database.get(), view.put());
    if (opened == ERROR_SUCCESS) {
        const std::string text = longName.substr(0, longName.find('.'));
        const UINT inserted = AddComboBoxRow(view.get(), "DEFAULT_HARBOR_CONFIG", position,
                                             longName.c_str(), text.c_str());
        if (inserted != ERROR_SUCCESS)
            LogFailure(installation,
                       longName +
                           " not added to the choices of DEFAULT_HARBOR_CONFIG: the ComboBox row "
                           "cannot be inserted",
                       inserted);
    }
    MsiViewClose(view.get());
    return opened;
}

UINT FillHarborChoices(MSIHANDLE installation) {
    std::vector<std::string> names;
    const UINT scan = ReadConfigNames(installation, names);
    if (scan != ERROR_NO_MORE_ITEMS)
        return scan;
    const UINT counted = WriteConfigCount(installation, names.size());
    if (counted != ERROR_SUCCESS)
        return counted;
    UINT viewRefused = ERROR_SUCCESS;
    for (std::size_t p = 0; p < names.size(); ++p) {
        const UINT opened = AddConfigChoice(installation, LongName(names[p]), static_cast<int>(p));
        if (opened != ERROR_SUCCESS && viewRefused == ERROR_SUCCESS)
            viewRefused = opened;
    }
    if (viewRefused != ERROR_SUCCESS)
        LogAction(installation,
                  ("Choices of DEFAULT_HARBOR_CONFIG not added: " + ComboBoxRefusal(viewRefused))
                      .c_str());
    return ERROR_SUCCESS;
}

// What an opened file of the copy is: fine, refused (a link, a second name,
// or a final path other than the path meant), or not to be examined.
enum class Examined { kFine, kRefused, kUnknown };

Examined Examine(HANDLE file, const std::string& path, std::string* why) {
    const LinkCheck links = CheckLinks(file);
    switch (links.kind) {
    case LinkCheck::kPlain:
        break;
    case LinkCheck::kReparsePoint:
        *why = "it is a symbolic link or junction";
        return Examined::kRefused;
    case LinkCheck::kHardLinked:
        *why = "it has " + std::to_string(links.links) + " hard links";
        return Examined::kRefused;
    default:
        *why = WithError("it cannot be examined", links.error);
        return Examined::kUnknown;
    }
    const FinalPathCheck final = CheckFinalPath(file, path.c_str());
    *why = FinalPathRefusal(final);
    return final.kind == FinalPathCheck::kSame      ? Examined::kFine
           : final.kind == FinalPathCheck::kDiffers ? Examined::kRefused
                                                    : Examined::kUnknown;
}

// The whole rest of an open file from where its pointer stands; false with
// the platform's code set when it cannot be read.
bool ReadAll(HANDLE file, std::string* bytes) {
    constexpr DWORD kChunk = 64 * 1024;
    std::unique_ptr<char[]> chunk(new char[kChunk]);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk.get(), kChunk, &got, nullptr))
            return false;
        if (got == 0)
            return true;
        bytes->append(chunk.get(), got);
    }
}

// bytes from the start of the file, and nothing after them. changed, when
// given, tells whether the file may differ from before (a write that failed
// part-way, or a length that may have been set).
bool WriteWhole(HANDLE file, const std::string& bytes, bool* changed = nullptr) {
    if (changed)
        *changed = false;
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    DWORD written = 0;
    const BOOL wrote =
        bytes.empty() ||
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (changed)
        *changed = written != 0;
    if (!wrote)
        return false;
    if (written != bytes.size()) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    if (changed)
        *changed = true;
    return SetEndOfFile(file) != FALSE;
}

// tessel.ini as it was, on every way out but a finished copy, also when an
// exception stops the action: the earlier bytes written back, or a file
// that this run created removed again (closed first: an open file is not
// deleted).
class TesselGuard {
  public:
    TesselGuard(FileHandle& file, const std::string& path, bool created)
        : file_(file), path_(path), created_(created) {}
    ~TesselGuard() { PutBack(); }
    TesselGuard(const TesselGuard&) = delete;
    TesselGuard& operator=(const TesselGuard&) = delete;

    // Armed once the earlier content is known; a file it created needs none.
    void Arm(std::string earlier) {
        earlier_ = std::move(earlier);
        armed_ = true;
    }
    void Done() { done_ = true; }
    // Nothing was written: an earlier file stays as it is.
    void Unchanged() { armed_ = false; }

    // 0, or the platform's code when the earlier state cannot be put back.
    DWORD PutBack() {
        if (done_)
            return ERROR_SUCCESS;
        done_ = true;
        if (created_) {
            file_.reset();
            return DeleteFileA(path_.c_str()) ? ERROR_SUCCESS : GetLastError();
        }
        if (armed_ && file_ && !WriteWhole(file_.get(), earlier_))
            return GetLastError();
        return ERROR_SUCCESS;
    }

  private:
    FileHandle& file_;
    const std::string& path_;
    const bool created_;
    std::string earlier_;
    bool armed_ = false;
    bool done_ = false;
};

// CustomActionData: the full path of the chosen configuration file, whole,
// "[HARBORCONFIGDIR]<long name>". The action runs as LocalSystem and the
// value may come from whoever starts a repair: only a plain absolute path
// is taken. Both files are opened first, never through a link at their
// names, and each must be a plain file whose final path is the path meant
// (no link or junction in any folder on the way); the bytes are then copied
// through exactly those handles.
UINT PutHarborConfiguration(MSIHANDLE installation) {
    const auto log = [installation](const std::string& line) {
        LogAction(installation, line.c_str());
    };
    MsiProperty data(installation, "CustomActionData");
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> source = FetchValue(data, &readResult);
    if (!*source.get()) {
        log(std::string(kTargetName) + " not replaced: " +
            (readResult != ERROR_SUCCESS
                 ? WithError("CustomActionData cannot be read", readResult)
                 : WithError("CustomActionData is empty: is the type-51 action that sets it "
                             "missing?",
                             ERROR_FILE_NOT_FOUND)));
        return ERROR_FILE_NOT_FOUND;
    }
    const std::string path = source.get();
    if (!IsPlainAbsolutePath(path.c_str())) {
        log(WithError("Configuration file refused, not a plain absolute path: " + path,
                      ERROR_INVALID_DATA));
        return ERROR_INVALID_DATA;
    }
    // The target sits beside the source.
    const std::string target = path.substr(0, path.rfind('\\') + 1) + kTargetName;
    const std::string notReplaced = target + " not replaced: ";
    const std::string copyFailed = notReplaced + "copy of " + path + " failed";
    // Looked at by name first, so that a junction at the name (a folder,
    // which the open below would not take) is named as what it is.
    const LinkCheck existing = CheckLinks(target.c_str());
    if (existing.kind == LinkCheck::kReparsePoint || existing.kind == LinkCheck::kHardLinked) {
        const std::string what = existing.kind == LinkCheck::kReparsePoint
                                     ? "it is a symbolic link or junction"
                                     : "it has " + std::to_string(existing.links) + " hard links";
        log(WithError("Refused to replace " + target + ": " + what, ERROR_INVALID_DATA));
        return ERROR_INVALID_DATA;
    }
    // Whatever keeps the file from being replaced leaves any earlier
    // tessel.ini as it was, and the installation goes on.
    if (existing.kind == LinkCheck::kUnknown) {
        log(WithError(notReplaced + "it cannot be examined", existing.error));
        return ERROR_SUCCESS;
    }

    // The source first: while it is open, the folders on its way stay as
    // they were checked, and tessel.ini is created only in a folder that
    // was found to be the one meant. Nobody writes it during the copy.
    FileHandle from(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!from) {
        const DWORD error = GetLastError();
        log(WithError(copyFailed, error));
        return ERROR_SUCCESS;
    }
    std::string why;
    switch (Examine(from.get(), path, &why)) {
    case Examined::kFine:
        break;
    case Examined::kRefused:
        log(WithError("Refused to copy " + path + ": " + why, ERROR_INVALID_DATA));
        return ERROR_INVALID_DATA;
    default:
        log(notReplaced + path + ": " + why);
        return ERROR_SUCCESS;
    }

    // tessel.ini as itself, created when missing. Readers already there (a
    // virus scanner, an indexer) keep it open; nobody else writes it while
    // it is rewritten.
    FileHandle to(CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!to) {
        const DWORD error = GetLastError();
        log(WithError(copyFailed, error));
        return ERROR_SUCCESS;
    }
    TesselGuard guard(to, target, GetLastError() != ERROR_ALREADY_EXISTS);
    const auto putBack = [&guard]() {
        const DWORD error = guard.PutBack();
        return error
                   ? WithError("; the earlier " + std::string(kTargetName) + " cannot be put back",
                               error)
                   : std::string();
    };
    switch (Examine(to.get(), target, &why)) {
    case Examined::kFine:
        break;
    case Examined::kRefused: {
        const std::string line =
            WithError("Refused to replace " + target + ": " + why, ERROR_INVALID_DATA) + putBack();
        log(line);
        return ERROR_INVALID_DATA;
    }
    default: {
        const std::string line = notReplaced + why + putBack();
        log(line);
        return ERROR_SUCCESS;
    }
    }

    std::string bytes;
    if (!ReadAll(from.get(), &bytes)) {
        const DWORD error = GetLastError();
        log(WithError(copyFailed, error) + putBack());
        return ERROR_SUCCESS;
    }
    std::string earlier;
    if (!ReadAll(to.get(), &earlier)) {
        const DWORD error = GetLastError();
        log(WithError(copyFailed, error) + putBack());
        return ERROR_SUCCESS;
    }
    guard.Arm(std::move(earlier));
    bool changed = false;
    if (!WriteWhole(to.get(), bytes, &changed)) {
        const DWORD error = GetLastError();
        if (!changed)
            guard.Unchanged();
        log(WithError(copyFailed, error) + putBack());
        return ERROR_SUCCESS;
    }
    guard.Done();
    return ERROR_SUCCESS;
}

} // namespace

extern "C" UINT WINAPI PopulateHarborChoices(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, FillHarborChoices);
}

extern "C" UINT WINAPI ConfigureHarbor(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, PutHarborConfiguration);
}
