// AppendComboBox: fills the combo box of DEFAULT_CONVERTER at run time.
#include "setup/choice/converter_choice.h"

#include "common/action_boundary.h"
#include "common/handles.h"
#include "common/log_line.h"
#include "common/property.h"
#include "common/text.h"
#include "setup/cache/lifecycle.h"
#include "setup/catalogue/catalogue.h"
#include "setup/exports.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace vantor;

namespace {

constexpr const char kComboBoxQuery[] = "SELECT * FROM ComboBox";
// Columns of a ComboBox row, 1-based as records count them.
enum ComboBoxColumn : UINT { kProperty = 1, kOrder = 2, kValue = 3, kText = 4 };

// USB devices need the platform's USB support, which Windows has from
// Windows 2000 (NT 5.0) and Windows 98 (4.10) on.
bool CanServe(const ConverterInfo& row, std::int32_t versionNT, std::int32_t version9X) {
    if (row.interfaceClass != kUsbInterfaceClass)
        return true;
    if (versionNT != 0 && versionNT < 500)
        return false;
    if (version9X != 0 && version9X < 410)
        return false;
    return true;
}

} // namespace

namespace vantor {

UINT OpenComboBoxView(MSIHANDLE database, MSIHANDLE* view) {
    return MsiDatabaseOpenViewA(database, kComboBoxQuery, view);
}

UINT AddComboBoxRow(MSIHANDLE view, LPCSTR property, int order, LPCSTR value, LPCSTR text) {
    MsiHandle record(MsiCreateRecord(4));
    MsiRecordSetStringA(record.get(), kProperty, property);
    MsiRecordSetInteger(record.get(), kOrder, order);
    MsiRecordSetStringA(record.get(), kValue, value);
    MsiRecordSetStringA(record.get(), kText, text);
    return MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, record.get());
}

std::string ComboBoxRefusal(UINT opened) {
    // The query is fixed: a syntax error means the table is not there.
    return WithError(opened == ERROR_BAD_QUERY_SYNTAX
                         ? "the package has no ComboBox table; it needs one for these rows"
                         : "the ComboBox table cannot be opened",
                     opened);
}

// CONVERTER_LIST: decimal ids separated by commas, e.g. "81,3000,7". Runs of
// commas and commas at either end separate nothing, so no piece is empty; a
// piece without digits still takes its place (as id 0).
void ReadConverterList(MSIHANDLE installation, ConverterList& list) {
    list.count = 0;
    MsiProperty property(installation, "CONVERTER_LIST");
    std::unique_ptr<char[]> text = FetchValue(property);
    const char* p = text.get();
    while (*p && list.count < ConverterList::kCapacity) {
        while (*p == ',')
            ++p;
        if (!*p)
            break;
        // ParseDecimal stops at the comma, so the piece needs no copy.
        list.ids[list.count++] = ParseDecimal(p);
        while (*p && *p != ',')
            ++p;
    }
    SetPropertyText(installation, "CONVERTER_LIST_COUNT", std::to_string(list.count));
}

std::int32_t ReadPlatformVersion(MSIHANDLE installation, LPCSTR name) {
    MsiProperty property(installation, name);
    std::unique_ptr<char[]> text = FetchValue(property);
    return ParseDecimal(text.get());
}

bool SelectOnlyConverter(MSIHANDLE installation, std::int32_t id) {
    SetPropertyText(installation, "DEFAULT_CONVERTER", std::to_string(id));
    // Level 0 keeps the other drivers features from being installed by default.
    MsiSetInstallLevel(installation, 0);
    const ConverterInfo* row = FindConverter(id);
    // The demonstration source and the network connection have no drivers.
    if (!row || !*row->feature)
        return false;
    INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
    INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
    if (MsiGetFeatureStateA(installation, row->feature, &installed, &action) == ERROR_SUCCESS &&
        installed == INSTALLSTATE_LOCAL)
        return true;
    return MsiSetFeatureStateA(installation, row->feature, INSTALLSTATE_LOCAL) == ERROR_SUCCESS;
}

} // namespace vantor

namespace {

UINT FillConverterChoices(MSIHANDLE installation) {
    MsiHandle database(MsiGetActiveDatabase(installation));
    MsiHandle view;
    // Temporary rows go in through the view without executing it. A package
    // without a ComboBox table has no view (1615): the list is still read
    // and a single converter still chosen, but no row can be added.
    const UINT opened = OpenComboBoxView(database.get(), view.put());

    ConverterList list;
    ReadConverterList(installation, list);
    const std::int32_t versionNT = ReadPlatformVersion(installation, "VersionNT");
    const std::int32_t version9X = ReadPlatformVersion(installation, "Version9X");

    std::int32_t lastAdded = 0;
    for (std::size_t i = 0; i < list.count; ++i) {
        const ConverterInfo* row = FindConverter(list.ids[i]);
        if (!row || !CanServe(*row, versionNT, version9X))
            continue;
        lastAdded = row->id;
        if (opened != ERROR_SUCCESS)
            continue;
        // Order keeps the id's place in the list, gaps and all.
        const UINT inserted = AddComboBoxRow(view.get(), "DEFAULT_CONVERTER", static_cast<int>(i),
                                             std::to_string(row->id).c_str(), row->displayName);
        if (inserted != ERROR_SUCCESS)
            LogFailure(installation,
                       "Converter " + std::to_string(row->id) +
                           " not added to the choices of DEFAULT_CONVERTER: the ComboBox row "
                           "cannot be inserted",
                       inserted);
    }
    if (opened != ERROR_SUCCESS && list.count > 0)
        LogAction(installation,
                  ("Choices of DEFAULT_CONVERTER not added: " + ComboBoxRefusal(opened)).c_str());

    // A package that offers one converter gets it chosen, also when this
    // Windows cannot serve it (then "0": no converter). An empty list
    // chooses nothing.
    if (list.count == 1)
        SelectOnlyConverter(installation, lastAdded);

    // Each handle is closed by its owner never with MsiCloseAllHandles, which
    // under Wine also closes the installation handle the engine passed in.
    MsiViewClose(view.get());
    return ERROR_SUCCESS;
}

} // namespace

