// The configuration-file choice of the Harbor edition: its alternative
// configuration files (component rondoconfig) become the rows of the combo
// box of DEFAULT_HARBOR_CONFIG, and the chosen one is put in place as
// "tessel.ini".
#include "common/action_boundary.h"
#include "common/handles.h"
#include "common/paths.h"
#include "common/property.h"
#include "setup/choice/converter_choice.h"
#include "setup/exports.h"

#include <cstring>
#include <string>
#include <vector>

using namespace vantor;

namespace {

constexpr const char kConfigFilesQuery[] = "SELECT * FROM File WHERE Component_='rondoconfig'";
// Columns of a File row.
enum FileColumn : UINT { kFileName = 3 };

constexpr const char kComboBoxQuery[] = "SELECT * FROM ComboBox";
enum ComboBoxColumn : UINT { kProperty = 1, kOrder = 2, kValue = 3, kText = 4 };

constexpr const char kTargetName[] = "tessel.ini";

void WriteProperty(MSIHANDLE installation, LPCSTR name, const std::string& value, UINT* result) {
    MsiProperty property(installation, name);
    property.SetValue(value.c_str(), static_cast<DWORD>(value.size()));
    const UINT written = property.Write();
    if (result)
        *result = written;
}

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
    UINT result = ERROR_SUCCESS;
    WriteProperty(installation, "NUM_CONFIGS", std::to_string(count), &result);
    return result;
}

// The platform's code, as the log lines give it.
std::string ErrorText(DWORD code) {
    return " (error " + std::to_string(code) + ")";
}

// One combo-box row for the file at position; the first file is the default.
// Answers the view's open: a package without a ComboBox table (1615) gets
// no row at all.
UINT AddConfigChoice(MSIHANDLE installation, const std::string& longName, int position) {
    if (position == 0)
        WriteProperty(installation, "DEFAULT_HARBOR_CONFIG", longName, nullptr);
    MsiHandle database(MsiGetActiveDatabase(installation));
    MsiHandle view;
    const UINT opened = MsiDatabaseOpenViewA(database.get(), kComboBoxQuery, view.put());
    MsiHandle record(MsiCreateRecord(4));
    if (opened == ERROR_SUCCESS && record) {
        const std::string text = longName.substr(0, longName.find('.'));
        MsiRecordSetStringA(record.get(), kProperty, "DEFAULT_HARBOR_CONFIG");
        MsiRecordSetInteger(record.get(), kOrder, position);
        MsiRecordSetStringA(record.get(), kValue, longName.c_str());
        MsiRecordSetStringA(record.get(), kText, text.c_str());
        const UINT inserted = MsiViewModify(view.get(), MSIMODIFY_INSERT_TEMPORARY, record.get());
        if (inserted != ERROR_SUCCESS)
            LogAction(installation, (longName +
                                     " not added to the choices of DEFAULT_HARBOR_CONFIG: the "
                                     "ComboBox row cannot be inserted" +
                                     ErrorText(inserted))
                                        .c_str());
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

// CustomActionData: the full path of the chosen configuration file, whole,
// "[HARBORCONFIGDIR]<long name>". The action runs as LocalSystem and the
// value may come from whoever starts a repair: only a plain absolute path
// is taken, and tessel.ini is replaced only when it is a plain file.
UINT PutHarborConfiguration(MSIHANDLE installation) {
    MsiProperty data(installation, "CustomActionData");
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> source = FetchValue(data, &readResult);
    if (!*source.get()) {
        LogAction(installation,
                  (std::string(kTargetName) + " not replaced: " +
                   (readResult != ERROR_SUCCESS
                        ? "CustomActionData cannot be read" + ErrorText(readResult)
                        : "CustomActionData is empty: is the type-51 action that sets it "
                          "missing?" +
                              ErrorText(ERROR_FILE_NOT_FOUND)))
                      .c_str());
        return ERROR_FILE_NOT_FOUND;
    }
    const std::string path = source.get();
    if (!IsPlainAbsolutePath(path.c_str())) {
        LogAction(installation, ("Configuration file refused, not a plain absolute path: " + path +
                                 ErrorText(ERROR_INVALID_DATA))
                                    .c_str());
        return ERROR_INVALID_DATA;
    }
    // The target sits beside the source.
    const std::string target = path.substr(0, path.rfind('\\') + 1) + kTargetName;
    const LinkCheck existing = CheckLinks(target.c_str());
    if (existing.kind == LinkCheck::kReparsePoint || existing.kind == LinkCheck::kHardLinked) {
        const std::string what = existing.kind == LinkCheck::kReparsePoint
                                     ? "it is a symbolic link or junction"
                                     : "it has " + std::to_string(existing.links) + " hard links";
        LogAction(
            installation,
            ("Refused to replace " + target + ": " + what + ErrorText(ERROR_INVALID_DATA)).c_str());
        return ERROR_INVALID_DATA;
    }
    // Whatever keeps the file from being replaced leaves any earlier
    // tessel.ini as it was, and the installation goes on.
    if (existing.kind == LinkCheck::kUnknown) {
        LogAction(
            installation,
            (target + " not replaced: it cannot be examined" + ErrorText(existing.error)).c_str());
        return ERROR_SUCCESS;
    }
    if (!CopyFileA(path.c_str(), target.c_str(), FALSE)) {
        const DWORD error = GetLastError();
        LogAction(
            installation,
            (target + " not replaced: copy of " + path + " failed" + ErrorText(error)).c_str());
    }
    return ERROR_SUCCESS;
}

} // namespace

extern "C" UINT WINAPI PopulateHarborChoices(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, FillHarborChoices);
}

extern "C" UINT WINAPI ConfigureHarbor(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, PutHarborConfiguration);
}
