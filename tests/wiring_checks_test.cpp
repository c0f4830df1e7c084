// The package wiring checks and the fixes they call for, on packages made
// here row by row: a package wired as the includes wire it passes clean and
// needs no fix, and each change on the edge of one of the checker's rules
// gives exactly the findings named, each naming the row, or the fixes named.
#include "tools/wirecheck/fixes.h"
#include "tools/wirecheck/package.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace wirecheck;

namespace {

constexpr int kSetter = kTypeSetProperty;
constexpr int kImmediate = kTypeDll;
constexpr int kDeferred = kTypeDll | kTypeInScript | kTypeNoImpersonate; // 3073
constexpr int kRollback = kDeferred | kTypeRollback;                     // 3329
constexpr int kWixlRollback = kTypeDll | kTypeNoImpersonate;             // 2049, immediate
constexpr int kImpersonated = kTypeDll | kTypeInScript;                  // 1025

// The deferred actions' data string as the includes hand it on, so that the
// checker is held to what the product's own packages carry.
std::string DataLayout() {
    std::ifstream in(std::string(VANTOR_SOURCE_DIR) + "/package/VantorBase.wxi");
    std::stringstream text;
    text << in.rdbuf();
    static const std::regex define("<\\?define VantorDeferredDataLayout = \"([^\"]*)\" \\?>");
    std::smatch m;
    const std::string all = text.str();
    return std::regex_search(all, m, define) ? m[1].str() : std::string();
}

// The data string without its last field, and with one field replaced.
std::string WithoutLastField(const std::string& layout) {
    return layout.substr(0, layout.rfind('|'));
}
std::string WithField(const std::string& layout, std::size_t index, const std::string& field) {
    std::vector<std::string> fields;
    std::stringstream in(layout);
    for (std::string f; std::getline(in, f, '|');)
        fields.push_back(f);
    fields.at(index) = field;
    std::string joined;
    for (const std::string& f : fields)
        joined += (joined.empty() ? "" : "|") + f;
    return joined;
}

void Add(Package& p, const std::string& action, int type, const std::string& source,
         const std::string& target, int place) {
    p.customActions.push_back({action, type, source, target});
    p.executeSequence[action] = place;
}

CustomActionRow& RowOf(Package& p, const std::string& action) {
    for (CustomActionRow& row : p.customActions)
        if (row.action == action)
            return row;
    throw std::logic_error("no such action in the test package: " + action);
}

// The actions and their rows, gone from the package.
void Drop(Package& p, std::initializer_list<const char*> actions) {
    for (const char* action : actions) {
        p.customActions.erase(
            std::remove_if(p.customActions.begin(), p.customActions.end(),
                           [action](const CustomActionRow& row) { return row.action == action; }),
            p.customActions.end());
        p.executeSequence.erase(action);
        p.uiSequence.erase(action);
    }
}

// A package wired as the includes wire it: the shared data string with a
// patch action and the driver package runner, the language, the harbor
// configuration, and the registry cache with its rollback.
Package Wired() {
    Package p;
    p.executeSequence = {
        {"CostFinalize", 1000}, {"InstallInitialize", 1500}, {"InstallFinalize", 6600}};
    p.binaries = {{"VantorSetup", "VantorSetup.dll"}, {"VantorDrivers", "VantorDrivers.dll"}};
    Add(p, "SetVantorDeferredData", kSetter, "VANTOR_DEFERRED_DATA", DataLayout(), 1010);
    Add(p, "SetRondoApplyPatchInfo", kSetter, "RondoApplyPatchInfo", "[VANTOR_DEFERRED_DATA]",
        1020);
    Add(p, "SetDIFxInstall", kSetter, "DIFxInstall", "[VANTOR_DEFERRED_DATA]", 1030);
    Add(p, "SetSetConfigLanguage", kSetter, "SetConfigLanguage",
        "[#LoggerConfig]|[ProductLanguage]", 1040);
    Add(p, "SetConfigureHarbor", kSetter, "ConfigureHarbor",
        "[HARBORCONFIGDIR][DEFAULT_HARBOR_CONFIG]", 1050);
    Add(p, "CachePropertiesRollback", kRollback, "VantorSetup", "ClearPropertiesCache", 1505);
    Add(p, "CacheProperties", kImmediate, "VantorSetup", "CacheProperties", 1510);
    Add(p, "ClearPropertiesCache", kImmediate, "VantorSetup", "ClearPropertiesCache", 1520);
    Add(p, "RondoApplyPatchInfo", kDeferred, "VantorSetup", "RondoApplyPatchInfo", 4010);
    Add(p, "DIFxInstall", kDeferred, "VantorDrivers", "DIFxInstall", 4020);
    Add(p, "SetConfigLanguage", kDeferred, "VantorSetup", "SetConfigLanguage", 4030);
    Add(p, "ConfigureHarbor", kDeferred, "VantorSetup", "ConfigureHarbor", 4200);
    Add(p, "RecallChoices", kImmediate, "VantorSetup", "RecallChoices", 220);
    p.uiSequence["RecallChoices"] = 220;
    // The product: the application and its configuration file in INSTALLDIR,
    // dpinst.exe in System below it, the profiles in HARBORCONFIGDIR.
    p.directories = {{"TARGETDIR", {"", "SourceDir"}},
                     {"ProgramFiles64Folder", {"TARGETDIR", "."}},
                     {"INSTALLDIR", {"ProgramFiles64Folder", "WIRING~1|Wiring Check"}},
                     {"VantorSystemFolder", {"INSTALLDIR", "System"}},
                     {"HARBORCONFIGDIR", {"INSTALLDIR", "Harbor"}}};
    p.componentDirectories = {{"Application", "INSTALLDIR"},
                              {"DriverPackageTool", "VantorSystemFolder"},
                              {"rondoconfig", "HARBORCONFIGDIR"}};
    p.files = {{"LoggerConfig", {"Application", "RONDO3~1.CON|rondo32.exe.config"}},
               {"Rondo", {"Application", "rondo32.exe"}},
               {"DriverPackageTool", {"DriverPackageTool", "dpinst.exe"}},
               {"HarborConfig", {"rondoconfig", "HARBOR~1.INI|harbor.cfg.ini"}}};
    p.removeFileNames = {"TESSEL~1.INI|tessel.ini"};
    p.removeFileKeys = {"TesselIni"};
    p.hasRemoveFileTable = true;
    p.properties["SecureCustomProperties"] = "DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;"
                                             "SERIAL_NUMBER;INSTALLDIR;DEFAULT_HARBOR_CONFIG";
    p.properties["ProductLanguage"] = "1033";
    p.properties["ALLUSERS"] = "1";
    return p;
}

// The drivers features of the converters 81 and 3000 as the includes and
// the fixes wire them: off by default, each with its Condition row, and
// SelectDriversFeature after CostFinalize.
void WithDriversFeatures(Package& p) {
    Add(p, "SelectDriversFeature", kImmediate, "VantorSetup", "SelectDriversFeature", 1005);
    p.properties["CONVERTER_LIST"] = "81,3000,7";
    p.features = {{"Main", 1}, {"Drivers_UL81", 100}, {"Drivers_US3000", 100}};
    p.hasConditionTable = true;
    p.conditions = {{"Drivers_UL81", 1, "DEFAULT_CONVERTER=81"},
                    {"Drivers_US3000", 1, "DEFAULT_CONVERTER=3000"}};
}

// The major upgrade with the cache: the Upgrade rows, FrobMajorUpgrade,
// CarryOverChoices and ClearReplacedCaches as VantorMajorUpgrade.wxi places them.
void WithMajorUpgrade(Package& p) {
    Add(p, "FrobMajorUpgrade", kImmediate, "VantorSetup", "FrobMajorUpgrade", 210);
    Add(p, "CarryOverChoices", kImmediate, "VantorSetup", "CarryOverChoices", 215);
    Add(p, "ClearReplacedCaches", kImmediate, "VantorSetup", "ClearReplacedCaches", 6610);
    p.executeSequence["FindRelatedProducts"] = 200;
    p.executeSequence["LaunchConditions"] = 205;
    p.executeSequence["RemoveExistingProducts"] = 1501;
    p.upgrades = {{"ACTIONPROPERTY", 256}, {"NEWERVERSIONDETECTED", 2}};
    p.properties["SecureCustomProperties"] += ";ACTIONPROPERTY;NEWERVERSIONDETECTED";
}

// The kernel driver "kappa" as VantorKernelDrivers.wxi wires it.
void WithKappaDriver(Package& p) {
    Add(p, "UninstallKappaSys", kDeferred, "VantorSetup", "UninstallKappaSys", 1720);
    Add(p, "InstallKappaSysRollback", kRollback, "VantorSetup", "UninstallKappaSys", 4400);
    Add(p, "InstallKappaSys", kDeferred, "VantorSetup", "InstallKappaSys", 4410);
}

std::string Describe(const std::vector<Finding>& findings) {
    std::string text;
    for (const Finding& f : findings)
        text += "\n  " + f.check + ": " + f.text;
    return text.empty() ? " none" : text;
}

TEST(WiringChecks, TheIncludesDataStringHasEightFields) {
    const std::string layout = DataLayout();
    ASSERT_EQ(std::count(layout.begin(), layout.end(), '|'), 7) << "'" << layout << "'";
    EXPECT_EQ(layout.rfind("X[INSTALLDIR]|", 0), 0u) << layout;
    std::string table;
    for (const vantor::wiring::DataField& field : vantor::wiring::kDataFields)
        table += (table.empty() ? "X" : "|X") + std::string(field.value);
    EXPECT_EQ(layout, table) << "VantorBase.wxi and common/wiring.h differ";
}

TEST(WiringChecks, FindingsOnEachEdgeOfTheRules) {
    const std::string layout = DataLayout();
    // Each change to Wired(), the check of every finding it must give (in
    // any order), and the row that each of them names.
    struct Case {
        const char* what;
        std::function<void(Package&)> change;
        std::vector<std::string> checks;
        const char* row;
    };
    const auto place = [](const char* action, int at) {
        return [action, at](Package& p) { p.executeSequence[action] = at; };
    };
    const auto both = [](std::function<void(Package&)> a, std::function<void(Package&)> b) {
        return [a, b](Package& p) {
            a(p);
            b(p);
        };
    };
    const auto target = [](const char* action, std::string value) {
        return [action, value](Package& p) { RowOf(p, action).target = value; };
    };
    const auto type = [](const char* action, int value) {
        return [action, value](Package& p) { RowOf(p, action).type = value; };
    };
    const auto secure = [](const char* value) {
        return [value](Package& p) { p.properties["SecureCustomProperties"] = value; };
    };
    const char* const kAllSecure = "DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;"
                                   "SERIAL_NUMBER;INSTALLDIR;DEFAULT_HARBOR_CONFIG";
    const char* const kPatch = "CustomAction 'RondoApplyPatchInfo'";
    const char* const kShared = "CustomAction 'SetVantorDeferredData'";
    const char* const kLanguage = "CustomAction 'SetSetConfigLanguage'";
    const char* const kHarbor = "CustomAction 'SetConfigureHarbor'";
    const char* const kCacheRollback = "CustomAction 'CachePropertiesRollback'";
    const char* const kSecure = "Property 'SecureCustomProperties'";

    const Case cases[] = {
        {"as the includes wire it", [](Package&) {}, {}, nullptr},

        // A deferred action runs only strictly between InstallInitialize and
        // InstallFinalize: on either one's own number the engine may run it
        // before or after the standard action.
        {"deferred one before InstallInitialize", place("RondoApplyPatchInfo", 1499), {"window"},
         kPatch},
        {"deferred on InstallInitialize's number", place("RondoApplyPatchInfo", 1500), {"window"},
         kPatch},
        {"deferred one after InstallInitialize", place("RondoApplyPatchInfo", 1501), {}, nullptr},
        {"deferred one before InstallFinalize", place("RondoApplyPatchInfo", 6599), {}, nullptr},
        {"deferred on InstallFinalize's number", place("RondoApplyPatchInfo", 6600), {"window"},
         kPatch},
        {"deferred one after InstallFinalize", place("RondoApplyPatchInfo", 6601), {"window"},
         kPatch},
        {"InstallInitialize at 1400, deferred at 1401",
         both(place("InstallInitialize", 1400), place("RondoApplyPatchInfo", 1401)), {}, nullptr},
        {"InstallInitialize at 1400, deferred at 1400",
         both(place("InstallInitialize", 1400), place("RondoApplyPatchInfo", 1400)), {"window"},
         kPatch},
        {"InstallFinalize at 6500, deferred at 6499",
         both(place("InstallFinalize", 6500), place("RondoApplyPatchInfo", 6499)), {}, nullptr},
        {"InstallFinalize at 6500, deferred at 6500",
         both(place("InstallFinalize", 6500), place("RondoApplyPatchInfo", 6500)), {"window"},
         kPatch},
        {"no InstallInitialize row: its usual 1500 counts",
         both([](Package& p) { p.executeSequence.erase("InstallInitialize"); },
              place("RondoApplyPatchInfo", 1500)),
         {"window"}, kPatch},
        {"rollback action before InstallInitialize", place("CachePropertiesRollback", 1499),
         {"window"}, kCacheRollback},
        {"deferred also in the UI sequence",
         [](Package& p) { p.uiSequence["RondoApplyPatchInfo"] = 1300; }, {"window"}, kPatch},

        // The data setter runs after CostFinalize and before its action.
        {"setter on CostFinalize's number",
         both(target("SetRondoApplyPatchInfo", layout), place("SetRondoApplyPatchInfo", 1000)),
         {"setter"}, kPatch},
        {"setter one after CostFinalize",
         both(target("SetRondoApplyPatchInfo", layout), place("SetRondoApplyPatchInfo", 1001)),
         {}, nullptr},
        {"setter one before its action",
         both(target("SetRondoApplyPatchInfo", layout), place("SetRondoApplyPatchInfo", 4009)),
         {}, nullptr},
        {"setter on its action's number",
         both(target("SetRondoApplyPatchInfo", layout), place("SetRondoApplyPatchInfo", 4010)),
         {"setter"}, kPatch},
        {"CostFinalize at 1005, setter at 1005",
         both(place("CostFinalize", 1005),
              both(target("SetRondoApplyPatchInfo", layout), place("SetRondoApplyPatchInfo", 1005))),
         {"setter"}, kPatch},
        {"CostFinalize at 1005, setter at 1006",
         both(place("CostFinalize", 1005),
              both(target("SetRondoApplyPatchInfo", layout), place("SetRondoApplyPatchInfo", 1006))),
         {}, nullptr},
        {"setter not sequenced",
         [](Package& p) { p.executeSequence.erase("SetRondoApplyPatchInfo"); }, {"setter"},
         kPatch},
        {"no setter", [](Package& p) { Drop(p, {"SetRondoApplyPatchInfo"}); }, {"setter"}, kPatch},
        {"a stray second setter besides the one in place",
         [](Package& p) { Add(p, "EarlySetter", kSetter, "RondoApplyPatchInfo", "X", 900); }, {},
         nullptr},

        // A setter that names one property hands on that property's value as
        // set strictly before it, else the Property table's.
        {"shared data set one before the setter", place("SetVantorDeferredData", 1019), {},
         nullptr},
        {"shared data set on the setter's number", place("SetVantorDeferredData", 1020),
         {"layout"}, "CustomAction 'SetRondoApplyPatchInfo'"},
        {"shared data in the Property table only",
         [layout](Package& p) {
             Drop(p, {"SetVantorDeferredData"});
             p.properties["VANTOR_DEFERRED_DATA"] = layout;
         },
         {}, nullptr},
        {"shared data of seven fields in the Property table",
         [layout](Package& p) {
             Drop(p, {"SetVantorDeferredData"});
             p.properties["VANTOR_DEFERRED_DATA"] = WithoutLastField(layout);
         },
         {"layout"}, "Property 'VANTOR_DEFERRED_DATA'"},
        {"a one-letter property named by the setter",
         [layout](Package& p) {
             RowOf(p, "SetDIFxInstall").target = "[D]";
             p.properties["D"] = layout;
         },
         {}, nullptr},

        // The eight fields, each in its place: one holder, one finding for
        // both actions that read it.
        {"seven fields", target("SetVantorDeferredData", WithoutLastField(layout)), {"layout"},
         kShared},
        {"nine fields: the eight and one more", target("SetVantorDeferredData", layout + "|X"),
         {"layout"}, kShared},
        {"nine fields: a separator after the eighth", target("SetVantorDeferredData", layout + "|"),
         {"layout"}, kShared},
        {"first field another property",
         target("SetVantorDeferredData", WithField(layout, 0, "X[TARGETDIR]")), {"layout"},
         kShared},
        {"eighth field another property",
         target("SetVantorDeferredData", WithField(layout, 7, "X[Installed]")), {"layout"},
         kShared},
        {"fields without their X", target("SetVantorDeferredData", WithField(layout, 3, "[DEFAULT_PAR_PORT]")),
         {"layout"}, kShared},
        {"empty data string", target("SetVantorDeferredData", ""), {"layout"}, kShared},

        // The language action's "[#FileKey]|[ProductLanguage]".
        {"one-letter file key",
         both(target("SetSetConfigLanguage", "[#K]|[ProductLanguage]"),
              [](Package& p) { p.files["K"] = {"Application", "rondo32.exe.config"}; }),
         {}, nullptr},
        {"empty file key", target("SetSetConfigLanguage", "[#]|[ProductLanguage]"), {"layout"},
         kLanguage},
        {"file key the File table lacks",
         target("SetSetConfigLanguage", "[#Missing]|[ProductLanguage]"), {"filekey"}, kLanguage},
        {"language data with a third field",
         target("SetSetConfigLanguage", "[#LoggerConfig]|[ProductLanguage]|X"), {"layout"},
         kLanguage},

        // The harbor action's one path, and the removal of its copy.
        {"harbor path with a separator",
         target("SetConfigureHarbor", "[HARBORCONFIGDIR]|[DEFAULT_HARBOR_CONFIG]"), {"layout"},
         kHarbor},
        {"harbor path empty", target("SetConfigureHarbor", ""), {"layout"}, kHarbor},
        {"RemoveFile row with the long name alone",
         [](Package& p) { p.removeFileNames = {"tessel.ini"}; }, {}, nullptr},
        {"RemoveFile row in capitals", [](Package& p) { p.removeFileNames = {"TESSEL.INI"}; }, {},
         nullptr},
        {"RemoveFile row whose long name is another file",
         [](Package& p) { p.removeFileNames = {"tessel.ini|tessel.bak"}; }, {"removefile"},
         "CustomAction 'ConfigureHarbor'"},
        {"no RemoveFile row", [](Package& p) { p.removeFileNames.clear(); }, {"removefile"},
         "CustomAction 'ConfigureHarbor'"},

        // CacheProperties' rollback: type 3329, strictly before the first
        // CacheProperties.
        {"rollback one before CacheProperties", place("CachePropertiesRollback", 1509), {},
         nullptr},
        {"rollback on CacheProperties' number", place("CachePropertiesRollback", 1510),
         {"rollback"}, kCacheRollback},
        {"rollback after a first CacheProperties",
         [](Package& p) { Add(p, "CachePropertiesEarly", kImmediate, "VantorSetup",
                              "CacheProperties", 1504); },
         {"rollback"}, kCacheRollback},
        {"rollback of a deferred action's type", type("CachePropertiesRollback", kDeferred),
         {"rollback"}, kCacheRollback},
        {"rollback as wixl writes it, one before CacheProperties",
         both(type("CachePropertiesRollback", kWixlRollback),
              place("CachePropertiesRollback", 1509)),
         {"rollback"}, kCacheRollback},
        {"immediate ClearPropertiesCache on CacheProperties' number is no rollback",
         both(type("CachePropertiesRollback", kWixlRollback),
              place("CachePropertiesRollback", 1510)),
         {"rollback"}, "InstallExecuteSequence 'CacheProperties'"},
        {"no rollback", [](Package& p) { Drop(p, {"CachePropertiesRollback"}); }, {"rollback"},
         "InstallExecuteSequence 'CacheProperties'"},

        // SecureCustomProperties: each choice a present action relies on.
        {"secure list with a separator after the last", secure("INSTALLDIR;DEFAULT_CONVERTER;"
                                                               "DEFAULT_PAR_PORT;DEFAULT_COM_PORT;"
                                                               "SERIAL_NUMBER;DEFAULT_HARBOR_CONFIG;"),
         {}, nullptr},
        {"secure list without INSTALLDIR", secure("DEFAULT_CONVERTER;DEFAULT_PAR_PORT;"
                                                  "DEFAULT_COM_PORT;SERIAL_NUMBER;"
                                                  "DEFAULT_HARBOR_CONFIG"),
         {"secure"}, kSecure},
        {"secure list without DEFAULT_HARBOR_CONFIG", secure("DEFAULT_CONVERTER;DEFAULT_PAR_PORT;"
                                                             "DEFAULT_COM_PORT;SERIAL_NUMBER;"
                                                             "INSTALLDIR"),
         {"secure"}, kSecure},
        {"no secure list", [](Package& p) { p.properties.erase("SecureCustomProperties"); },
         {"secure"}, kSecure},
        {"the driver package runner alone needs INSTALLDIR alone",
         both(secure("INSTALLDIR"),
              [](Package& p) {
                  Drop(p, {"SetRondoApplyPatchInfo", "RondoApplyPatchInfo", "SetConfigureHarbor",
                           "ConfigureHarbor", "CachePropertiesRollback", "CacheProperties",
                           "ClearPropertiesCache"});
              }),
         {}, nullptr},
        {"the driver package runner without INSTALLDIR secure",
         both(secure(""),
              [](Package& p) {
                  Drop(p, {"SetRondoApplyPatchInfo", "RondoApplyPatchInfo", "SetConfigureHarbor",
                           "ConfigureHarbor", "CachePropertiesRollback", "CacheProperties",
                           "ClearPropertiesCache"});
              }),
         {"secure"}, kSecure},

        // Rules about an action apply when either sequence runs it.
        {"auto-launch action without its service",
         [](Package& p) {
             Add(p, "StartVantorAutoLauchService", kDeferred, "VantorSetup",
                 "StartVantorAutoLauchService", 5910);
         },
         {"service"}, "CustomAction 'StartVantorAutoLauchService'"},
        {"auto-launch action with its service",
         [](Package& p) {
             Add(p, "StartVantorAutoLauchService", kDeferred, "VantorSetup",
                 "StartVantorAutoLauchService", 5910);
             p.serviceInstallNames = {"Vantor Auto Launch Service"};
         },
         {}, nullptr},
        {"auto-launch action defined, never sequenced",
         [](Package& p) {
             p.customActions.push_back({"StartVantorAutoLauchService", kDeferred, "VantorSetup",
                                        "StartVantorAutoLauchService"});
         },
         {}, nullptr},
        {"combo box action in the UI sequence without a ComboBox table",
         [](Package& p) {
             p.customActions.push_back(
                 {"AppendComboBox", kImmediate, "VantorSetup", "AppendComboBox"});
             p.uiSequence["AppendComboBox"] = 1090;
         },
         {"combobox"}, "CustomAction 'AppendComboBox'"},
        {"FrobMajorUpgrade without its Upgrade row or secure ACTIONPROPERTY",
         [](Package& p) {
             Add(p, "FrobMajorUpgrade", kImmediate, "VantorSetup", "FrobMajorUpgrade", 210);
         },
         {"secure", "upgrade"}, nullptr},
        {"FrobMajorUpgrade with both, and the upgrade's lifecycle",
         [kAllSecure](Package& p) {
             WithMajorUpgrade(p);
             p.properties["SecureCustomProperties"] =
                 std::string(kAllSecure) + ";ACTIONPROPERTY;NEWERVERSIONDETECTED";
         },
         {}, nullptr},
        {"Binary row missing", [](Package& p) { p.binaries.erase("VantorDrivers"); }, {"binary"},
         "Binary 'VantorDrivers'"},
        {"entry of the other library", [](Package& p) { RowOf(p, "DIFxInstall").source = "VantorSetup"; },
         {"entry"}, "CustomAction 'DIFxInstall'"},
        {"the library's own name in other capitals",
         [](Package& p) { p.binaries["VantorSetup"] = "VANTORSETUP.DLL"; }, {}, nullptr},

        // The language action's file: a configuration file, not an application.
        {"language data naming the application",
         target("SetSetConfigLanguage", "[#Rondo]|[ProductLanguage]"), {"language"}, kLanguage},
        {"language data naming an application in capitals",
         both(target("SetSetConfigLanguage", "[#Big]|[ProductLanguage]"),
              [](Package& p) { p.files["Big"] = {"Application", "RONDO~1.EXE|RONDO.EXE"}; }),
         {"language"}, kLanguage},
        {"language data naming a configuration file of an application's name",
         both(target("SetSetConfigLanguage", "[#Conf]|[ProductLanguage]"),
              [](Package& p) { p.files["Conf"] = {"Application", "logger.exe.config"}; }),
         {}, nullptr},

        // The package's default converter: one the catalogue knows and the
        // package offers.
        {"default converter of the catalogue",
         [](Package& p) { p.properties["DEFAULT_CONVERTER"] = "81"; }, {}, nullptr},
        {"default converter empty", [](Package& p) { p.properties["DEFAULT_CONVERTER"] = ""; }, {},
         nullptr},
        {"default converter the catalogue lacks",
         [](Package& p) { p.properties["DEFAULT_CONVERTER"] = "12345"; }, {"converter"},
         "Property 'DEFAULT_CONVERTER'"},
        {"default converter with a blank",
         [](Package& p) { p.properties["DEFAULT_CONVERTER"] = "81 "; }, {"converter"},
         "Property 'DEFAULT_CONVERTER'"},
        {"default converter that CONVERTER_LIST lacks",
         [](Package& p) {
             p.properties["DEFAULT_CONVERTER"] = "81";
             p.properties["CONVERTER_LIST"] = "3000";
         },
         {"converter"}, "Property 'DEFAULT_CONVERTER'"},
        {"default converter last in CONVERTER_LIST",
         [](Package& p) {
             p.properties["DEFAULT_CONVERTER"] = "81";
             p.properties["CONVERTER_LIST"] = "7,,81";
         },
         {}, nullptr},
        {"unknown default converter, nothing that reads it",
         [](Package& p) {
             Drop(p, {"RondoApplyPatchInfo"});
             p.properties["DEFAULT_CONVERTER"] = "12345";
         },
         {}, nullptr},

        // The record's country code comes from ProductLanguage.
        {"a language with a country code", [](Package& p) { p.properties["ProductLanguage"] = "1031"; },
         {}, nullptr},
        {"a language without a country code",
         [](Package& p) { p.properties["ProductLanguage"] = "1030"; }, {"country"},
         "Property 'ProductLanguage'"},
        {"no ProductLanguage", [](Package& p) { p.properties.erase("ProductLanguage"); },
         {"country"}, "Property 'ProductLanguage'"},
        {"a language without a country code, nothing patched",
         [](Package& p) {
             Drop(p, {"RondoApplyPatchInfo"});
             p.properties["ProductLanguage"] = "1030";
         },
         {}, nullptr},

        // The applications directly in INSTALLDIR.
        {"application in a folder below INSTALLDIR",
         [](Package& p) { p.files["Rondo"].component = "rondoconfig"; }, {"application"},
         "File 'Rondo'"},
        {"application in a folder that is INSTALLDIR's own",
         [](Package& p) {
             p.directories["Same"] = {"INSTALLDIR", "."};
             p.componentDirectories["Apps"] = "Same";
             p.files["Rondo"].component = "Apps";
         },
         {}, nullptr},
        {"application with a short and a long name in capitals",
         [](Package& p) { p.files["Rondo"].name = "RONDO3~1.EXE|RONDO32.EXE"; }, {}, nullptr},
        {"application not shipped", [](Package& p) { p.files.erase("Rondo"); }, {"unshipped"},
         kPatch},
        {"application not shipped, its action not sequenced",
         [](Package& p) {
             p.files.erase("Rondo");
             p.executeSequence.erase("RondoApplyPatchInfo");
         },
         {}, nullptr},

        // dpinst.exe in System below INSTALLDIR.
        {"dpinst.exe directly in INSTALLDIR",
         [](Package& p) { p.componentDirectories["DriverPackageTool"] = "INSTALLDIR"; },
         {"dpinst"}, "File 'DriverPackageTool'"},
        {"dpinst.exe in a System folder of another folder",
         [](Package& p) {
             p.directories["VantorSystemFolder"].parent = "HARBORCONFIGDIR";
         },
         {"dpinst"}, "File 'DriverPackageTool'"},
        {"dpinst.exe in system, small letters",
         [](Package& p) { p.directories["VantorSystemFolder"].defaultDir = "system"; }, {},
         nullptr},
        {"no dpinst.exe", [](Package& p) { p.files.erase("DriverPackageTool"); }, {"dpinst"},
         "CustomAction 'DIFxInstall'"},

        // The machine-wide cache needs a per-machine package.
        {"ALLUSERS 2", [](Package& p) { p.properties["ALLUSERS"] = "2"; }, {"allusers"},
         "Property 'ALLUSERS'"},
        {"no ALLUSERS", [](Package& p) { p.properties.erase("ALLUSERS"); }, {"allusers"},
         "Property 'ALLUSERS'"},
        {"no ALLUSERS and no cache",
         [](Package& p) {
             p.properties.erase("ALLUSERS");
             Drop(p, {"CachePropertiesRollback", "CacheProperties", "ClearPropertiesCache",
                      "RecallChoices"});
         },
         {}, nullptr},

        // The drivers features: off by default, each turned on by its
        // Condition row.
        {"drivers features as the fix leaves them", WithDriversFeatures, {}, nullptr},
        {"drivers feature on by default",
         both(WithDriversFeatures, [](Package& p) { p.features["Drivers_UL81"] = 1; }),
         {"drivers"}, "Feature 'Drivers_UL81'"},
        {"drivers feature at INSTALLLEVEL",
         both(WithDriversFeatures,
              [](Package& p) {
                  p.properties["INSTALLLEVEL"] = "3";
                  p.features["Drivers_UL81"] = 3;
              }),
         {"drivers"}, "Feature 'Drivers_UL81'"},
        {"drivers feature one above INSTALLLEVEL",
         both(WithDriversFeatures,
              [](Package& p) {
                  p.properties["INSTALLLEVEL"] = "3";
                  p.features["Drivers_UL81"] = 4;
              }),
         {}, nullptr},
        {"drivers feature disabled, turned on by its condition",
         both(WithDriversFeatures, [](Package& p) { p.features["Drivers_UL81"] = 0; }), {},
         nullptr},
        {"drivers feature without its condition",
         both(WithDriversFeatures, [](Package& p) { p.conditions.pop_back(); }), {"drivers"},
         "Feature 'Drivers_US3000'"},
        {"drivers feature with another condition",
         both(WithDriversFeatures,
              [](Package& p) { p.conditions[0].condition = "DEFAULT_CONVERTER=3000"; }),
         {"drivers"}, "Feature 'Drivers_UL81'"},
        {"drivers feature with a condition of level 0 as well",
         both(WithDriversFeatures,
              [](Package& p) { p.conditions.push_back({"Drivers_UL81", 0, "REMOVE"}); }),
         {"drivers"}, "Feature 'Drivers_UL81'"},
        {"drivers feature of a converter not offered, without condition",
         both(WithDriversFeatures,
              [](Package& p) {
                  p.properties["CONVERTER_LIST"] = "3000";
                  p.conditions.erase(p.conditions.begin());
              }),
         {}, nullptr},
        {"drivers features without conditions, nothing chooses drivers",
         both(WithDriversFeatures,
              [](Package& p) {
                  Drop(p, {"SelectDriversFeature"});
                  p.conditions.clear();
              }),
         {}, nullptr},

        // The cache's lifecycle: recalled on later runs, carried over by a
        // major upgrade.
        {"no RecallChoices", [](Package& p) { Drop(p, {"RecallChoices"}); }, {"lifecycle"},
         "CustomAction 'CacheProperties'"},
        {"RecallChoices in the UI sequence only",
         [](Package& p) { p.executeSequence.erase("RecallChoices"); }, {"lifecycle"},
         "CustomAction 'CacheProperties'"},
        {"major upgrade without CarryOverChoices",
         both(WithMajorUpgrade, [](Package& p) { Drop(p, {"CarryOverChoices"}); }), {"lifecycle"},
         "Upgrade 'ACTIONPROPERTY'"},
        {"major upgrade without ClearReplacedCaches",
         both(WithMajorUpgrade, [](Package& p) { Drop(p, {"ClearReplacedCaches"}); }),
         {"lifecycle"}, "Upgrade 'ACTIONPROPERTY'"},
        {"detection-only Upgrade rows need no carry-over",
         both(WithMajorUpgrade,
              [](Package& p) {
                  Drop(p, {"CarryOverChoices", "ClearReplacedCaches"});
                  p.upgrades[0].attributes = 2;
              }),
         {}, nullptr},
        {"an Upgrade row's property not secure",
         both(WithMajorUpgrade,
              [](Package& p) { p.upgrades.push_back({"OLDER_RELEASE", 256}); }),
         {"secure"}, kSecure},

        // FrobMajorUpgrade after the downgrade guard.
        {"FrobMajorUpgrade on LaunchConditions' number",
         both(WithMajorUpgrade, place("FrobMajorUpgrade", 205)), {"place"},
         "CustomAction 'FrobMajorUpgrade'"},
        {"FrobMajorUpgrade on RemoveExistingProducts' number",
         both(WithMajorUpgrade,
              [](Package& p) {
                  p.executeSequence["RemoveExistingProducts"] = 1501;
                  p.executeSequence["FrobMajorUpgrade"] = 1501;
                  p.executeSequence["CarryOverChoices"] = 1502;
              }),
         {"place", "place"}, nullptr},

        // The action's type: where it runs, and as whom.
        {"deferred action written as immediate", type("RondoApplyPatchInfo", kImmediate),
         {"type"}, kPatch},
        {"immediate action written as deferred", type("CacheProperties", kDeferred), {"type"},
         "CustomAction 'CacheProperties'"},
        {"deferred action that impersonates", type("DIFxInstall", kImpersonated), {"type"},
         "CustomAction 'DIFxInstall'"},
        {"deferred action whose result is ignored", type("DIFxInstall", kDeferred | 0x40), {},
         nullptr},

        // The profiles.
        {"no component rondoconfig",
         [](Package& p) { p.componentDirectories.erase("rondoconfig"); }, {"component"},
         "CustomAction 'ConfigureHarbor'"},

        // Every rollback of the table: the kernel driver's too.
        {"kernel driver as the include wires it", WithKappaDriver, {}, nullptr},
        {"kernel driver rollback as wixl writes it",
         both(WithKappaDriver, type("InstallKappaSysRollback", kWixlRollback)), {"rollback"},
         "CustomAction 'InstallKappaSysRollback'"},
        {"kernel driver without rollback: its removal action is none",
         both(WithKappaDriver, [](Package& p) { Drop(p, {"InstallKappaSysRollback"}); }),
         {"rollback"}, "InstallExecuteSequence 'InstallKappaSys'"},
    };

    ASSERT_FALSE(layout.empty()) << "no VantorDeferredDataLayout in package/VantorBase.wxi";
    for (const Case& c : cases) {
        Package package = Wired();
        c.change(package);
        const std::vector<Finding> findings = CheckWiring(package);
        std::vector<std::string> checks;
        for (const Finding& f : findings)
            checks.push_back(f.check);
        std::vector<std::string> expected = c.checks;
        std::sort(checks.begin(), checks.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(checks, expected) << c.what << ", findings:" << Describe(findings);
        if (!c.row)
            continue;
        for (const Finding& f : findings)
            EXPECT_NE(f.text.find(c.row), std::string::npos)
                << c.what << ": the finding does not name " << c.row << ":" << Describe({f});
    }
}

TEST(WiringFixes, EachFixWhereThePackageCallsForIt) {
    // Each change to Wired(), the lines of the fixes it must plan, in
    // order, and how many tables they create.
    struct Case {
        const char* what;
        std::function<void(Package&)> change;
        std::vector<std::string> fixes;
        int tablesCreated;
    };
    const auto both = [](std::function<void(Package&)> a, std::function<void(Package&)> b) {
        return [a, b](Package& p) {
            a(p);
            b(p);
        };
    };
    const auto type = [](const char* action, int value) {
        return [action, value](Package& p) { RowOf(p, action).type = value; };
    };
    const auto secure = [](std::string value) {
        return [value](Package& p) { p.properties["SecureCustomProperties"] = value; };
    };
    const std::string all = "DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;"
                            "DEFAULT_HARBOR_CONFIG;INSTALLDIR";
    const std::string taken = " (VANTOR_CHANGE_CHOICES taken out: never secure, it lets a "
                              "repair change the recorded choices)";
    const auto noConditions = [](Package& p) {
        p.hasConditionTable = false;
        p.conditions.clear();
    };
    const auto comboBox = [](Package& p) {
        p.customActions.push_back({"AppendComboBox", kImmediate, "VantorSetup", "AppendComboBox"});
        p.uiSequence["AppendComboBox"] = 1110;
    };

    const Case cases[] = {
        {"as the includes wire it", [](Package&) {}, {}, 0},
        {"rollback as wixl writes it",
         type("CachePropertiesRollback", kWixlRollback),
         {"CustomAction 'CachePropertiesRollback': type 2049 -> 3329 (rollback)"},
         0},
        {"a rollback of the author's own name is left alone",
         [](Package& p) {
             Add(p, "MyRollback", kWixlRollback, "VantorSetup", "ClearPropertiesCache", 1506);
         },
         {},
         0},
        {"kernel driver rollback as wixl writes it",
         both(WithKappaDriver, type("InstallKappaSysRollback", kWixlRollback)),
         {"CustomAction 'InstallKappaSysRollback': type 2049 -> 3329 (rollback)"},
         0},
        {"combo box action without its table", comboBox, {"ComboBox table created"}, 1},
        {"combo box action with its table",
         both(comboBox, [](Package& p) { p.hasComboBoxTable = true; }),
         {},
         0},
        {"combo box action defined, never sequenced",
         [](Package& p) {
             p.customActions.push_back(
                 {"AppendComboBox", kImmediate, "VantorSetup", "AppendComboBox"});
         },
         {},
         0},
        {"no RemoveFile table",
         [](Package& p) {
             p.removeFileNames.clear();
             p.removeFileKeys.clear();
             p.hasRemoveFileTable = false;
         },
         {"RemoveFile 'TesselIni': tessel.ini in HARBORCONFIGDIR, on removal"},
         1},
        {"RemoveFile key taken by another file",
         [](Package& p) {
             p.removeFileNames = {"old.ini"};
             p.removeFileKeys = {"TesselIni"};
         },
         {"RemoveFile 'TesselIni2': tessel.ini in HARBORCONFIGDIR, on removal"},
         0},
        {"secure list lacking INSTALLDIR",
         secure("DEFAULT_CONVERTER;DEFAULT_HARBOR_CONFIG"),
         {"Property 'SecureCustomProperties': 'DEFAULT_CONVERTER;DEFAULT_HARBOR_CONFIG' -> "
          "'DEFAULT_CONVERTER;DEFAULT_HARBOR_CONFIG;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;"
          "SERIAL_NUMBER;INSTALLDIR'"},
         0},
        {"no secure list",
         [](Package& p) { p.properties.erase("SecureCustomProperties"); },
         {"Property 'SecureCustomProperties': '" + all + "' (new row)"},
         0},
        {"the change property taken out",
         secure("VANTOR_CHANGE_CHOICES;" + all),
         {"Property 'SecureCustomProperties': 'VANTOR_CHANGE_CHOICES;" + all + "' -> '" + all +
          "'" + taken},
         0},
        {"the change property alone, nothing of ours",
         both([](Package& p) { p.customActions.clear(); }, secure("VANTOR_CHANGE_CHOICES")),
         {"Property 'SecureCustomProperties': 'VANTOR_CHANGE_CHOICES' deleted" + taken},
         0},
        {"the Upgrade rows' properties after the choices",
         both(WithMajorUpgrade, secure("ACTIONPROPERTY;" + all)),
         {"Property 'SecureCustomProperties': 'ACTIONPROPERTY;" + all + "' -> 'ACTIONPROPERTY;" +
          all + ";NEWERVERSIONDETECTED'"},
         0},
        {"drivers features without a Condition table",
         both(WithDriversFeatures, noConditions),
         {"Condition 'Drivers_UL81' (level 1): DEFAULT_CONVERTER=81 (new row)",
          "Condition 'Drivers_US3000' (level 1): DEFAULT_CONVERTER=3000 (new row)"},
         1},
        {"a drivers feature's condition of another text",
         both(WithDriversFeatures,
              [](Package& p) { p.conditions[0].condition = "DEFAULT_CONVERTER=3000"; }),
         {"Condition 'Drivers_UL81' (level 1): 'DEFAULT_CONVERTER=3000' -> "
          "'DEFAULT_CONVERTER=81'"},
         0},
        {"a condition of level 0 stays, the level-1 row joins it",
         both(WithDriversFeatures,
              [](Package& p) {
                  p.conditions[0] = {"Drivers_UL81", 0, "REMOVE"};
              }),
         {"Condition 'Drivers_UL81' (level 1): DEFAULT_CONVERTER=81 (new row)"},
         0},
        {"a feature that no converter carries",
         both(WithDriversFeatures, [](Package& p) { p.features["Drivers_Own"] = 100; }),
         {},
         0},
        {"a feature that several converters carry",
         both(WithDriversFeatures, [](Package& p) { p.features["Drivers_ParA"] = 100; }),
         {"Condition 'Drivers_ParA' (level 1): DEFAULT_CONVERTER=10 OR DEFAULT_CONVERTER=12 OR "
          "DEFAULT_CONVERTER=40 OR DEFAULT_CONVERTER=42 (new row)"},
         0},
        {"drivers features, nothing chooses drivers",
         both(both(WithDriversFeatures, noConditions),
              [](Package& p) { Drop(p, {"SelectDriversFeature"}); }),
         {},
         0},
    };
    for (const Case& c : cases) {
        Package package = Wired();
        c.change(package);
        const std::vector<Fix> fixes = PlanFixes(package);
        std::vector<std::string> texts;
        int creates = 0;
        for (const Fix& fix : fixes) {
            texts.push_back(fix.text);
            EXPECT_FALSE(fix.queries.empty()) << c.what << ": " << fix.text;
            for (const Query& query : fix.queries)
                creates += query.sql.rfind("CREATE TABLE", 0) == 0;
        }
        EXPECT_EQ(texts, c.fixes) << c.what;
        EXPECT_EQ(creates, c.tablesCreated) << c.what;
    }
}

// What the checker flags and a fix can make is gone from a package that
// holds the fix's rows: the rows that the fixes plan are the ones the
// checks ask for.
TEST(WiringFixes, AFixedPackageGivesNoFindingOfWhatWasFixed) {
    Package package = Wired();
    WithDriversFeatures(package);
    WithMajorUpgrade(package);
    package.conditions.clear();
    package.hasConditionTable = false;
    package.properties["SecureCustomProperties"] = "VANTOR_CHANGE_CHOICES;INSTALLDIR";
    RowOf(package, "CachePropertiesRollback").type = kWixlRollback;
    ASSERT_EQ(PlanFixes(package).size(), 4u);
    std::vector<std::string> before;
    for (const Finding& f : CheckWiring(package))
        before.push_back(f.check);
    EXPECT_EQ(before,
              (std::vector<std::string>{"rollback", "secure", "secure", "drivers", "drivers"}))
        << Describe(CheckWiring(package));

    // The rows as the fixes write them.
    for (const Fix& fix : PlanFixes(package)) {
        for (const Query& query : fix.queries) {
            if (query.sql.rfind("UPDATE `CustomAction`", 0) == 0)
                RowOf(package, std::get<std::string>(query.values[1])).type =
                    std::get<int>(query.values[0]);
            else if (query.sql.rfind("UPDATE `Property`", 0) == 0)
                package.properties["SecureCustomProperties"] =
                    std::get<std::string>(query.values[0]);
            else if (query.sql.rfind("INSERT INTO `Condition`", 0) == 0)
                package.conditions.push_back({std::get<std::string>(query.values[0]),
                                              std::get<int>(query.values[1]),
                                              std::get<std::string>(query.values[2])});
            else if (query.sql.rfind("CREATE TABLE `Condition`", 0) == 0)
                package.hasConditionTable = true;
            else
                ADD_FAILURE() << "unexpected query: " << query.sql;
        }
    }
    EXPECT_EQ(CheckWiring(package).size(), 0u) << Describe(CheckWiring(package));
    EXPECT_TRUE(PlanFixes(package).empty());
}

} // namespace