namespace {

constexpr const char kFeatureQuery[] = "SELECT `Feature` FROM `Feature`";

// After CostFinalize, whatever the dialogs did or did not do: the chosen
// converter's drivers feature is installed, and no other converter's.
UINT SelectDrivers(MSIHANDLE installation) {
    const auto log = [installation](const std::string& line) {
        LogAction(installation, line.c_str());
    };
    // The drivers features of the catalogue that this package has.
    MsiHandle database(MsiGetActiveDatabase(installation));
    TextRows rows;
    UINT queried = QueryTexts(database.get(), kFeatureQuery, 1, rows);
    if (queried != ERROR_SUCCESS && queried != ERROR_BAD_QUERY_SYNTAX) {
        log(WithError("No drivers feature selected: the Feature table cannot be read", queried));
        return ERROR_SUCCESS;
    }
    std::vector<std::string> present;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i) {
        const std::string feature = ConverterCatalogue[i].feature;
        if (feature.empty() || std::find(present.begin(), present.end(), feature) != present.end())
            continue;
        for (const auto& row : rows) {
            if (row.front() == feature) {
                present.push_back(feature);
                break;
            }
        }
    }

    const std::string converter = PropertyText(installation, "DEFAULT_CONVERTER");
    const bool digits = converter.size() <= 5 && IsDigits(converter);
    const ConverterInfo* row = digits ? FindConverter(ParseDecimal(converter.c_str())) : nullptr;
    std::string chosen;
    std::string line;
    if (!row) {
        line = "No drivers feature selected: DEFAULT_CONVERTER \"" + converter +
               "\" names no converter of the catalogue";
    } else if (!*row->feature) {
        line = "No drivers feature selected: converter " + std::to_string(row->id) +
               " needs no drivers";
    } else if (std::find(present.begin(), present.end(), row->feature) == present.end()) {
        line = WithError("No drivers feature selected: the drivers feature " +
                             std::string(row->feature) + " of converter " +
                             std::to_string(row->id) + " is not in this package",
                         ERROR_UNKNOWN_FEATURE);
    } else {
        chosen = row->feature;
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
        INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
        UINT result = MsiGetFeatureStateA(installation, row->feature, &installed, &action);
        // Installed already, or chosen by the engine itself (the feature's
        // Condition row): a request would only make it the action's, which
        // an engine may register as absent.
        if (result == ERROR_SUCCESS && installed != INSTALLSTATE_LOCAL &&
            action != INSTALLSTATE_LOCAL)
            result = MsiSetFeatureStateA(installation, row->feature, INSTALLSTATE_LOCAL);
        line =
            result == ERROR_SUCCESS
                ? "Drivers feature " + chosen + " selected for converter " + std::to_string(row->id)
                : WithError("Drivers feature " + chosen + " not selected for converter " +
                                std::to_string(row->id),
                            result);
    }

    // Every other converter's: not installed now, and in a change of the
    // choices removed as well.
    const bool change = !PropertyText(installation, "Installed").empty() &&
                        PropertyText(installation, "VANTOR_CHANGE_CHOICES") == "1";
    std::vector<std::string> notInstalled;
    std::vector<std::string> removed;
    std::vector<std::string> kept;
    std::vector<std::string> failed;
    for (const std::string& feature : present) {
        if (feature == chosen)
            continue;
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
        INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
        UINT result = MsiGetFeatureStateA(installation, feature.c_str(), &installed, &action);
        if (result != ERROR_SUCCESS) {
            failed.push_back(WithError(feature, result));
            continue;
        }
        const bool isInstalled = installed == INSTALLSTATE_LOCAL;
        if (isInstalled && !change) {
            kept.push_back(feature);
            continue;
        }
        if (isInstalled || action == INSTALLSTATE_LOCAL)
            result = MsiSetFeatureStateA(installation, feature.c_str(), INSTALLSTATE_ABSENT);
        if (result != ERROR_SUCCESS)
            failed.push_back(WithError(feature, result));
        else
            (isInstalled ? removed : notInstalled).push_back(feature);
    }
    if (!notInstalled.empty())
        line += "; not installed: " + JoinNames(notInstalled);
    if (!removed.empty())
        line += "; removed: " + JoinNames(removed);
    if (!kept.empty())
        line += "; kept as installed: " + JoinNames(kept);
    if (!failed.empty())
        line += "; left as they were: " + JoinNames(failed);
    log(line);
    return ERROR_SUCCESS;
}

} // namespace

extern "C" UINT WINAPI SelectDriversFeature(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, SelectDrivers);
}

extern "C" UINT WINAPI AppendComboBox(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, FillConverterChoices);
}
