#include "package_reader.h"

namespace wirecheck {
namespace {

// Runs a query on a table the package has and hands each row on. A missing
// table has no rows; a query the engine refuses is a reason to give up.
bool EachRow(Database& database, const char* table, const std::string& query,
             const std::function<void(const Row&)>& row, std::string* problem) {
    if (!database.HasTable(table))
        return true;
    std::string reason;
    if (database.Select(query, {}, row, &reason))
        return true;
    *problem = std::string("cannot read the ") + table + " table (" + reason + ")";
    return false;
}

bool ReadSequence(Database& database, const char* table, Sequence* sequence, std::string* problem) {
    return EachRow(
        database, table, std::string("SELECT `Action`, `Sequence` FROM `") + table + "`",
        [&](const Row& row) {
            if (std::optional<int> number = row.Integer(2))
                (*sequence)[row.Text(1)] = *number;
        },
        problem);
}

// Binary row name to the name that the DLL in it gives itself. A stream
// that cannot be read to its end is a reason to give up: a part of a DLL
// could name no library, or the wrong one.
bool ReadBinaries(Database& database, Package* package, std::string* problem) {
    std::string unreadable;
    bool read = EachRow(
        database, "Binary", "SELECT `Name`, `Data` FROM `Binary`",
        [&](const Row& row) {
            std::vector<unsigned char> bytes;
            if (!row.Stream(2, &bytes) && unreadable.empty())
                unreadable = row.Text(1);
            package->binaries[row.Text(1)] = DllExportName(bytes);
        },
        problem);
    if (read && !unreadable.empty()) {
        *problem = "cannot read the stream of Binary '" + unreadable + "'";
        return false;
    }
    return read;
}

} // namespace

bool ReadPackage(Database& database, Package* package, std::string* problem) {
    if (!database.HasTable("Property") || !database.HasTable("InstallExecuteSequence")) {
        *problem = "no installation package: it has no Property or InstallExecuteSequence table";
        return false;
    }
    package->hasComboBoxTable = database.HasTable("ComboBox");
    package->hasRemoveFileTable = database.HasTable("RemoveFile");
    package->hasConditionTable = database.HasTable("Condition");

    enum { kAction = 1, kType, kSource, kTarget };
    return EachRow(
               database, "CustomAction",
               "SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`",
               [&](const Row& row) {
                   package->customActions.push_back({row.Text(kAction),
                                                     row.Integer(kType).value_or(0),
                                                     row.Text(kSource), row.Text(kTarget)});
               },
               problem) &&
           ReadSequence(database, "InstallExecuteSequence", &package->executeSequence, problem) &&
           ReadSequence(database, "InstallUISequence", &package->uiSequence, problem) &&
           EachRow(
               database, "Property", "SELECT `Property`, `Value` FROM `Property`",
               [&](const Row& row) { package->properties[row.Text(1)] = row.Text(2); }, problem) &&
           EachRow(
               database, "File", "SELECT `File`, `Component_`, `FileName` FROM `File`",
               [&](const Row& row) {
                   package->files[row.Text(1)] = {row.Text(2), row.Text(3)};
               },
               problem) &&
           EachRow(
               database, "Component", "SELECT `Component`, `Directory_` FROM `Component`",
               [&](const Row& row) { package->componentDirectories[row.Text(1)] = row.Text(2); },
               problem) &&
           EachRow(
               database, "Directory",
               "SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory`",
               [&](const Row& row) {
                   package->directories[row.Text(1)] = {row.Text(2), row.Text(3)};
               },
               problem) &&
           EachRow(
               database, "Feature", "SELECT `Feature`, `Level` FROM `Feature`",
               [&](const Row& row) { package->features[row.Text(1)] = row.Integer(2).value_or(0); },
               problem) &&
           EachRow(
               database, "Condition", "SELECT `Feature_`, `Level`, `Condition` FROM `Condition`",
               [&](const Row& row) {
                   package->conditions.push_back(
                       {row.Text(1), row.Integer(2).value_or(0), row.Text(3)});
               },
               problem) &&
           ReadBinaries(database, package, problem) &&
           EachRow(
               database, "ServiceInstall", "SELECT `Name` FROM `ServiceInstall`",
               [&](const Row& row) { package->serviceInstallNames.push_back(row.Text(1)); },
               problem) &&
           EachRow(
               database, "RemoveFile", "SELECT `FileKey`, `FileName` FROM `RemoveFile`",
               [&](const Row& row) {
                   package->removeFileKeys.insert(row.Text(1));
                   package->removeFileNames.push_back(row.Text(2));
               },
               problem) &&
           EachRow(
               database, "Upgrade", "SELECT `ActionProperty`, `Attributes` FROM `Upgrade`",
               [&](const Row& row) {
                   package->upgrades.push_back({row.Text(1), row.Integer(2).value_or(0)});
               },
               problem);
}

bool ReadPackage(const char* path, Package* package, std::string* problem) {
    std::unique_ptr<Database> database = OpenDatabase(path, Database::Access::ReadOnly, problem);
    return database && ReadPackage(*database, package, problem);
}

} // namespace wirecheck
