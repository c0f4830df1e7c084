// The wiring checks. Each looks at the rows that one action relies on and
// reports, per faulty row, what the engine would do with it and the fix.
#include "package.h"
#include "wirecheck_exports.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace wirecheck {
namespace {

constexpr bool SameText(const char* a, const char* b) {
    for (; *a != '\0' && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

template <std::size_t N> constexpr bool Lists(const char* const (&names)[N], const char* name) {
    for (const char* listed : names)
        if (SameText(listed, name))
            return true;
    return false;
}

// The checks below name these actions; the build stops when one of them
// leaves the export lists.
static_assert(
    Lists(kSetupExports, "CacheProperties") && Lists(kSetupExports, "ClearPropertiesCache") &&
        Lists(kSetupExports, "AppendComboBox") && Lists(kSetupExports, "PopulateHarborChoices") &&
        Lists(kSetupExports, "ConfigureHarbor") && Lists(kSetupExports, "SetConfigLanguage") &&
        Lists(kSetupExports, "StartVantorAutoLauchService") &&
        Lists(kSetupExports, "FrobMajorUpgrade") && Lists(kSetupExports, "CarryOverChoices") &&
        Lists(kSetupExports, "RecallChoices") && Lists(kSetupExports, "CheckChoices") &&
        Lists(kSetupExports, "SelectDriversFeature") && Lists(kSetupExports, "ClearReplacedCaches"),
    "an action that the wiring checks name is no longer exported");

constexpr const char* kSetupDll = "VantorSetup.dll";
// The property with which an administrator changes the recorded choices.
constexpr const char* kChangeChoices = "VANTOR_CHANGE_CHOICES";
constexpr const char* kDriversDll = "VantorDrivers.dll";

// The standard actions' places when a package leaves them out.
constexpr int kCostFinalize = 1000;
constexpr int kInstallInitialize = 1500;
constexpr int kInstallFinalize = 6600;
constexpr int kRollbackType = kTypeDll | kTypeRollback | kTypeInScript | kTypeNoImpersonate;

// The data string of the patch actions and the driver package runner, field
// by field: each value behind an "X" so that an empty one keeps its place.
// The eighth is non-empty on every run of the installed product (Installed),
// so that such a run patches with the cached choices.
const char* const kDataFields[] = {"X[INSTALLDIR]",       "X[DEFAULT_CONVERTER]",
                                   "X[ProductVersion]",   "X[DEFAULT_PAR_PORT]",
                                   "X[DEFAULT_COM_PORT]", "X[ProductLanguage]",
                                   "X[SERIAL_NUMBER]",    "X[REINSTALLMODE][Installed]"};
constexpr std::size_t kDataFieldCount = sizeof kDataFields / sizeof kDataFields[0];
static_assert(kDataFieldCount == 8, "the deferred data string has eight fields");
// The eighth field of earlier releases: a maintenance run only with REINSTALLMODE.
constexpr const char* kOldMaintenanceField = "X[REINSTALLMODE]";

std::string DataLayout() {
    std::string layout;
    for (const char* field : kDataFields)
        layout += std::string(layout.empty() ? "" : "|") + field;
    return layout;
}

enum class Data { None, EightFields, FileAndLanguage, OnePath };

// Where the immediate actions that carry the choices through the product's
// life must run, in each sequence that holds them: after the "after" actions
// and before the "before" one. An anchor is a standard action (at its usual
// place when the sequence lacks it) or, with no usual place, an action of
// ours by its entry (no bound when the sequence holds none).
struct Anchor {
    const char* action;
    int usual;
};
struct PlaceRule {
    const char* entry;
    Anchor after[2];
    Anchor before;
    const char* why;
};
const PlaceRule kPlaceRules[] = {
    {"CarryOverChoices",
     {{"FindRelatedProducts", 25}, {"FrobMajorUpgrade", 0}},
     {"CostInitialize", 800},
     "the replaced releases are known only once FindRelatedProducts and FrobMajorUpgrade have "
     "run, and the costing (the drivers feature), the dialogs and the data strings must see the "
     "carried choices"},
    {"RecallChoices",
     {{nullptr, 0}, {nullptr, 0}},
     {"CostFinalize", 1000},
     "CostFinalize resolves the folders from INSTALLDIR: after it, the run works in whatever "
     "folder its command line gave, not in the recorded one"},
    {"CheckChoices",
     {{"CarryOverChoices", 0}, {nullptr, 0}},
     {"InstallInitialize", 1500},
     "a choice that cannot work must stop the installation before anything is installed, "
     "carried-over choices included"},
    {"SelectDriversFeature",
     {{"CostFinalize", 1000}, {nullptr, 0}},
     {"InstallValidate", 1400},
     "feature states can be requested only after CostFinalize, and InstallValidate takes them "
     "as they are"},
    {"ClearReplacedCaches",
     {{"InstallFinalize", 6600}, {nullptr, 0}},
     {nullptr, 0},
     "a replaced release's cache may go only once the new release is installed: a failed "
     "upgrade gives the old release back, with its choices"},
};

// The library that exports an entry, or nullptr.
const char* LibraryOf(const std::string& entry) {
    if (Lists(kSetupExports, entry.c_str()))
        return kSetupDll;
    if (Lists(kDriversExports, entry.c_str()))
        return kDriversDll;
    return nullptr;
}

Data DataOf(const std::string& entry) {
    const char* library = LibraryOf(entry);
    if (library == kDriversDll)
        return Data::EightFields;
    if (library == kSetupDll && entry.find("ApplyPatchInfo") != std::string::npos)
        return Data::EightFields;
    if (entry == "SetConfigLanguage")
        return Data::FileAndLanguage;
    if (entry == "ConfigureHarbor")
        return Data::OnePath;
    return Data::None;
}

bool IsOurs(const CustomActionRow& row) {
    return (row.type & kTypeKindMask) == kTypeDll && LibraryOf(row.target) != nullptr;
}
bool IsInScript(const CustomActionRow& row) {
    return (row.type & kTypeInScript) != 0;
}
bool IsSetter(const CustomActionRow& row) {
    return (row.type & kTypeBaseMask) == kTypeSetProperty;
}

std::optional<int> PlaceIn(const Sequence& sequence, const std::string& action) {
    auto it = sequence.find(action);
    if (it == sequence.end())
        return std::nullopt;
    return it->second;
}

int StandardPlace(const Sequence& sequence, const char* action, int fallback) {
    return PlaceIn(sequence, action).value_or(fallback);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string joined;
    for (const std::string& item : items)
        joined += (joined.empty() ? "" : separator) + item;
    return joined;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Row(const char* table, const std::string& key) {
    return std::string(table) + " '" + key + "'";
}

class Checker {
  public:
    explicit Checker(const Package& package)
        : package_(package),
          costFinalize_(StandardPlace(package.executeSequence, "CostFinalize", kCostFinalize)),
          installInitialize_(
              StandardPlace(package.executeSequence, "InstallInitialize", kInstallInitialize)),
          installFinalize_(
              StandardPlace(package.executeSequence, "InstallFinalize", kInstallFinalize)) {}

    std::vector<Finding> Run() {
        CheckDataSetters();
        CheckScriptWindow();
        CheckRollback();
        CheckComboBox();
        CheckService();
        CheckHarborRemoval();
        CheckSecureProperties();
        CheckUpgrade();
        CheckPlaces();
        CheckBinaries();
        CheckEntries();
        return findings_;
    }

  private:
    void Report(const char* check, const std::string& text) { findings_.push_back({check, text}); }

    // Our actions with the given entry that either sequence runs.
    std::vector<const CustomActionRow*> Present(const char* entry) const {
        std::vector<const CustomActionRow*> rows;
        for (const CustomActionRow& row : package_.customActions)
            if (IsOurs(row) && row.target == entry && Sequenced(row.action))
                rows.push_back(&row);
        return rows;
    }
    bool Sequenced(const std::string& action) const {
        return package_.executeSequence.count(action) != 0 ||
               package_.uiSequence.count(action) != 0;
    }
    static std::vector<std::string> Names(const std::vector<const CustomActionRow*>& rows) {
        std::vector<std::string> names;
        for (const CustomActionRow* row : rows)
            names.push_back(row->action);
        return names;
    }
    std::vector<const CustomActionRow*> SettersOf(const std::string& property) const {
        std::vector<const CustomActionRow*> rows;
        for (const CustomActionRow& row : package_.customActions)
            if (IsSetter(row) && row.source == property)
                rows.push_back(&row);
        return rows;
    }

    // A deferred action reads only CustomActionData, which the engine fills
    // from the property named after the action: a type-51 action has to set
    // it after CostFinalize (directories are resolved from then on) and
    // before the action is written into the script.
    void CheckDataSetters() {
        for (const CustomActionRow& row : package_.customActions) {
            if (!IsOurs(row) || !IsInScript(row) || DataOf(row.target) == Data::None)
                continue;
            std::optional<int> place = PlaceIn(package_.executeSequence, row.action);
            if (!place)
                continue;
            std::vector<const CustomActionRow*> placed;
            std::vector<std::string> elsewhere;
            for (const CustomActionRow* setter : SettersOf(row.action)) {
                std::optional<int> at = PlaceIn(package_.executeSequence, setter->action);
                if (at && *at > costFinalize_ && *at < *place)
                    placed.push_back(setter);
                else
                    elsewhere.push_back(setter->action +
                                        (at ? " at " + std::to_string(*at) : " (not sequenced)"));
            }
            if (placed.empty()) {
                std::string what = elsewhere.empty()
                                       ? "no type-51 action sets its property '" + row.action + "'"
                                       : "its type-51 action " + Join(elsewhere, ", ") +
                                             " does not run between CostFinalize (" +
                                             std::to_string(costFinalize_) + ") and it";
                Report("setter",
                       Row("CustomAction", row.action) + " (deferred, entry " + row.target +
                           ", InstallExecuteSequence " + std::to_string(*place) + "): " + what +
                           ", so CustomActionData arrives empty. Fix: " +
                           "a CustomAction of type 51 with Source '" + row.action +
                           "' and the data string as Target, sequenced between " +
                           std::to_string(costFinalize_) + " and " + std::to_string(*place) + ".");
                continue;
            }
            for (const CustomActionRow* setter : placed)
                CheckData(row, *setter);
        }
        for (auto& [holder, problem] : dataProblems_)
            Report(problem.check, Row(problem.table, holder) + " (data of " +
                                      Join(problem.actions, ", ") + "): " + problem.text);
    }

    // The data string that a setter hands on: its Target, or where that is
    // one property alone ("[VANTOR_DEFERRED_DATA]"), that property's value as
    // set before the setter runs (by a type-51 action or the Property table).
    struct DataSource {
        const char* table;
        std::string holder;
        std::string value;
    };
    std::vector<DataSource> DataOfSetter(const CustomActionRow& setter) const {
        const std::string& target = setter.target;
        bool single = target.size() > 2 && target.front() == '[' && target.back() == ']' &&
                      target.find_first_of("[]#!$%", 1) == target.size() - 1;
        if (!single)
            return {{"CustomAction", setter.action, target}};
        std::string property = target.substr(1, target.size() - 2);
        std::optional<int> at = PlaceIn(package_.executeSequence, setter.action);
        std::vector<DataSource> sources;
        for (const CustomActionRow* earlier : SettersOf(property)) {
            std::optional<int> before = PlaceIn(package_.executeSequence, earlier->action);
            if (before && at && *before < *at)
                sources.push_back({"CustomAction", earlier->action, earlier->target});
        }
        if (sources.empty()) {
            auto it = package_.properties.find(property);
            if (it != package_.properties.end())
                sources.push_back({"Property", property, it->second});
        }
        if (sources.empty())
            sources.push_back({"CustomAction", setter.action, ""});
        return sources;
    }

    void CheckData(const CustomActionRow& action, const CustomActionRow& setter) {
        for (const DataSource& source : DataOfSetter(setter)) {
            std::string problem;
            const char* check = "layout";
            switch (DataOf(action.target)) {
            case Data::EightFields:
                problem = EightFieldProblem(source.value);
                break;
            case Data::FileAndLanguage:
                problem = FileAndLanguageProblem(source.value, &check);
                break;
            case Data::OnePath:
                if (source.value.empty() || source.value.find('|') != std::string::npos)
                    problem = "is '" + source.value + "', not one file path. Fix: the full " +
                              "path of the chosen configuration file, e.g. " +
                              "[HARBORCONFIGDIR][DEFAULT_HARBOR_CONFIG].";
                break;
            case Data::None:
                break;
            }
            if (problem.empty())
                continue;
            DataProblem& entry = dataProblems_[source.holder];
            entry.table = source.table;
            entry.check = check;
            entry.text = problem;
            if (std::find(entry.actions.begin(), entry.actions.end(), action.action) ==
                entry.actions.end())
                entry.actions.push_back(action.action);
        }
    }

    static std::string EightFieldProblem(const std::string& value) {
        std::string fix = " Fix: \"" + DataLayout() + "\".";
        if (value.empty())
            return "the data string is empty, or set nowhere before it is handed on." + fix;
        std::vector<std::string> fields = Split(value, '|');
        if (fields.size() != kDataFieldCount)
            return "'" + value + "' has " + std::to_string(fields.size()) + " fields, not " +
                   std::to_string(kDataFieldCount) + "." + fix;
        for (std::size_t i = 0; i < kDataFieldCount; ++i) {
            if (fields[i] == kDataFields[i])
                continue;
            std::string why;
            if (fields[i] == kOldMaintenanceField && i + 1 == kDataFieldCount)
                why = " (the earlier form: a run of the installed product without REINSTALLMODE, "
                      "such as ADDLOCAL=... or REINSTALL=ALL alone, would patch with the command "
                      "line's choices instead of the cached ones)";
            return "field " + std::to_string(i + 1) + " is '" + fields[i] + "', not '" +
                   kDataFields[i] + "'" + why + "." + fix;
        }
        return "";
    }

    // "[#FileKey]|[ProductLanguage]": the configuration file and the LCID.
    std::string FileAndLanguageProblem(const std::string& value, const char** check) const {
        const std::string tail = "]|[ProductLanguage]";
        bool shaped = value.size() > 2 + tail.size() && value.compare(0, 2, "[#") == 0 &&
                      value.compare(value.size() - tail.size(), tail.size(), tail) == 0;
        std::string key = shaped ? value.substr(2, value.size() - 2 - tail.size()) : "";
        if (!shaped || key.find_first_of("[]|") != std::string::npos)
            return "is '" + value + "', not \"[#FileKey]|[ProductLanguage]\". Fix: " +
                   "\"[#<File key of the configuration file>]|[ProductLanguage]\".";
        if (package_.fileKeys.count(key) == 0) {
            *check = "filekey";
            return "names the file key '" + key + "', which the File table lacks. Fix: the " +
                   "File key of the application's configuration file (-D VantorConfigFile=<key>).";
        }
        return "";
    }

    // Deferred actions are written into the script between InstallInitialize
    // and InstallFinalize; elsewhere the engine never runs them.
    void CheckScriptWindow() {
        for (const CustomActionRow& row : package_.customActions) {
            if (!IsOurs(row) || !IsInScript(row))
                continue;
            std::vector<std::string> faults;
            std::optional<int> place = PlaceIn(package_.executeSequence, row.action);
            if (place && (*place <= installInitialize_ || *place >= installFinalize_))
                faults.push_back("InstallExecuteSequence " + std::to_string(*place) +
                                 " lies outside InstallInitialize (" +
                                 std::to_string(installInitialize_) + ") .. InstallFinalize (" +
                                 std::to_string(installFinalize_) + ")");
            if (PlaceIn(package_.uiSequence, row.action))
                faults.push_back("it is sequenced in InstallUISequence");
            if (faults.empty())
                continue;
            Report("window", Row("CustomAction", row.action) + " (type " +
                                 std::to_string(row.type) + ", entry " + row.target + "): " +
                                 Join(faults, "; ") + ", where a deferred action never runs. " +
                                 "Fix: an explicit Sequence in InstallExecuteSequence between " +
                                 std::to_string(installInitialize_) + " and " +
                                 std::to_string(installFinalize_) + ".");
        }
    }

    // CacheProperties writes the registry while the script is built; only a
    // rollback action registered before it takes the cache away again when
    // the installation fails.
    void CheckRollback() {
        std::optional<int> cache;
        for (const CustomActionRow* row : Present("CacheProperties"))
            if (std::optional<int> at = PlaceIn(package_.executeSequence, row->action))
                cache = cache ? std::min(*cache, *at) : *at;
        if (!cache)
            return;
        bool any = false;
        for (const CustomActionRow& row : package_.customActions) {
            if (!IsOurs(row) || row.target != "ClearPropertiesCache")
                continue;
            std::optional<int> at = PlaceIn(package_.executeSequence, row.action);
            // wixl writes a rollback action as 2049, an immediate action: one
            // sequenced before CacheProperties is a rollback with the wrong type.
            if (!at || (!IsInScript(row) && *at >= *cache))
                continue;
            any = true;
            std::vector<std::string> faults;
            if (row.type != kRollbackType)
                faults.push_back("type " + std::to_string(row.type) + ", not " +
                                 std::to_string(kRollbackType) + " (rollback, no impersonation)");
            if (*at >= *cache)
                faults.push_back("sequenced at " + std::to_string(*at) +
                                 ", not before CacheProperties (" + std::to_string(*cache) + ")");
            if (faults.empty())
                continue;
            std::vector<std::string> fixes;
            if (row.type != kRollbackType)
                fixes.push_back("msibuild pkg.msi -q \"UPDATE CustomAction SET Type=" +
                                std::to_string(kRollbackType) + " WHERE Action='" + row.action +
                                "'\"");
            if (*at >= *cache)
                fixes.push_back("a Sequence between InstallInitialize (" +
                                std::to_string(installInitialize_) + ") and " +
                                std::to_string(*cache));
            Report("rollback", Row("CustomAction", row.action) +
                                   " (rollback of CacheProperties): " + Join(faults, "; ") +
                                   ". Fix: " + Join(fixes, ", and ") + ".");
        }
        if (!any)
            Report("rollback", Row("InstallExecuteSequence", "CacheProperties") +
                                   ": no rollback action (ClearPropertiesCache) is sequenced, so " +
                                   "a failed installation leaves the registry cache behind. Fix: " +
                                   "a CustomAction of type " + std::to_string(kRollbackType) +
                                   " with DllEntry ClearPropertiesCache sequenced before it.");
    }

    void CheckComboBox() {
        std::vector<const CustomActionRow*> rows = Present("AppendComboBox");
        for (const CustomActionRow* row : Present("PopulateHarborChoices"))
            rows.push_back(row);
        if (rows.empty() || package_.hasComboBoxTable)
            return;
        Report("combobox", Row("CustomAction", Join(Names(rows), "', '")) +
                               ": the package has no ComboBox table, so the combo boxes stay " +
                               "empty. Fix: msibuild pkg.msi -q \"CREATE TABLE `ComboBox` " +
                               "(`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, `Value` " +
                               "CHAR(64) NOT NULL, `Text` CHAR(64) LOCALIZABLE PRIMARY KEY " +
                               "`Property`, `Order`)\".");
    }

    void CheckService() {
        static const char* const kService = "Vantor Auto Launch Service";
        std::vector<const CustomActionRow*> rows = Present("StartVantorAutoLauchService");
        if (rows.empty())
            return;
        const std::vector<std::string>& names = package_.serviceInstallNames;
        if (std::find(names.begin(), names.end(), kService) != names.end())
            return;
        Report("service", Row("CustomAction", Join(Names(rows), "', '")) +
                              ": no ServiceInstall row installs \"" + kService +
                              "\", so the action has nothing to start and fails. Fix: a " +
                              "ServiceInstall (and ServiceControl) of \"" + kService +
                              "\" in the product, or leave the action out.");
    }

    void CheckHarborRemoval() {
        std::vector<const CustomActionRow*> rows = Present("ConfigureHarbor");
        if (rows.empty())
            return;
        for (const std::string& stored : package_.removeFileNames) {
            // "SHORT~1.INI|long name.ini": the long name counts.
            std::string name = stored.substr(stored.find('|') + 1);
            if (Lower(name) == "tessel.ini")
                return;
        }
        Report("removefile", Row("CustomAction", Join(Names(rows), "', '")) +
                                 ": no RemoveFile row for \"tessel.ini\", so removal leaves the " +
                                 "copy that the action makes. Fix: msibuild pkg.msi -q \"INSERT " +
                                 "INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, " +
                                 "`DirProperty`, `InstallMode`) VALUES ('TesselIni', " +
                                 "'rondoconfig', 'tessel.ini', 'HARBORCONFIGDIR', 2)\".");
    }

    // Properties that a user chooses reach the installation's server side
    // (where the execute sequence runs) only when they are listed in
    // SecureCustomProperties.
    void CheckSecureProperties() {
        static const char* const kChoices[] = {"DEFAULT_CONVERTER", "DEFAULT_PAR_PORT",
                                               "DEFAULT_COM_PORT", "SERIAL_NUMBER"};
        std::vector<std::pair<std::string, std::string>> needed; // property, action
        auto need = [&](const std::string& property, const std::string& action) {
            needed.emplace_back(property, action);
        };
        for (const CustomActionRow* row : Present("CacheProperties"))
            for (const char* choice : kChoices)
                need(choice, row->action);
        for (const CustomActionRow& row : package_.customActions) {
            if (!IsOurs(row) || DataOf(row.target) != Data::EightFields || !Sequenced(row.action))
                continue;
            need("INSTALLDIR", row.action);
            if (LibraryOf(row.target) == kSetupDll)
                for (const char* choice : kChoices)
                    need(choice, row.action);
        }
        for (const CustomActionRow* row : Present("ConfigureHarbor"))
            need("DEFAULT_HARBOR_CONFIG", row->action);
        // RemoveExistingProducts reads the Upgrade table's action property on
        // the server side as well.
        for (const CustomActionRow* row : Present("FrobMajorUpgrade"))
            need("ACTIONPROPERTY", row->action);
        std::set<std::string> secure;
        auto it = package_.properties.find("SecureCustomProperties");
        if (it != package_.properties.end())
            for (const std::string& name : Split(it->second, ';'))
                secure.insert(name);
        // Windows hands a property that is not secure to the elevated part of
        // an installation only from an administrator's command line: this one
        // changes the recorded choices, and must stay so.
        if (secure.count(kChangeChoices) != 0)
            Report("secure",
                   Row("Property", "SecureCustomProperties") + " ('" + it->second + "') lists " +
                       kChangeChoices + ", which must never be secure: listed, it reaches the " +
                       "installation from any user's command line, and a standard user's repair " +
                       "could change the recorded choices. Fix: take it out (package/finish-msi " +
                       "does).");
        if (needed.empty())
            return;
        std::vector<std::string> missing, users;
        for (const auto& [property, action] : needed) {
            if (secure.count(property) != 0)
                continue;
            if (std::find(missing.begin(), missing.end(), property) == missing.end())
                missing.push_back(property);
            if (std::find(users.begin(), users.end(), action) == users.end())
                users.push_back(action);
        }
        if (missing.empty())
            return;
        std::string current =
            it == package_.properties.end() ? "no such row" : "'" + it->second + "'";
        Report("secure", Row("Property", "SecureCustomProperties") + " (" + current + ") lacks " +
                             Join(missing, ";") + ", the user's choices that " + Join(users, ", ") +
                             " rely on: an elevated installation by a " +
                             "user who is no administrator drops them. Fix: add them, " +
                             "separated by \";\".");
    }

    void CheckUpgrade() {
        std::vector<const CustomActionRow*> rows = Present("FrobMajorUpgrade");
        if (rows.empty())
            return;
        const std::vector<std::string>& properties = package_.upgradeActionProperties;
        if (std::find(properties.begin(), properties.end(), "ACTIONPROPERTY") != properties.end())
            return;
        Report("upgrade", Row("CustomAction", Join(Names(rows), "', '")) +
                              ": no Upgrade row has ActionProperty ACTIONPROPERTY, so the list " +
                              "of older products that the action writes reaches " +
                              "RemoveExistingProducts nowhere. Fix: an Upgrade row with the " +
                              "product's UpgradeCode and ActionProperty 'ACTIONPROPERTY'.");
    }

    // The place of an anchor in a sequence (see PlaceRule).
    std::optional<int> AnchorPlace(const Sequence& sequence, const Anchor& anchor) const {
        if (anchor.action == nullptr)
            return std::nullopt;
        if (anchor.usual != 0)
            return StandardPlace(sequence, anchor.action, anchor.usual);
        std::optional<int> place;
        for (const CustomActionRow* row : Present(anchor.action))
            if (std::optional<int> at = PlaceIn(sequence, row->action))
                place = place ? std::min(*place, *at) : *at;
        return place;
    }

    void CheckPlaces() {
        const std::pair<const char*, const Sequence*> sequences[] = {
            {"InstallExecuteSequence", &package_.executeSequence},
            {"InstallUISequence", &package_.uiSequence}};
        for (const PlaceRule& rule : kPlaceRules) {
            for (const CustomActionRow* row : Present(rule.entry)) {
                for (const auto& [table, sequence] : sequences) {
                    std::optional<int> place = PlaceIn(*sequence, row->action);
                    if (!place)
                        continue;
                    std::vector<std::string> faults;
                    std::optional<int> lower, upper = AnchorPlace(*sequence, rule.before);
                    for (const Anchor& anchor : rule.after) {
                        std::optional<int> at = AnchorPlace(*sequence, anchor);
                        if (!at)
                            continue;
                        lower = lower ? std::max(*lower, *at) : *at;
                        if (*place <= *at)
                            faults.push_back(std::string("not after ") + anchor.action + " (" +
                                             std::to_string(*at) + ")");
                    }
                    if (upper && *place >= *upper)
                        faults.push_back(std::string("not before ") + rule.before.action + " (" +
                                         std::to_string(*upper) + ")");
                    if (faults.empty())
                        continue;
                    std::string fix = lower && upper ? "between " + std::to_string(*lower) +
                                                           " and " + std::to_string(*upper)
                                      : lower ? "after " + std::to_string(*lower)
                                              : "before " + std::to_string(*upper);
                    Report("place", Row("CustomAction", row->action) + " (entry " + row->target +
                                        ", " + table + " " + std::to_string(*place) +
                                        "): " + Join(faults, ", ") + ": " + rule.why +
                                        ". Fix: a Sequence " + fix + ".");
                }
            }
        }
        CheckRemoveExistingProducts();
    }

    // With the major upgrade's actions, the older release is removed inside
    // the installation's transaction, so that a new release that fails
    // afterwards rolls back to the old one.
    void CheckRemoveExistingProducts() {
        if (Present("FrobMajorUpgrade").empty() && Present("CarryOverChoices").empty())
            return;
        std::optional<int> place = PlaceIn(package_.executeSequence, "RemoveExistingProducts");
        if (!place || (*place > installInitialize_ && *place < installFinalize_))
            return;
        Report("place", Row("InstallExecuteSequence", "RemoveExistingProducts") + " (" +
                            std::to_string(*place) + "): outside InstallInitialize (" +
                            std::to_string(installInitialize_) + ") .. InstallFinalize (" +
                            std::to_string(installFinalize_) +
                            "), so a new release that fails after the old one's removal leaves "
                            "neither installed, and the old release's cache is lost. Fix: a " +
                            "Sequence right after InstallInitialize, e.g. " +
                            std::to_string(installInitialize_ + 1) + ".");
    }

    // An action whose code lives in the Binary table names its row in Source.
    void CheckBinaries() {
        std::map<std::string, std::vector<std::string>> missing;
        for (const CustomActionRow& row : package_.customActions) {
            int kind = row.type & kTypeKindMask;
            bool fromBinary = (row.type & kTypeSourceMask) == 0 &&
                              (kind == 1 || kind == 2 || kind == 5 || kind == 6);
            if (fromBinary && package_.binaries.count(row.source) == 0)
                missing[row.source].push_back(row.action);
        }
        for (const auto& [name, actions] : missing) {
            const char* library = nullptr;
            for (const CustomActionRow& row : package_.customActions)
                if (row.source == name && LibraryOf(row.target) != nullptr)
                    library = LibraryOf(row.target);
            Report(
                "binary",
                Row("Binary", name) + ": missing, yet CustomAction '" + Join(actions, "', '") +
                    "' name it as Source; the engine cannot load the action. Fix: <Binary Id=\"" +
                    name + "\" SourceFile=\"" + (library ? library : "<file>") + "\" />.");
        }
    }

    // An action in one of our DLLs has to call an entry that DLL exports.
    void CheckEntries() {
        for (const CustomActionRow& row : package_.customActions) {
            if ((row.type & kTypeBaseMask) != kTypeDll)
                continue;
            auto it = package_.binaries.find(row.source);
            if (it == package_.binaries.end())
                continue;
            std::string dll = Lower(it->second);
            const char* holds = dll == Lower(kSetupDll)     ? kSetupDll
                                : dll == Lower(kDriversDll) ? kDriversDll
                                                            : nullptr;
            if (holds == nullptr || LibraryOf(row.target) == holds)
                continue;
            const char* exporter = LibraryOf(row.target);
            Report("entry", Row("CustomAction", row.action) + ": DllEntry '" + row.target +
                                "' is no export of " + holds + " (Binary '" + row.source +
                                "'), so the engine cannot call it. Fix: " +
                                (exporter ? std::string("Source the Binary row of ") + exporter
                                          : std::string("an entry that ") + holds + " exports") +
                                ".");
        }
    }

    struct DataProblem {
        const char* table = "CustomAction";
        const char* check = "layout";
        std::string text;
        std::vector<std::string> actions;
    };

    const Package& package_;
    int costFinalize_;
    int installInitialize_;
    int installFinalize_;
    std::map<std::string, DataProblem> dataProblems_;
    std::vector<Finding> findings_;
};

} // namespace

std::vector<Finding> CheckWiring(const Package& package) {
    return Checker(package).Run();
}

} // namespace wirecheck
