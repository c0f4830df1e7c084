#include "package_reader.h"

#include "common/handles.h"
#include "platform/platform.h"

#include <functional>

namespace wirecheck {
namespace {

using vantor::MsiHandle;

bool HasTable(MSIHANDLE database, const char* table) {
    return MsiDatabaseIsTablePersistentA(database, table) == MSICONDITION_TRUE;
}

// A string field by the two-call rule: the length first, then the text.
std::string Text(MSIHANDLE record, UINT field) {
    char empty[1] = "";
    DWORD size = 0;
    UINT result = MsiRecordGetStringA(record, field, empty, &size);
    if (result != ERROR_MORE_DATA && result != ERROR_SUCCESS)
        return "";
    std::string text(size + 1, '\0');
    size = static_cast<DWORD>(text.size());
    if (MsiRecordGetStringA(record, field, &text[0], &size) != ERROR_SUCCESS)
        return "";
    text.resize(size);
    return text;
}

std::vector<unsigned char> Stream(MSIHANDLE record, UINT field) {
    std::vector<unsigned char> bytes;
    char chunk[64 * 1024];
    for (;;) {
        DWORD size = sizeof chunk;
        if (MsiRecordReadStream(record, field, chunk, &size) != ERROR_SUCCESS || size == 0)
            return bytes;
        bytes.insert(bytes.end(), chunk, chunk + size);
    }
}

// Runs a query on a table the package has and hands each row on. A missing
// table has no rows; a query the engine refuses is a reason to give up.
bool EachRow(MSIHANDLE database, const char* table, const char* query,
             const std::function<void(MSIHANDLE)>& row, std::string* problem) {
    if (!HasTable(database, table))
        return true;
    MsiHandle view;
    UINT result = MsiDatabaseOpenViewA(database, query, view.put());
    if (result == ERROR_SUCCESS)
        result = MsiViewExecute(view.get(), 0);
    if (result != ERROR_SUCCESS) {
        *problem = std::string("cannot read the ") + table + " table (error " +
                   std::to_string(result) + ")";
        return false;
    }
    for (;;) {
        MsiHandle record;
        result = MsiViewFetch(view.get(), record.put());
        if (result == ERROR_NO_MORE_ITEMS)
            return true;
        if (result != ERROR_SUCCESS) {
            *problem = std::string("cannot read the ") + table + " table (error " +
                       std::to_string(result) + ")";
            return false;
        }
        row(record.get());
    }
}

bool ReadSequence(MSIHANDLE database, const char* table, Sequence* sequence, std::string* problem) {
    std::string query = std::string("SELECT `Action`, `Sequence` FROM `") + table + "`";
    return EachRow(
        database, table, query.c_str(),
        [&](MSIHANDLE record) {
            int number = MsiRecordGetInteger(record, 2);
            if (number != static_cast<int>(MSI_NULL_INTEGER))
                (*sequence)[Text(record, 1)] = number;
        },
        problem);
}

} // namespace

bool ReadPackage(const char* path, Package* package, std::string* problem) {
    MsiHandle database;
    UINT result = MsiOpenDatabaseA(path, MSIDBOPEN_READONLY, database.put());
    if (result != ERROR_SUCCESS) {
        *problem = "cannot open it as an installer database (error " + std::to_string(result) + ")";
        return false;
    }
    MSIHANDLE db = database.get();
    if (!HasTable(db, "Property") || !HasTable(db, "InstallExecuteSequence")) {
        *problem = "no installation package: it has no Property or InstallExecuteSequence table";
        return false;
    }
    package->hasComboBoxTable = HasTable(db, "ComboBox");

    enum { kAction = 1, kType, kSource, kTarget };
    bool read =
        EachRow(
            db, "CustomAction", "SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`",
            [&](MSIHANDLE record) {
                package->customActions.push_back({Text(record, kAction),
                                                  MsiRecordGetInteger(record, kType),
                                                  Text(record, kSource), Text(record, kTarget)});
            },
            problem) &&
        ReadSequence(db, "InstallExecuteSequence", &package->executeSequence, problem) &&
        ReadSequence(db, "InstallUISequence", &package->uiSequence, problem) &&
        EachRow(
            db, "Property", "SELECT `Property`, `Value` FROM `Property`",
            [&](MSIHANDLE record) { package->properties[Text(record, 1)] = Text(record, 2); },
            problem) &&
        EachRow(
            db, "File", "SELECT `File` FROM `File`",
            [&](MSIHANDLE record) { package->fileKeys.insert(Text(record, 1)); }, problem) &&
        EachRow(
            db, "Binary", "SELECT `Name`, `Data` FROM `Binary`",
            [&](MSIHANDLE record) {
                package->binaries[Text(record, 1)] = DllExportName(Stream(record, 2));
            },
            problem) &&
        EachRow(
            db, "ServiceInstall", "SELECT `Name` FROM `ServiceInstall`",
            [&](MSIHANDLE record) { package->serviceInstallNames.push_back(Text(record, 1)); },
            problem) &&
        EachRow(
            db, "RemoveFile", "SELECT `FileName` FROM `RemoveFile`",
            [&](MSIHANDLE record) { package->removeFileNames.push_back(Text(record, 1)); },
            problem) &&
        EachRow(
            db, "Upgrade", "SELECT `ActionProperty` FROM `Upgrade`",
            [&](MSIHANDLE record) { package->upgradeActionProperties.push_back(Text(record, 1)); },
            problem);
    return read;
}

} // namespace wirecheck
