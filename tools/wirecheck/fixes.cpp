#include "fixes.h"

#include "checks_support.h"
#include "setup/catalogue/catalogue.h"

#include <algorithm>

namespace wirecheck {
namespace {

using namespace vantor::wiring;

// The tables that wixl never makes, as the engine defines them.
constexpr const char kComboBoxTable[] =
    "CREATE TABLE `ComboBox` (`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, `Value` "
    "CHAR(64) NOT NULL, `Text` CHAR(64) LOCALIZABLE PRIMARY KEY `Property`, `Order`)";
constexpr const char kRemoveFileTable[] =
    "CREATE TABLE `RemoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, "
    "`FileName` CHAR(255) LOCALIZABLE, `DirProperty` CHAR(72) NOT NULL, `InstallMode` SHORT NOT "
    "NULL PRIMARY KEY `FileKey`)";
constexpr const char kConditionTable[] =
    "CREATE TABLE `Condition` (`Feature_` CHAR(38) NOT NULL, `Level` SHORT NOT NULL, "
    "`Condition` CHAR(255) PRIMARY KEY `Feature_`, `Level`)";

// RemoveFile's InstallMode: remove the file when the component is removed.
constexpr int kOnRemoval = 2;
// The Level that a drivers feature's condition gives it: installed, as at or
// below every INSTALLLEVEL. Never 0: a condition that disables an installed
// feature orphans it, and the product can no longer be removed.
constexpr int kConditionLevel = 1;

bool AnyNeeds(const Package& package, unsigned need) {
    for (const Action& action : kActions)
        if ((action.needs & need) != 0 && !PresentActions(package, action.entry).empty())
            return true;
    return false;
}

// wixl writes Execute="rollback" as a plain action of the wrong type.
void RollbackTypes(const Package& package, std::vector<Fix>& fixes) {
    for (const Action& action : kActions) {
        const Rollback& rollback = action.rollback;
        if (rollback.action == nullptr)
            continue;
        for (const CustomActionRow& row : package.customActions) {
            if (row.action != rollback.action || row.target != rollback.entry ||
                row.type == rollback.type)
                continue;
            fixes.push_back({"CustomAction '" + row.action + "': type " + std::to_string(row.type) +
                                 " -> " + std::to_string(rollback.type) + " (rollback)",
                             {{"UPDATE `CustomAction` SET `Type` = ? WHERE `Action` = ?",
                               {rollback.type, row.action}}}});
        }
    }
}

void ComboBoxTable(const Package& package, std::vector<Fix>& fixes) {
    if (package.hasComboBoxTable || !AnyNeeds(package, kNeedsComboBoxTable))
        return;
    fixes.push_back({"ComboBox table created", {{kComboBoxTable, {}}}});
}

void TesselRemoval(const Package& package, std::vector<Fix>& fixes) {
    if (!AnyNeeds(package, kNeedsTesselRemoveFile) || RemovesTessel(package))
        return;
    std::string key = "TesselIni";
    for (int n = 2; package.removeFileKeys.count(key) != 0; ++n)
        key = "TesselIni" + std::to_string(n);
    Fix fix{"RemoveFile '" + key + "': tessel.ini in HARBORCONFIGDIR, on removal", {}};
    if (!package.hasRemoveFileTable)
        fix.queries.push_back({kRemoveFileTable, {}});
    fix.queries.push_back({"INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, "
                           "`DirProperty`, `InstallMode`) VALUES (?, ?, ?, ?, ?)",
                           {key, std::string("rondoconfig"), std::string("tessel.ini"),
                            std::string("HARBORCONFIGDIR"), kOnRemoval}});
    fixes.push_back(fix);
}

void SecureProperties(const Package& package, std::vector<Fix>& fixes) {
    const SecureList list = SecurePropertiesOf(package);
    std::vector<std::string> merged = list.kept;
    for (const SecureNeed& need : list.needed)
        if (std::find(merged.begin(), merged.end(), need.property) == merged.end())
            merged.push_back(need.property);
    auto row = package.properties.find("SecureCustomProperties");
    const std::string value = Join(merged, ";");
    const std::string why = list.dropped.empty()
                                ? ""
                                : " (" + Join(list.dropped, " ") +
                                      " taken out: never secure, it lets a repair change the "
                                      "recorded choices)";
    const std::string name = "SecureCustomProperties";
    if (row == package.properties.end()) {
        if (!value.empty())
            fixes.push_back(
                {"Property '" + name + "': '" + value + "' (new row)",
                 {{"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", {name, value}}}});
    } else if (value.empty()) {
        fixes.push_back({"Property '" + name + "': '" + row->second + "' deleted" + why,
                         {{"DELETE FROM `Property` WHERE `Property` = ?", {name}}}});
    } else if (value != row->second) {
        fixes.push_back(
            {"Property '" + name + "': '" + row->second + "' -> '" + value + "'" + why,
             {{"UPDATE `Property` SET `Value` = ? WHERE `Property` = ?", {value, name}}}});
    }
}

// One Condition row per drivers feature of the catalogue that the package
// holds: the engine then installs exactly the chosen converter's drivers,
// and registers them, so that the removal takes them away.
void DriversConditions(const Package& package, std::vector<Fix>& fixes) {
    if (!AnyNeeds(package, kNeedsDriversConditions))
        return;
    bool tableMade = package.hasConditionTable;
    for (const auto& [feature, level] : package.features) {
        (void)level;
        const std::string condition = vantor::DriversFeatureCondition(feature);
        if (condition.empty())
            continue;
        const ConditionRow* existing = nullptr;
        for (const ConditionRow& row : package.conditions)
            if (row.feature == feature && row.level == kConditionLevel)
                existing = &row;
        if (existing != nullptr && existing->condition == condition)
            continue;
        Fix fix;
        if (!tableMade) {
            fix.queries.push_back({kConditionTable, {}});
            tableMade = true;
        }
        if (existing == nullptr) {
            fix.text = "Condition '" + feature + "' (level 1): " + condition + " (new row)";
            fix.queries.push_back({"INSERT INTO `Condition` (`Feature_`, `Level`, `Condition`) "
                                   "VALUES (?, ?, ?)",
                                   {feature, kConditionLevel, condition}});
        } else {
            fix.text = "Condition '" + feature + "' (level 1): '" + existing->condition + "' -> '" +
                       condition + "'";
            fix.queries.push_back({"UPDATE `Condition` SET `Condition` = ? WHERE `Feature_` = ? "
                                   "AND `Level` = ?",
                                   {condition, feature, kConditionLevel}});
        }
        fixes.push_back(fix);
    }
}

} // namespace

std::vector<Fix> PlanFixes(const Package& package) {
    std::vector<Fix> fixes;
    RollbackTypes(package, fixes);
    ComboBoxTable(package, fixes);
    TesselRemoval(package, fixes);
    SecureProperties(package, fixes);
    DriversConditions(package, fixes);
    return fixes;
}

} // namespace wirecheck
