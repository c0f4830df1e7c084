// The wiring checks. Each looks at the rows that one action relies on, as the
// wiring table (common/wiring.h) states them, and reports, per faulty row,
// what the engine would do with it and the fix.
#include "checks_support.h"
#include "package.h"
#include "setup/catalogue/catalogue.h"
#include "setup/catalogue/country_codes.h"
#include "wirecheck_exports.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace wirecheck {
namespace {

using namespace vantor::wiring;

template <std::size_t N> constexpr bool Lists(const char* const (&names)[N], const char* name) {
    for (const char* listed : names)
        if (SameText(listed, name))
            return true;
    return false;
}

// The wiring table holds exactly the exports of the two libraries (the .def
// files, read when the checker is configured): one row per export, of the
// library that exports it.
template <std::size_t N> constexpr bool OneRowPerExport(const char* const (&exports)[N], Dll dll) {
    for (const char* name : exports) {
        int rows = 0;
        for (const Action& action : kActions)
            if (SameText(action.entry, name))
                rows += action.dll == dll ? 1 : 2;
        if (rows != 1)
            return false;
    }
    return true;
}
constexpr bool EveryRowExported() {
    for (const Action& action : kActions)
        if (!(action.dll == Dll::Setup ? Lists(kSetupExports, action.entry)
                                       : Lists(kDriversExports, action.entry)))
            return false;
    return true;
}
static_assert(OneRowPerExport(kSetupExports, Dll::Setup),
              "an export of VantorSetup.def has no row, or more than one, in common/wiring.h");
static_assert(OneRowPerExport(kDriversExports, Dll::Drivers),
              "an export of VantorDrivers.def has no row, or more than one, in common/wiring.h");
static_assert(EveryRowExported(), "a row of common/wiring.h names no export of its library");

// What the table must satisfy itself: a deferred action lies in the script
// window, its data setter between CostFinalize and it, a rollback before its
// action, of its library, an immediate action takes no data.
constexpr bool Consistent() {
    for (const Action& a : kActions) {
        if (a.Deferred() && a.place.execute != 0 &&
            (a.place.execute <= kInstallInitialize || a.place.execute >= kInstallFinalize ||
             a.place.ui != 0))
            return false;
        if ((a.data != Data::None) != (a.setterPlace != 0) ||
            (a.data != Data::None && !a.Deferred()))
            return false;
        if (a.setterPlace != 0 &&
            (a.setterPlace <= kCostFinalize || a.setterPlace >= a.place.execute))
            return false;
        if (a.rollback.action != nullptr) {
            const Action* undo = Find(a.rollback.entry);
            if (undo == nullptr || undo->dll != a.dll || a.rollback.execute >= a.place.execute ||
                a.rollback.execute <= kInstallInitialize)
                return false;
        }
        if ((a.ships == Ships::Application) != (a.layout != 0))
            return false;
    }
    return true;
}
static_assert(Consistent(), "the wiring table contradicts itself");

constexpr const char* kService = "Vantor Auto Launch Service";
constexpr const char* kProfiles = "rondoconfig";
constexpr const char* kTessel = "tessel.ini";

const char* LibraryOf(const std::string& entry) {
    const Action* row = Find(entry.c_str());
    return row ? DllName(row->dll) : nullptr;
}

Data DataOf(const std::string& entry) {
    const Action* row = Find(entry.c_str());
    return row ? row->data : Data::None;
}

bool IsOurs(const CustomActionRow& row) {
    return (row.type & kTypeKindMask) == kTypeDll && Find(row.target.c_str()) != nullptr;
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

std::string Row(const char* table, const std::string& key) {
    return std::string(table) + " '" + key + "'";
}

// A property's value as the Property table holds it, or nothing.
std::optional<std::string> PropertyOf(const Package& package, const char* name) {
    auto it = package.properties.find(name);
    if (it == package.properties.end())
        return std::nullopt;
    return it->second;
}

std::string Quoted(const std::optional<std::string>& value) {
    return value ? "'" + *value + "'" : "no such row";
}

bool IsApplicationName(const std::string& name) {
    const std::string lower = Lower(name);
    for (const char* suffix : {".exe", ".dll", ".com", ".scr", ".sys"})
        if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, suffix) == 0)
            return true;
    return false;
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
        CheckTypes();
        CheckRollbacks();
        CheckComboBox();
        CheckService();
        CheckHarborRemoval();
        CheckProfiles();
        CheckSecureProperties();
        CheckUpgrade();
        CheckPlaces();
        CheckLifecycle();
        CheckPerMachine();
        CheckConverter();
        CheckCountry();
        CheckApplications();
        CheckDriverPackageTool();
        CheckDriversFeatures();
        CheckBinaries();
        CheckEntries();
        return findings_;
    }

  private:
    void Report(const char* check, const std::string& text) { findings_.push_back({check, text}); }

    std::vector<const CustomActionRow*> Present(const char* entry) const {
        return PresentActions(package_, entry);
    }
    bool Sequenced(const std::string& action) const { return IsSequenced(package_, action); }
    static std::vector<std::string> Names(const std::vector<const CustomActionRow*>& rows) {
        std::vector<std::string> names;
        for (const CustomActionRow* row : rows)
            names.push_back(row->action);
        return names;
    }
    // The present actions of the table's rows that need what `need` names.
    std::vector<const CustomActionRow*> Needing(unsigned need) const {
        std::vector<const CustomActionRow*> rows;
        for (const Action& action : kActions)
            if ((action.needs & need) != 0)
                for (const CustomActionRow* row : Present(action.entry))
                    rows.push_back(row);
        return rows;
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
                           "' and the data string as Target (" +
                           Find(row.target.c_str())->setterTarget + "), sequenced between " +
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
                              Find(action.target.c_str())->setterTarget + ".";
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
            const std::string expected = std::string("X") + kDataFields[i].value;
            if (fields[i] == expected)
                continue;
            std::string why;
            if (fields[i] == kEarlierMaintenanceField && i + 1 == kDataFieldCount)
                why = " (the earlier form: a run of the installed product without REINSTALLMODE, "
                      "such as ADDLOCAL=... or REINSTALL=ALL alone, would patch with the command "
                      "line's choices instead of the cached ones)";
            return "field " + std::to_string(i + 1) + " is '" + fields[i] + "', not '" + expected +
                   "'" + why + "." + fix;
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
        auto file = package_.files.find(key);
        if (file == package_.files.end()) {
            *check = "filekey";
            return "names the file key '" + key + "', which the File table lacks. Fix: the " +
                   "File key of the application's configuration file (-D VantorConfigFile=<key>).";
        }
        const std::string name = LongName(file->second.name);
        if (IsApplicationName(name)) {
            *check = "language";
            std::string config;
            for (const auto& [other, row] : package_.files)
                if (Lower(LongName(row.name)) == Lower(name) + ".config")
                    config = other;
            return "names File '" + key + "' (" + name + "), an application, not its " +
                   "configuration file: the action writes its appSettings into that file, and " +
                   "the application no longer starts. Fix: -D VantorConfigFile=" +
                   (config.empty() ? "<File key of " + name + ".config>" : config) + ".";
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

    // A row that calls an entry as the rollback of another action: it has
    // the rollback bit, carries the include's rollback name, or calls from
    // the script an immediate entry that serves as a rollback.
    static bool RollbackUse(const CustomActionRow& row) {
        if ((row.type & kTypeRollback) != 0)
            return true;
        const Action* own = Find(row.target.c_str());
        for (const Action& action : kActions) {
            if (action.rollback.action == nullptr)
                continue;
            if (row.action == action.rollback.action ||
                (row.target == action.rollback.entry && !own->Deferred() && IsInScript(row)))
                return true;
        }
        return false;
    }

    // An action runs where its type says: a deferred one written into the
    // script without impersonation (it writes where only the system may), an
    // immediate one at once, while the script is being built.
    void CheckTypes() {
        for (const CustomActionRow& row : package_.customActions) {
            if (!IsOurs(row) || !Sequenced(row.action) || RollbackUse(row))
                continue;
            const Action& action = *Find(row.target.c_str());
            std::string fault;
            if (action.Deferred() && !IsInScript(row))
                fault = "an immediate action, so it runs at once, while the script is being "
                        "built: before the files it works on are installed, and without "
                        "CustomActionData";
            else if (!action.Deferred() && IsInScript(row))
                fault = "a deferred action, so it runs from the script, where it can read no "
                        "property of the installation and set none";
            else if (action.Deferred() && (row.type & kTypeNoImpersonate) == 0)
                fault = "a deferred action that impersonates the user, so it cannot write where "
                        "only the system may (the program folder, services, drivers)";
            if (fault.empty())
                continue;
            Report("type", Row("CustomAction", row.action) + " (entry " + row.target + "): type " +
                               std::to_string(row.type) + ", " + fault + ". Fix: type " +
                               std::to_string(action.type) + " (" + action.include + " writes " +
                               (action.Deferred() ? "Execute=\"deferred\" Impersonate=\"no\""
                                                  : "Execute=\"immediate\"") +
                               ").");
        }
    }

    // An action that changes the machine while the script is built, or from
    // it, is undone on a failed installation only by a rollback action
    // registered before it, of the rollback type.
    void CheckRollbacks() {
        for (const Action& owner : kActions) {
            if (owner.rollback.action == nullptr)
                continue;
            std::optional<int> first;
            for (const CustomActionRow* row : Present(owner.entry))
                if (std::optional<int> at = PlaceIn(package_.executeSequence, row->action))
                    first = first ? std::min(*first, *at) : *at;
            if (!first)
                continue;
            CheckRollback(owner, *first);
        }
    }

    void CheckRollback(const Action& owner, int place) {
        const Rollback& rollback = owner.rollback;
        bool any = false;
        for (const CustomActionRow& row : package_.customActions) {
            if (!IsOurs(row) || row.target != rollback.entry)
                continue;
            std::optional<int> at = PlaceIn(package_.executeSequence, row.action);
            // A row that calls the entry for its own sake is no rollback: an
            // immediate one after the action (wixl writes a rollback as 2049,
            // an immediate action: one before it is a rollback of the wrong
            // type), or a deferred one of an entry that is deferred itself
            // and that does not carry the rollback's name.
            const bool ownDeferredUse = Find(rollback.entry)->Deferred() &&
                                        (row.type & kTypeRollback) == 0 &&
                                        row.action != rollback.action;
            if (!at || ownDeferredUse || (!IsInScript(row) && *at >= place))
                continue;
            any = true;
            std::vector<std::string> faults;
            if (row.type != rollback.type)
                faults.push_back("type " + std::to_string(row.type) + ", not " +
                                 std::to_string(rollback.type) + " (rollback, no impersonation)");
            if (*at >= place)
                faults.push_back("sequenced at " + std::to_string(*at) + ", not before " +
                                 owner.entry + " (" + std::to_string(place) + ")");
            if (faults.empty())
                continue;
            std::vector<std::string> fixes;
            if (row.type != rollback.type)
                fixes.push_back("type " + std::to_string(rollback.type) +
                                " (vantor-wirecheck --fix makes it for the include's '" +
                                rollback.action + "')");
            if (*at >= place)
                fixes.push_back("a Sequence between InstallInitialize (" +
                                std::to_string(installInitialize_) + ") and " +
                                std::to_string(place));
            Report("rollback", Row("CustomAction", row.action) + " (rollback of " + owner.entry +
                                   "): " + Join(faults, "; ") + ". Fix: " + Join(fixes, ", and ") +
                                   ".");
        }
        if (!any)
            Report("rollback", Row("InstallExecuteSequence", owner.entry) +
                                   ": no rollback action (" + rollback.entry +
                                   ") is sequenced before it, so a failed installation leaves " +
                                   "what it made behind. Fix: a CustomAction of type " +
                                   std::to_string(rollback.type) + " with DllEntry " +
                                   rollback.entry + " sequenced before it (" + owner.include +
                                   ": '" + rollback.action + "' at " +
                                   std::to_string(rollback.execute) + ").");
    }

    void CheckComboBox() {
        std::vector<const CustomActionRow*> rows = Needing(kNeedsComboBoxTable);
        if (rows.empty() || package_.hasComboBoxTable)
            return;
        Report("combobox", Row("CustomAction", Join(Names(rows), "', '")) +
                               ": the package has no ComboBox table, so the combo boxes stay " +
                               "empty. Fix: vantor-wirecheck --fix pkg.msi creates it.");
    }

    void CheckService() {
        std::vector<const CustomActionRow*> rows = Needing(kNeedsAutoLaunchService);
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
        std::vector<const CustomActionRow*> rows = Needing(kNeedsTesselRemoveFile);
        if (rows.empty() || RemovesTessel(package_))
            return;
        Report("removefile", Row("CustomAction", Join(Names(rows), "', '")) +
                                 ": no RemoveFile row for \"" + kTessel +
                                 "\", so removal leaves the copy that the action makes. Fix: " +
                                 "vantor-wirecheck --fix pkg.msi adds it (" + kTessel + " in " +
                                 "HARBORCONFIGDIR, component " + kProfiles + ", on removal).");
    }

    // The profiles: the files of component rondoconfig.
    void CheckProfiles() {
        std::vector<const CustomActionRow*> rows = Needing(kNeedsProfiles);
        if (rows.empty() || package_.componentDirectories.count(kProfiles) != 0)
            return;
        Report("component",
               Row("CustomAction", Join(Names(rows), "', '")) + ": the package has no component '" +
                   kProfiles + "', whose files are the profiles to choose from, so there is " +
                   "nothing to offer or put in place. Fix: a Component '" + kProfiles +
                   "' with the configuration files, in the " + "Directory HARBORCONFIGDIR.");
    }

    // Properties that a user chooses reach the installation's server side
    // (where the execute sequence runs) only when they are listed in
    // SecureCustomProperties.
    void CheckSecureProperties() {
        const SecureList list = SecurePropertiesOf(package_);
        std::optional<std::string> current = PropertyOf(package_, "SecureCustomProperties");
        if (!list.dropped.empty())
            Report("secure",
                   Row("Property", "SecureCustomProperties") + " (" + Quoted(current) + ") lists " +
                       Join(list.dropped, ";") + ", which must never be secure: listed, it " +
                       "reaches the installation from any user's command line, and a standard " +
                       "user's repair could change the recorded choices. Fix: take it out " +
                       "(vantor-wirecheck --fix does).");
        std::vector<std::string> missing, users;
        for (const SecureNeed& need : list.needed) {
            if (std::find(list.kept.begin(), list.kept.end(), need.property) != list.kept.end())
                continue;
            if (std::find(missing.begin(), missing.end(), need.property) == missing.end())
                missing.push_back(need.property);
            if (std::find(users.begin(), users.end(), need.user) == users.end())
                users.push_back(need.user);
        }
        if (missing.empty())
            return;
        Report("secure", Row("Property", "SecureCustomProperties") + " (" + Quoted(current) +
                             ") lacks " + Join(missing, ";") + ", which " + Join(users, ", ") +
                             " rely on: an elevated installation by a user who is no " +
                             "administrator drops them. Fix: add them, separated by \";\" " +
                             "(vantor-wirecheck --fix does, keeping what is listed).");
    }

    void CheckUpgrade() {
        std::vector<const CustomActionRow*> rows = Needing(kNeedsUpgradeRow);
        if (rows.empty())
            return;
        for (const UpgradeRow& row : package_.upgrades)
            if (row.actionProperty == "ACTIONPROPERTY")
                return;
        Report("upgrade", Row("CustomAction", Join(Names(rows), "', '")) +
                              ": no Upgrade row has ActionProperty ACTIONPROPERTY, so the list " +
                              "of older products that the action writes reaches " +
                              "RemoveExistingProducts nowhere. Fix: an Upgrade row with the " +
                              "product's UpgradeCode and ActionProperty 'ACTIONPROPERTY'.");
    }

    // The place of an anchor in a sequence (see Anchor).
    std::optional<int> AnchorPlace(const Sequence& sequence, const Anchor& anchor) const {
        if (anchor.action == nullptr)
            return std::nullopt;
        if (anchor.usual > 0)
            return StandardPlace(sequence, anchor.action, anchor.usual);
        if (anchor.usual < 0)
            return PlaceIn(sequence, anchor.action);
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
        for (const Action& rule : kActions) {
            if (*rule.window.why == '\0')
                continue;
            for (const CustomActionRow* row : Present(rule.entry)) {
                for (const auto& [table, sequence] : sequences) {
                    std::optional<int> place = PlaceIn(*sequence, row->action);
                    if (!place)
                        continue;
                    std::vector<std::string> faults;
                    std::optional<int> lower, upper = AnchorPlace(*sequence, rule.window.before);
                    for (const Anchor& anchor : rule.window.after) {
                        std::optional<int> at = AnchorPlace(*sequence, anchor);
                        if (!at)
                            continue;
                        lower = lower ? std::max(*lower, *at) : *at;
                        if (*place <= *at)
                            faults.push_back(std::string("not after ") + anchor.action + " (" +
                                             std::to_string(*at) + ")");
                    }
                    if (upper && *place >= *upper)
                        faults.push_back(std::string("not before ") + rule.window.before.action +
                                         " (" + std::to_string(*upper) + ")");
                    if (faults.empty())
                        continue;
                    std::string fix = lower && upper ? "between " + std::to_string(*lower) +
                                                           " and " + std::to_string(*upper)
                                      : lower ? "after " + std::to_string(*lower)
                                              : "before " + std::to_string(*upper);
                    Report("place", Row("CustomAction", row->action) + " (entry " + row->target +
                                        ", " + table + " " + std::to_string(*place) +
                                        "): " + Join(faults, ", ") + ": " + rule.window.why +
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

    bool InExecuteSequence(const char* entry) const {
        for (const CustomActionRow* row : Present(entry))
            if (PlaceIn(package_.executeSequence, row->action))
                return true;
        return false;
    }

    // The cache lives as long as the product: every later run takes the
    // recorded folder and choices back (RecallChoices), and a major upgrade
    // carries them to the new release and deletes the old release's cache.
    void CheckLifecycle() {
        std::vector<const CustomActionRow*> cached = Needing(kNeedsRecall);
        if (!cached.empty() && !InExecuteSequence("RecallChoices"))
            Report("lifecycle",
                   Row("CustomAction", Join(Names(cached), "', '")) +
                       ": the choices and the install folder are cached, but no RecallChoices "
                       "runs before CostFinalize, so a repair, a feature change or the removal "
                       "works in the folder its command line gives and takes the profile from "
                       "it: the folder and the profile are not kept for later runs. Fix: "
                       "VantorCache.wxi's RecallChoices (220, both sequences, condition "
                       "Installed).");
        std::vector<const CustomActionRow*> carried = Needing(kNeedsCarryOver);
        if (carried.empty())
            return;
        std::vector<std::string> missing;
        for (const char* entry : {"CarryOverChoices", "ClearReplacedCaches"})
            if (!InExecuteSequence(entry))
                missing.push_back(entry);
        for (const UpgradeRow& upgrade : package_.upgrades) {
            // Attributes bit 2: detection only, nothing is replaced.
            if ((upgrade.attributes & 2) != 0 || missing.empty())
                continue;
            Report("lifecycle",
                   Row("Upgrade", upgrade.actionProperty) +
                       " (a major upgrade; the choices are cached): no " + Join(missing, ", ") +
                       " in InstallExecuteSequence, so the new release " +
                       (missing.front() == std::string("CarryOverChoices")
                            ? "starts from the package's defaults instead of the replaced "
                              "release's choices and folder"
                            : "leaves the replaced release's cache behind") +
                       ". Fix: VantorMajorUpgrade.wxi with VantorCache.wxi (CarryOverChoices at "
                       "215, ClearReplacedCaches at 6610).");
            return;
        }
    }

    // The cache lies below HKLM: a per-user installation cannot write it and
    // every later run of another user would miss it.
    void CheckPerMachine() {
        std::vector<const CustomActionRow*> rows = Needing(kNeedsPerMachine);
        std::optional<std::string> allUsers = PropertyOf(package_, "ALLUSERS");
        if (rows.empty() || allUsers == std::string("1"))
            return;
        Report("allusers", Row("Property", "ALLUSERS") + " (" + Quoted(allUsers) + "): a " +
                               "per-user package, yet " + Join(Names(rows), ", ") +
                               " keep the choices in the machine-wide cache (HKLM\\SOFTWARE\\" +
                               "Vantor Technology): the installation needs elevation it does " +
                               "not ask for, or the cache is written where no later run looks. " +
                               "Fix: InstallScope=\"perMachine\" in the Package element " +
                               "(ALLUSERS=1).");
    }

    // The converters the package offers: CONVERTER_LIST's ids when it sets
    // one, else every converter of the catalogue.
    std::vector<std::int32_t> Offered(bool* listed) const {
        std::optional<std::string> list = PropertyOf(package_, "CONVERTER_LIST");
        *listed = list && !list->empty();
        std::vector<std::int32_t> ids;
        if (*listed) {
            for (const std::string& piece : Split(*list, ','))
                if (!piece.empty())
                    ids.push_back(DecimalId(piece).value_or(0));
            return ids;
        }
        for (std::size_t i = 0; i < vantor::ConverterCatalogueCount; ++i)
            ids.push_back(vantor::ConverterCatalogue[i].id);
        return ids;
    }

    // The package's own default converter: one the catalogue knows and the
    // package offers (CheckChoices refuses anything else, and nothing
    // installs).
    void CheckConverter() {
        std::vector<const CustomActionRow*> rows = Needing(kNeedsKnownConverter);
        std::optional<std::string> value = PropertyOf(package_, "DEFAULT_CONVERTER");
        if (rows.empty() || !value || value->empty())
            return;
        std::optional<std::int32_t> id = DecimalId(*value);
        bool listed = false;
        std::vector<std::int32_t> offered = Offered(&listed);
        std::string fault;
        if (!id || vantor::FindConverter(*id) == nullptr)
            fault = "no converter the catalogue knows";
        else if (std::find(offered.begin(), offered.end(), *id) == offered.end())
            fault = "a converter that this package does not offer (CONVERTER_LIST '" +
                    *PropertyOf(package_, "CONVERTER_LIST") + "')";
        if (fault.empty())
            return;
        std::vector<std::string> choices;
        for (std::int32_t offer : offered)
            if (listed && vantor::FindConverter(offer) != nullptr)
                choices.push_back(std::to_string(offer));
        Report("converter", Row("Property", "DEFAULT_CONVERTER") + " ('" + *value + "'): " + fault +
                                ", so CheckChoices refuses every installation that " +
                                "does not give another (1603). Fix: " +
                                (choices.empty() ? std::string("an id of the README's converter "
                                                               "table")
                                                 : "one of " + Join(choices, ", ")) +
                                ", or no such Property.");
    }

    // The patch record carries the country code of ProductLanguage: a
    // language without one leaves every application unpatched.
    void CheckCountry() {
        std::vector<const CustomActionRow*> rows = Needing(kNeedsCountryCode);
        if (rows.empty())
            return;
        std::optional<std::string> language = PropertyOf(package_, "ProductLanguage");
        std::optional<std::int32_t> lcid = language ? DecimalId(*language) : std::nullopt;
        if (lcid && vantor::FindCountryCode(*lcid) != 0)
            return;
        std::vector<std::string> examples;
        for (std::size_t i = 0; i < vantor::CountryCodeTableCount && examples.size() < 3; ++i)
            examples.push_back(std::to_string(vantor::CountryCodeTable[i].lcid));
        Report("country", Row("Property", "ProductLanguage") + " (" + Quoted(language) +
                              "): no language with a country code, so " + Join(Names(rows), ", ") +
                              " patch nothing (one log line each). " +
                              "Fix: the Product's Language an LCID with a country code (the " +
                              "README's language table), e.g. " + Join(examples, ", ") + ".");
    }

    // The patch actions patch <INSTALLDIR><application>: the product ships
    // that file directly in INSTALLDIR.
    void CheckApplications() {
        for (const Action& action : kActions) {
            if (action.ships != Ships::Application)
                continue;
            for (const CustomActionRow* row : Present(action.entry)) {
                std::vector<std::string> elsewhere;
                bool inPlace = false;
                for (const auto& [key, file] : package_.files) {
                    if (Lower(LongName(file.name)) != Lower(action.file))
                        continue;
                    if (InInstallFolder(package_, file.component))
                        inPlace = true;
                    else
                        elsewhere.push_back(key);
                }
                if (inPlace)
                    continue;
                if (!elsewhere.empty()) {
                    Report("application",
                           Row("File", Join(elsewhere, "', '")) + " (" + action.file + ", for " +
                               row->action + "): installed outside INSTALLDIR, where the action " +
                               "looks for it, so it patches nothing (\"file is missing\"). Fix: " +
                               "its Component directly in the Directory INSTALLDIR.");
                    continue;
                }
                Report("unshipped",
                       Row("CustomAction", row->action) + " (patches " + action.file +
                           "): the product ships no " + action.file + ", so every installation " +
                           "logs that the file is missing. Fix: define only the applications " +
                           "the product ships before " + action.include + " (<?define " +
                           action.define + " = \"yes\" ?> for this one), or ship it.");
            }
        }
    }

    // The driver package runner starts <INSTALLDIR>System\dpinst.exe.
    void CheckDriverPackageTool() {
        std::vector<const CustomActionRow*> rows;
        const char* tool = nullptr;
        for (const Action& action : kActions)
            if (action.ships == Ships::DriverPackageTool)
                for (const CustomActionRow* row : Present(action.entry)) {
                    rows.push_back(row);
                    tool = action.file;
                }
        if (rows.empty())
            return;
        std::vector<std::string> elsewhere;
        for (const auto& [key, file] : package_.files) {
            if (Lower(LongName(file.name)) != Lower(tool))
                continue;
            if (InSystemFolder(package_, file.component))
                return;
            elsewhere.push_back(key);
        }
        std::string row = elsewhere.empty() ? Row("CustomAction", Join(Names(rows), "', '"))
                                            : Row("File", Join(elsewhere, "', '"));
        Report("dpinst", row + ": " +
                             (elsewhere.empty() ? std::string("the product ships no ") + tool
                                                : std::string(tool) + " lies elsewhere") +
                             ", but " + Join(Names(rows), ", ") + " start <INSTALLDIR>System\\" +
                             tool + ", so every run of them fails (1603). Fix: " + tool +
                             " in a Directory named \"System\" directly below INSTALLDIR, with " +
                             "the driver packages beside it.");
    }

    // The engine installs the chosen converter's drivers itself, and registers
    // them so that the removal takes them away, when each drivers feature is
    // off by default and a Condition row turns it on for its converters.
    void CheckDriversFeatures() {
        if (Needing(kNeedsDriversConditions).empty())
            return;
        const int installLevel =
            DecimalId(PropertyOf(package_, "INSTALLLEVEL").value_or("1")).value_or(1);
        bool listed = false;
        std::vector<std::int32_t> offered = Offered(&listed);
        for (const auto& [feature, level] : package_.features) {
            const std::string condition = vantor::DriversFeatureCondition(feature);
            if (condition.empty() || !OffersFeature(offered, feature))
                continue;
            std::vector<std::string> faults, fixes;
            if (level >= 1 && level <= installLevel) {
                faults.push_back("Level " + std::to_string(level) + " installs it by default " +
                                 "(INSTALLLEVEL " + std::to_string(installLevel) +
                                 "), whatever the chosen converter");
                fixes.push_back("a Level above INSTALLLEVEL in its Feature element, e.g. 100");
            }
            bool conditioned = false;
            for (const ConditionRow& row : package_.conditions) {
                if (row.feature != feature)
                    continue;
                if (row.level == 0) {
                    faults.push_back("a Condition row of Level 0 (" + row.condition +
                                     ") disables it once installed, and the product can no "
                                     "longer be removed");
                    fixes.push_back("delete that Condition row");
                } else if (row.level <= installLevel && row.condition == condition) {
                    conditioned = true;
                }
            }
            if (!conditioned) {
                faults.push_back("no Condition row of Level 1 turns it on for its converters, so "
                                 "the chosen converter's drivers come only from an action's "
                                 "request, which a removal may leave behind");
                fixes.push_back("vantor-wirecheck --fix pkg.msi writes the row (" + condition +
                                ")");
            }
            if (faults.empty())
                continue;
            Report("drivers", Row("Feature", feature) + ": " + Join(faults, "; ") +
                                  ". Fix: " + Join(fixes, "; ") + ".");
        }
    }

    static bool OffersFeature(const std::vector<std::int32_t>& offered,
                              const std::string& feature) {
        for (std::int32_t id : offered) {
            const vantor::ConverterInfo* row = vantor::FindConverter(id);
            if (row != nullptr && feature == row->feature)
                return true;
        }
        return false;
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
        const char* const libraries[] = {DllName(Dll::Setup), DllName(Dll::Drivers)};
        for (const CustomActionRow& row : package_.customActions) {
            if ((row.type & kTypeBaseMask) != kTypeDll)
                continue;
            auto it = package_.binaries.find(row.source);
            if (it == package_.binaries.end())
                continue;
            const char* holds = nullptr;
            for (const char* library : libraries)
                if (Lower(it->second) == Lower(library))
                    holds = library;
            if (holds == nullptr || SameText(LibraryOf(row.target), holds))
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
