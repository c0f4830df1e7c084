// vantor-tables: prints the reference tables of the library as Markdown, from
// the very tables that VantorSetup is built from (the converter catalogue,
// the culture names, the country codes and the wiring table), so that the
// README's copy cannot drift from the code. tools/tables/readme-tables.sh
// compares the two.
#include "common/wiring.h"
#include "setup/catalogue/catalogue.h"
#include "setup/language/config_language.h"
#include "setup/patch/executable_patcher.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace vantor;

namespace {

const char* PortKindText(std::int32_t kind) {
    switch (kind) {
    case kSerialPort:
        return "serial (`DEFAULT_COM_PORT`)";
    case kParallelPort:
        return "parallel (`DEFAULT_PAR_PORT`)";
    case kUsbPort:
        return "USB";
    case kNoLocalPort:
        return "none";
    default:
        return "?";
    }
}

std::string CodeText(std::int32_t code) {
    return code == 0 ? "—" : std::to_string(code);
}

// The applications whose records take a layout's code, from the wiring table.
std::string ApplicationsOfLayout(int layout) {
    std::string names;
    for (const wiring::Action& action : wiring::kActions)
        if (action.ships == wiring::Ships::Application && action.layout == layout)
            names += (names.empty() ? "" : ", ") + std::string(action.file);
    return names;
}

// What a record of the layout carries for the converter: its code as the
// catalogue has it, after the corrections made when the record is written.
std::string CarriedCode(const ConverterInfo& row, int layout) {
    PatchInfo record{};
    record.converterCode = static_cast<std::uint16_t>(ConverterCode(row, layout));
    ApplyLayoutCorrections(record, layout);
    std::string text = CodeText(record.converterCode);
    if (record.converterCode != ConverterCode(row, layout))
        text += " (catalogue: " + CodeText(ConverterCode(row, layout)) + ")";
    if (record.serialNumber[0] != '\0')
        text += ", serial \"" + std::string(record.serialNumber, strnlen(record.serialNumber, 8)) +
                "\"";
    return text;
}

void Converters() {
    std::vector<const ConverterInfo*> rows;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
        rows.push_back(&ConverterCatalogue[i]);
    std::sort(rows.begin(), rows.end(),
              [](const ConverterInfo* a, const ConverterInfo* b) { return a->id < b->id; });
    // The converters whose record differs from the catalogue's own code.
    std::string corrected;
    for (const ConverterInfo* row : rows)
        for (int layout : {1, 2}) {
            PatchInfo record{};
            record.converterCode = static_cast<std::uint16_t>(ConverterCode(*row, layout));
            ApplyLayoutCorrections(record, layout);
            if (record.converterCode != ConverterCode(*row, layout))
                corrected += (corrected.empty() ? "" : ", ") + std::string("converter ") +
                             std::to_string(row->id) + " carries " +
                             std::to_string(record.converterCode) + " in layout " +
                             std::to_string(layout) + ", not the catalogue's " +
                             std::to_string(ConverterCode(*row, layout));
        }
    std::printf("### Converters\n\n"
                "`CONVERTER_LIST` and `DEFAULT_CONVERTER` take the id. The patch record carries "
                "the layout 1 code\n(%s), the layout 2 code (%s) or the id itself (the "
                "others).\nThe codes shown are those the record carries, corrected as it is "
                "written where the applications\nknow a converter by another code (%s); the "
                "catalogue's own code follows in brackets.\n— means that layout has no code "
                "for the converter: the record then carries 0.\n\n",
                ApplicationsOfLayout(1).c_str(), ApplicationsOfLayout(2).c_str(),
                corrected.c_str());
    std::printf("| Id | Name | Port | Layout 1 code | Layout 2 code | Drivers feature |\n");
    std::printf("|---:|---|---|---:|---:|---|\n");
    for (const ConverterInfo* row : rows)
        std::printf("| %d | %s | %s | %s | %s | %s |\n", row->id, row->displayName,
                    PortKindText(row->portKind), CarriedCode(*row, 1).c_str(),
                    CarriedCode(*row, 2).c_str(),
                    *row->feature ? ("`" + std::string(row->feature) + "`").c_str() : "—");
}

void Features() {
    std::map<std::string, std::vector<std::int32_t>> ids;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
        if (*ConverterCatalogue[i].feature)
            ids[ConverterCatalogue[i].feature].push_back(ConverterCatalogue[i].id);
    std::printf("\n### Drivers features\n\n"
                "The package's Feature table needs each feature of the converters it offers, "
                "with a Level above\nINSTALLLEVEL (off by default). `vantor-wirecheck --fix` "
                "gives each drivers feature of the package\nits Condition row of Level 1, so "
                "that the engine installs exactly the chosen converter's drivers\nand takes "
                "them away on removal.\n\n");
    std::printf("| Feature | Converter ids | Condition (Level 1) |\n|---|---|---|\n");
    for (auto& [feature, list] : ids) {
        std::sort(list.begin(), list.end());
        std::string text;
        for (std::int32_t id : list)
            text += (text.empty() ? "" : ", ") + std::to_string(id);
        std::printf("| `%s` | %s | `%s` |\n", feature.c_str(), text.c_str(),
                    DriversFeatureCondition(feature).c_str());
    }
}

void Languages() {
    std::map<std::int32_t, std::pair<const char*, int>> byLcid; // culture, country code
    for (std::size_t i = 0; i < CultureTableCount; ++i)
        byLcid[CultureTable[i].lcid] = {CultureTable[i].name, 0};
    for (std::size_t i = 0; i < CountryCodeTableCount; ++i) {
        auto& entry = byLcid[CountryCodeTable[i].lcid];
        entry.second = CountryCodeTable[i].code;
    }
    std::printf("\n### Languages\n\n"
                "`ProductLanguage` (and the LCID of `SetConfigLanguage`'s data). The culture "
                "name is what\n`SetConfigLanguage` writes (an LCID without one answers 13); "
                "the country code is what the\npatch actions write (an LCID without one "
                "leaves the applications as shipped).\n\n");
    std::printf("| LCID | Culture name | Country code |\n|---:|---|---:|\n");
    for (const auto& [lcid, entry] : byLcid)
        std::printf("| %d | %s | %s |\n", lcid, entry.first ? entry.first : "—",
                    entry.second ? std::to_string(entry.second).c_str() : "—");
}

// A table cell: "|" would end it.
std::string Cell(const std::string& text) {
    std::string cell;
    for (char c : text)
        cell += c == '|' ? std::string("\\|") : std::string(1, c);
    return cell.empty() ? "—" : cell;
}

std::string Code(const std::string& text) {
    return text.empty() ? "" : "`" + text + "`";
}

std::string TypeText(const wiring::Action& action) {
    std::string kind = action.Deferred() ? "deferred" : "immediate";
    if (action.type & wiring::kTypeContinue)
        kind += ", result ignored";
    return kind + " (" + std::to_string(action.type) + ")";
}

std::string PlaceText(int number, const char* condition) {
    if (number == 0)
        return "";
    return std::to_string(number) + (*condition ? " " + Code(condition) : "");
}

std::string AnchorText(const wiring::Anchor& anchor) {
    return anchor.action ? anchor.action : "";
}

std::string WindowText(const wiring::Action& action) {
    if (action.Deferred())
        return "InstallInitialize < n < InstallFinalize";
    const wiring::Window& window = action.window;
    if (*window.why == '\0')
        return "";
    std::string after;
    for (const wiring::Anchor& anchor : window.after)
        if (anchor.action)
            after += (after.empty() ? "" : ", ") + AnchorText(anchor);
    std::string text = after.empty() ? "" : "after " + after;
    if (window.before.action)
        text += (text.empty() ? "" : "; ") + std::string("before ") + AnchorText(window.before);
    return text;
}

std::string DataText(const wiring::Action& action) {
    switch (action.data) {
    case wiring::Data::EightFields:
        return "the eight fields, `Set" + std::string(action.entry) + "` (" +
               std::to_string(action.setterPlace) + ") = " + Code(action.setterTarget);
    case wiring::Data::FileAndLanguage:
    case wiring::Data::OnePath:
        return "`Set" + std::string(action.entry) + "` (" + std::to_string(action.setterPlace) +
               ") = " + Code(action.setterTarget);
    case wiring::Data::None:
        break;
    }
    return "";
}

std::string SecureText(const wiring::Action& action) {
    std::string text = *action.secure ? std::string(action.secure) : "";
    for (char& c : text)
        if (c == ';')
            c = ' ';
    if (*action.neverSecure)
        text += (text.empty() ? "" : "; ") + std::string("never ") + action.neverSecure;
    return text;
}

std::string RollbackText(const wiring::Action& action) {
    const wiring::Rollback& rollback = action.rollback;
    if (rollback.action == nullptr)
        return "";
    return "`" + std::string(rollback.action) + "` (" + rollback.entry + ", " +
           std::to_string(rollback.type) + ", " + PlaceText(rollback.execute, rollback.condition) +
           ")";
}

std::string NeedsText(const wiring::Action& action) {
    std::vector<std::string> needs;
    switch (action.ships) {
    case wiring::Ships::Application:
        needs.push_back(std::string(action.file) + " in `INSTALLDIR` (record layout " +
                        std::to_string(action.layout) + ")");
        break;
    case wiring::Ships::DriverPackageTool:
        needs.push_back(std::string("`System\\") + action.file + "` below `INSTALLDIR`");
        break;
    case wiring::Ships::ConfigurationFile:
        needs.push_back("the configuration file that `VantorConfigFile` names, no application");
        break;
    case wiring::Ships::KernelDriver:
        needs.push_back(std::string(action.file) + " in System32\\drivers");
        break;
    case wiring::Ships::Nothing:
        break;
    }
    const std::pair<unsigned, const char*> bits[] = {
        {wiring::kNeedsPerMachine, "a per-machine package (`ALLUSERS` 1)"},
        {wiring::kNeedsRecall, "`RecallChoices`"},
        {wiring::kNeedsCarryOver, "with a major upgrade `CarryOverChoices`, `ClearReplacedCaches`"},
        {wiring::kNeedsComboBoxTable, "the ComboBox table (fix)"},
        {wiring::kNeedsTesselRemoveFile, "a RemoveFile row of tessel.ini (fix)"},
        {wiring::kNeedsProfiles, "component `rondoconfig`"},
        {wiring::kNeedsAutoLaunchService, "a ServiceInstall of \"Vantor Auto Launch Service\""},
        {wiring::kNeedsUpgradeRow, "an Upgrade row of `ACTIONPROPERTY`"},
        {wiring::kNeedsDriversConditions,
         "drivers features above `INSTALLLEVEL`, each with its Condition row (fix)"},
        {wiring::kNeedsKnownConverter, "a `DEFAULT_CONVERTER` of the catalogue that it offers"},
        {wiring::kNeedsCountryCode, "a `ProductLanguage` with a country code"},
    };
    for (const auto& [bit, text] : bits)
        if (action.needs & bit)
            needs.push_back(text);
    std::string joined;
    for (const std::string& need : needs)
        joined += (joined.empty() ? "" : "; ") + need;
    return joined;
}

void Wiring() {
    std::string layout;
    for (const wiring::DataField& field : wiring::kDataFields)
        layout += (layout.empty() ? "X" : "|X") + std::string(field.value);
    std::printf("\n### Wiring\n\n"
                "How the includes wire in each export, what `vantor-wirecheck` checks and "
                "`--fix` makes (\"fix\").\nDeferred actions read only `CustomActionData`; "
                "the patch actions and the driver package runner\ntake eight fields, each "
                "value behind an \"X\" so that an empty one keeps its place, formatted once\n"
                "by `%s` (%d) into `%s`:\n\n```\n%s\n```\n\n",
                wiring::kSharedDataSetter, wiring::kSharedDataPlace, wiring::kSharedData,
                layout.c_str());
    std::printf("| Action | DLL | Type | Include | Execute sequence | UI sequence | Window | Data "
                "| Secure | Rollback | The package and the product need |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const wiring::Action& action : wiring::kActions) {
        std::string include = Code(action.include);
        if (*action.define)
            include += " (" + Code(action.define) + ")";
        std::printf("| `%s` | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", action.entry,
                    wiring::DllName(action.dll), TypeText(action).c_str(), Cell(include).c_str(),
                    Cell(PlaceText(action.place.execute, action.place.condition)).c_str(),
                    Cell(PlaceText(action.place.ui, action.place.condition)).c_str(),
                    Cell(WindowText(action)).c_str(), Cell(DataText(action)).c_str(),
                    Cell(SecureText(action)).c_str(), Cell(RollbackText(action)).c_str(),
                    Cell(NeedsText(action)).c_str());
    }
}

} // namespace

int main() {
    Converters();
    Features();
    Languages();
    Wiring();
    return 0;
}
