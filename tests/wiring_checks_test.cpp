// The package wiring checks on packages made here row by row: a package wired
// as the includes wire it passes clean, and each change on the edge of one of
// the checker's rules gives exactly the findings named, each naming the row.
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
    p.fileKeys = {"LoggerConfig"};
    p.removeFileNames = {"TESSEL~1.INI|tessel.ini"};
    p.properties["SecureCustomProperties"] = "DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;"
                                             "SERIAL_NUMBER;INSTALLDIR;DEFAULT_HARBOR_CONFIG";
    return p;
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
              [](Package& p) { p.fileKeys = {"K"}; }),
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
        {"FrobMajorUpgrade with both",
         [kAllSecure](Package& p) {
             Add(p, "FrobMajorUpgrade", kImmediate, "VantorSetup", "FrobMajorUpgrade", 210);
             p.upgradeActionProperties = {"ACTIONPROPERTY"};
             p.properties["SecureCustomProperties"] = std::string(kAllSecure) + ";ACTIONPROPERTY";
         },
         {}, nullptr},
        {"Binary row missing", [](Package& p) { p.binaries.erase("VantorDrivers"); }, {"binary"},
         "Binary 'VantorDrivers'"},
        {"entry of the other library", [](Package& p) { RowOf(p, "DIFxInstall").source = "VantorSetup"; },
         {"entry"}, "CustomAction 'DIFxInstall'"},
        {"the library's own name in other capitals",
         [](Package& p) { p.binaries["VantorSetup"] = "VANTORSETUP.DLL"; }, {}, nullptr},
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

} // namespace
