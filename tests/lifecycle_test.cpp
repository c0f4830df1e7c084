// The actions of the product's lifecycle: the choices recalled in a
// maintenance run, carried over a major upgrade, checked before anything is
// installed, the chosen converter's drivers feature, and the caches of
// replaced products cleared. The checks read back what the stand-in holds.
#include "host_fixture.h"
#include "setup/cache/lifecycle.h"
#include "setup/exports.h"
#include "sweep.h"

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* kProduct = "{11111111-2222-3333-4444-555555555555}";
const std::string kA = "{AAAAAAAA-0000-0000-0000-000000000001}";
const std::string kB = "{AAAAAAAA-0000-0000-0000-000000000002}";

std::string Key(const std::string& product) {
    return "SOFTWARE\\Vantor Technology\\" + product;
}

// "NAME=value&NAME=value": properties, cached values or expectations ("" for
// a property that is not set, as the engine makes no difference).
std::map<std::string, std::string> Parse(const std::string& text) {
    std::map<std::string, std::string> values;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('&', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string item = text.substr(start, end - start);
        if (!item.empty())
            values[item.substr(0, item.find('='))] = item.substr(item.find('=') + 1);
        start = end + 1;
    }
    return values;
}

void Set(const std::string& properties) {
    for (const auto& value : Parse(properties))
        host::SetProperty(value.first, value.second);
}

void Cache(const std::string& product, const std::string& values) {
    host::CreateKey(Key(product));
    for (const auto& value : Parse(values))
        host::SetRegString(Key(product), value.first, value.second);
}

// The package's Property table, and Upgrade rows (action property, attributes).
void Package(const std::string& defaults, const std::map<std::string, int>& upgrade = {}) {
    host::AddTable("Property", {"Property", "Value"});
    for (const auto& value : Parse(defaults))
        host::AddRow("Property", {host::Field::Text(value.first), host::Field::Text(value.second)});
    if (upgrade.empty())
        return;
    host::AddTable("Upgrade", {"UpgradeCode", "Attributes", "ActionProperty"}, 2);
    for (const auto& row : upgrade)
        host::AddRow("Upgrade", {host::Field::Text("{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E02}"),
                                 host::Field::Int(row.second), host::Field::Text(row.first)});
}

const std::string kPrefix = "VantorCustomAction: ";

// The properties expected, and the log: the actions' lines, each ended by "\n".
void ExpectOutcome(const std::string& properties, const std::string& log, const std::string& what) {
    for (const auto& value : Parse(properties))
        EXPECT_EQ(host::GetProperty(value.first).value_or(""), value.second)
            << what << ": " << value.first;
    std::string lines;
    for (const std::string& line : host::LogLines())
        lines += (line.rfind(kPrefix, 0) == 0 ? line.substr(kPrefix.size()) : "?" + line) + "\n";
    EXPECT_EQ(lines, log) << what;
    EXPECT_EQ(host::OpenHandles(), 0) << what;
}

class LifecycleTest : public HostTest {
  protected:
    void Fresh() {
        host::Reset();
        session = host::OpenSession();
        host::SetProperty("ProductCode", kProduct);
    }
};

const std::string kCached = "DEFAULT_CONVERTER=81&DEFAULT_PAR_PORT=&DEFAULT_COM_PORT=3&"
                            "SERIAL_NUMBER=SN-1001&DEFAULT_HARBOR_CONFIG=coastal.ini&"
                            "INSTALLDIR=C:\\Loggers\\";
const std::string kDefaults = "DEFAULT_HARBOR_CONFIG=harbor.cfg.ini&DEFAULT_COM_PORT=1";

TEST_F(LifecycleTest, RecallChoices) {
    const std::string keeps = " is used: a repair keeps the first installation's choices; "
                              "VANTOR_CHANGE_CHOICES=1 changes them";
    const std::string evil = "INSTALLDIR=C:\\evil\\ given, the folder of the first installation "
                             "C:\\Loggers\\ is used\n";
    struct Case {
        const char* what;
        std::string cache; // "-": no key
        std::string given, expected;
        std::string log; // lines, each ended by "\n"
    } cases[] = {
        {"no key", "-", "DEFAULT_CONVERTER=3000", "DEFAULT_CONVERTER=3000",
         std::string("No cached choices for ") + kProduct +
             ": the choices and INSTALLDIR stay as "
             "this run has them, and the patch actions fall back as before (error 2)\n"},
        {"the cache over the package's defaults", kCached, kDefaults,
         "DEFAULT_CONVERTER=81&DEFAULT_COM_PORT=3&DEFAULT_HARBOR_CONFIG=coastal.ini&"
         "INSTALLDIR=C:\\Loggers\\",
         ""},
        {"values given are not used, one line each", kCached,
         "DEFAULT_CONVERTER=3000&DEFAULT_PAR_PORT=2&INSTALLDIR=C:\\evil\\",
         "DEFAULT_CONVERTER=81&DEFAULT_PAR_PORT=&INSTALLDIR=C:\\Loggers\\",
         evil + "DEFAULT_CONVERTER=3000 given, the cached 81" + keeps +
             "\nDEFAULT_PAR_PORT=2 given, the cached \"\"" + keeps + "\n"},
        {"a change keeps what is given and recalls the rest", kCached,
         "VANTOR_CHANGE_CHOICES=1&DEFAULT_CONVERTER=3000&DEFAULT_HARBOR_CONFIG=harbor.cfg.ini&"
         "INSTALLDIR=C:\\evil\\",
         "DEFAULT_CONVERTER=3000&DEFAULT_COM_PORT=3&DEFAULT_HARBOR_CONFIG=coastal.ini&"
         "INSTALLDIR=C:\\Loggers\\",
         evil + "DEFAULT_CONVERTER changed: 81 -> 3000 (VANTOR_CHANGE_CHOICES=1)\n"},
        {"a removal restores the folder only", kCached, "REMOVE=All&DEFAULT_CONVERTER=3000",
         "DEFAULT_CONVERTER=3000&INSTALLDIR=C:\\Loggers\\", ""},
        {"a key of an earlier release",
         "DEFAULT_CONVERTER=81&DEFAULT_PAR_PORT=&SERIAL_NUMBER=S&DEFAULT_COM_PORT=3",
         "INSTALLDIR=C:\\Other\\", "DEFAULT_CONVERTER=81&INSTALLDIR=C:\\Other\\",
         std::string("DEFAULT_HARBOR_CONFIG is not in the cache of ") + kProduct +
             ": this run's \"\" is used (error 2)\n"},
    };
    for (const Case& c : cases) {
        Fresh();
        Package(kDefaults);
        if (c.cache != "-")
            Cache(kProduct, c.cache);
        Set(c.given);
        EXPECT_EQ(RecallChoices(session), 0u) << c.what;
        ExpectOutcome(c.expected, c.log, c.what);
    }
}

TEST_F(LifecycleTest, CarryOverChoices) {
    const std::string all = ": DEFAULT_CONVERTER=81, DEFAULT_COM_PORT=3, SERIAL_NUMBER=SN-1001, "
                            "DEFAULT_HARBOR_CONFIG=coastal.ini, INSTALLDIR=C:\\Loggers\\\n";
    const std::string fromA = "Choices carried over from " + kA;
    struct Case {
        const char* what;
        std::string replaced;           // ACTIONPROPERTY
        std::string versionA, versionB; // "": not installed
        std::string cacheA, cacheB;     // "-": no key
        std::string given, expected, log;
    } cases[] = {
        {"no older product: the product itself and what is no code are none",
         std::string(kProduct) + ";..\\..;{AAAAAAAA};;", "", "", "-", "-", "",
         "DEFAULT_CONVERTER=", "Choices not carried over: no older product is being replaced\n"},
        {"one, over the package's defaults", kA + ";", "1.0.0", "", kCached, "-", kDefaults,
         "DEFAULT_CONVERTER=81&DEFAULT_COM_PORT=3&INSTALLDIR=C:\\Loggers\\",
         fromA + " (1.0.0)" + all},
        {"values given win", kA, "1.0.0", "", kCached, "-",
         "DEFAULT_CONVERTER=3000&SERIAL_NUMBER=SN-2&INSTALLDIR=D:\\S\\",
         "DEFAULT_CONVERTER=3000&SERIAL_NUMBER=SN-2&DEFAULT_COM_PORT=3&INSTALLDIR=D:\\S\\",
         fromA + " (1.0.0): DEFAULT_COM_PORT=3, DEFAULT_HARBOR_CONFIG=coastal.ini; kept as given: "
                 "DEFAULT_CONVERTER, SERIAL_NUMBER, INSTALLDIR\n"},
        {"two with caches: the newest by numbers", kB + ";" + kA, "1.10.0", "1.9.9", kCached,
         "DEFAULT_CONVERTER=3000", "", "DEFAULT_CONVERTER=81", fromA + " (1.10.0)" + all},
        {"one without a cache is passed over", kB + ";" + kA, "1.0.0", "2.0.0", kCached, "-", "",
         "DEFAULT_CONVERTER=81", fromA + " (1.0.0)" + all},
    };
    for (const Case& c : cases) {
        Fresh();
        // A detection-only row names a product that is not replaced.
        Package(kDefaults, {{"ACTIONPROPERTY", 0}, {"NEWER", 2}});
        Set("NEWER=" + kA + "&ACTIONPROPERTY=" + c.replaced + "&" + c.given);
        Cache(kProduct, kCached);
        for (const auto& product : {std::make_pair(kA, c.versionA), std::make_pair(kB, c.versionB)})
            if (!product.second.empty())
                host::AddProduct(product.first, product.second);
        if (c.cacheA != "-")
            Cache(kA, c.cacheA);
        if (c.cacheB != "-")
            Cache(kB, c.cacheB);
        EXPECT_EQ(CarryOverChoices(session), 0u) << c.what;
        ExpectOutcome(c.expected, c.log, c.what);
    }
}

// A package that patches applications (a sequenced patch action), offers
// 81 and 3000, and has two profiles.
void CheckedPackage(bool patches) {
    Package("");
    host::AddTable("CustomAction", {"Action", "Type", "Source", "Target"});
    host::AddTable("InstallExecuteSequence", {"Action", "Condition", "Sequence"});
    host::AddTable("File", {"File", "Component_", "FileName"});
    for (const char* action : {"RondoApplyPatchInfo", "FathomApplyPatchInfo"})
        host::AddRow("CustomAction", {host::Field::Text(action), host::Field::Int(3073),
                                      host::Field::Text("VantorSetup"), host::Field::Text(action)});
    // A sequenced property setter whose text merely ends alike patches nothing.
    host::AddRow("CustomAction", {host::Field::Text("SetNote"), host::Field::Int(51),
                                  host::Field::Text("NOTE"), host::Field::Text("ApplyPatchInfo")});
    for (const char* action : {"SetNote", patches ? "RondoApplyPatchInfo" : "CostFinalize"})
        host::AddRow("InstallExecuteSequence",
                     {host::Field::Text(action), host::Field::Text(""), host::Field::Int(1)});
    for (const char* name : {"HARBOR~1.INI|harbor.cfg.ini", "coastal.ini"})
        host::AddRow("File", {host::Field::Text(name), host::Field::Text("rondoconfig"),
                              host::Field::Text(name)});
    Set("CONVERTER_LIST=81,3000,7&DEFAULT_CONVERTER=81&DEFAULT_COM_PORT=3&SERIAL_NUMBER=SN-1&"
        "DEFAULT_HARBOR_CONFIG=coastal.ini");
}

TEST_F(LifecycleTest, CheckChoices) {
    const std::string offers = "; this package offers 81, 3000 (CONVERTER_LIST)";
    struct Case {
        const char* what;
        std::string given; // over a valid choice
        bool patches;
        std::string error; // "": none, and 0
    } cases[] = {
        {"a valid choice", "DEFAULT_HARBOR_CONFIG=HARBOR.cfg.INI&DEFAULT_PAR_PORT=65535", true, ""},
        {"a bar", "SERIAL_NUMBER=AB|X7", true,
         "SERIAL_NUMBER=AB|X7 cannot be used: \"|\" separates the fields of the deferred actions' "
         "data and cannot be part of a value"},
        {"no converter", "DEFAULT_CONVERTER=", true,
         "DEFAULT_CONVERTER= cannot be used: no converter chosen, and this package patches "
         "applications" +
             offers},
        {"no converter, nothing patched", "DEFAULT_CONVERTER=", false, ""},
        {"unknown", "DEFAULT_CONVERTER=12345", true,
         "DEFAULT_CONVERTER=12345 cannot be used: no such converter" + offers},
        {"81 beyond 16 bits", "DEFAULT_CONVERTER=65617", true,
         "DEFAULT_CONVERTER=65617 cannot be used: no such converter" + offers},
        {"not offered", "DEFAULT_CONVERTER=3001", true,
         "DEFAULT_CONVERTER=3001 cannot be used: this package does not offer it" + offers},
        {"no plain id", "DEFAULT_CONVERTER= 81", true,
         "DEFAULT_CONVERTER= 81 cannot be used: a converter is a decimal id" + offers},
        {"a port by name", "DEFAULT_COM_PORT=COM3", true,
         "DEFAULT_COM_PORT=COM3 cannot be used: a port is a whole number from 0 to 65535, or "
         "empty"},
        {"nine characters", "SERIAL_NUMBER=ABCDEFGHI", true,
         "SERIAL_NUMBER=ABCDEFGHI cannot be used: at most 8 characters fit the record"},
        {"a short name is no profile", "DEFAULT_HARBOR_CONFIG=HARBOR~1.INI", true,
         "DEFAULT_HARBOR_CONFIG=HARBOR~1.INI cannot be used: no such file of component "
         "rondoconfig; allowed: harbor.cfg.ini, coastal.ini, or empty"},
        {"leading zeros", "DEFAULT_CONVERTER=0081&DEFAULT_COM_PORT=0065535", true, ""},
        {"a port just beyond", "DEFAULT_PAR_PORT=65536", true,
         "DEFAULT_PAR_PORT=65536 cannot be used: a port is a whole number from 0 to 65535, or "
         "empty"},
        {"a port that wraps to 1 in 64 bits", "DEFAULT_COM_PORT=18446744073709551617", true,
         "DEFAULT_COM_PORT=18446744073709551617 cannot be used: a port is a whole number from 0 "
         "to 65535, or empty"},
        {"81 in 64 bits", "DEFAULT_CONVERTER=18446744073709551697", true,
         "DEFAULT_CONVERTER=18446744073709551697 cannot be used: no such converter" + offers},
    };
    for (const Case& c : cases) {
        Fresh();
        CheckedPackage(c.patches);
        Set(c.given);
        EXPECT_EQ(CheckChoices(session), c.error.empty() ? 0u : 1603u) << c.what;
        EXPECT_EQ(host::ErrorMessages(),
                  c.error.empty() ? std::vector<std::string>() : std::vector<std::string>{c.error})
            << c.what;
        ExpectOutcome("", "", c.what);
    }
    // The one converter a package offers is chosen, as its dialog would.
    Fresh();
    CheckedPackage(true);
    Set("CONVERTER_LIST=7,81&DEFAULT_CONVERTER=");
    EXPECT_EQ(CheckChoices(session), 0u);
    ExpectOutcome("DEFAULT_CONVERTER=81",
                  "DEFAULT_CONVERTER chosen: 81, the only converter this package offers "
                  "(CONVERTER_LIST)\n",
                  "one converter offered");
}

// Versions as the engine gives them: digits and dots, number by number.
TEST(CompareVersions, NumberByNumber) {
    const struct {
        const char* a;
        const char* b;
        int order;
    } cases[] = {
        {"1.10.0", "1.9.9", 1},
        {"1.0", "1.0.0", 0},
        {"2", "10", -1},
        {"", "0.0.1", -1},
        {"", "", 0},
        {"1.x.3", "1.0.3", -1}, // reading stops at the "x"
        {"1000000000", "999999999", 1},
        {"10000000001", "10000000000", 0}, // both keep the value of ten digits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vantor::CompareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(vantor::CompareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
}

// "name=installed action[ requested]&...", states as the engine's numbers
// (3 local, 2 absent, -1 none).
void Features(const std::string& features) {
    host::AddTable("Feature", {"Feature"});
    for (const auto& feature : Parse(features)) {
        int installed = -1, action = -1;
        std::sscanf(feature.second.c_str(), "%d %d", &installed, &action);
        host::AddFeature(feature.first, installed, action);
        host::AddRow("Feature", {host::Field::Text(feature.first)});
    }
}

TEST_F(LifecycleTest, SelectDriversFeature) {
    struct Case {
        const char* what;
        std::string given, features, log;
    } cases[] = {
        {"the chosen converter's, no other", "DEFAULT_CONVERTER=81",
         "Drivers_UL81=2 -1 3&Drivers_US3000=2 3 2&Drivers_SL2=2 -1 -1&Main=2 3 -1",
         "Drivers feature Drivers_UL81 selected for converter 81; not installed: Drivers_SL2, "
         "Drivers_US3000\n"},
        {"chosen by the engine already (its condition): no request", "DEFAULT_CONVERTER=81",
         "Drivers_UL81=2 3 -1&Drivers_US3000=2 -1 -1",
         "Drivers feature Drivers_UL81 selected for converter 81; not installed: "
         "Drivers_US3000\n"},
        {"a change removes the old one",
         "DEFAULT_CONVERTER=3000&Installed=1&VANTOR_CHANGE_CHOICES=1",
         "Drivers_UL81=3 -1 2&Drivers_US3000=2 -1 3",
         "Drivers feature Drivers_US3000 selected for converter 3000; removed: Drivers_UL81\n"},
        {"outside a change it stays", "DEFAULT_CONVERTER=12&Installed=1",
         "Drivers_UL81=3 -1 -1&Drivers_ParA=3 -1 -1",
         "Drivers feature Drivers_ParA selected for converter 12; kept as installed: "
         "Drivers_UL81\n"},
        {"no drivers", "DEFAULT_CONVERTER=99", "Drivers_UL81=2 3 2",
         "No drivers feature selected: converter 99 needs no drivers; not installed: "
         "Drivers_UL81\n"},
        {"not in the package", "DEFAULT_CONVERTER=1000", "",
         "No drivers feature selected: the drivers feature Drivers_US1000 of converter 1000 is not "
         "in this package (error 1606)\n"},
        {"leading zeros", "DEFAULT_CONVERTER=00081", "Drivers_UL81=2 -1 3",
         "Drivers feature Drivers_UL81 selected for converter 81\n"},
        {"a sign is no id", "DEFAULT_CONVERTER=+81", "Drivers_UL81=2 -1 -1",
         "No drivers feature selected: DEFAULT_CONVERTER \"+81\" names no converter of the "
         "catalogue; not installed: Drivers_UL81\n"},
    };
    for (const Case& c : cases) {
        Fresh();
        Set(c.given);
        Features(c.features);
        EXPECT_EQ(SelectDriversFeature(session), 0u) << c.what;
        for (const auto& feature : Parse(c.features)) {
            int request = -1;
            std::sscanf(feature.second.c_str(), "%*d %*d %d", &request);
            EXPECT_EQ(host::FeatureRequest(feature.first).value_or(-1), request)
                << c.what << ": " << feature.first;
        }
        ExpectOutcome("", c.log, c.what);
    }
}

TEST_F(LifecycleTest, ClearReplacedCaches) {
    struct Case {
        const char* what;
        std::string replaced;
        INSTALLSTATE stateA; // -1: unknown to the engine
        bool pinnedA;        // a subkey keeps the key from being deleted
        bool keptA;
        std::string log;
    } cases[] = {
        {"removed: deleted", kA + ";" + kProduct + ";" + kB, -1, false, false,
         "Cache of replaced product " + kA + " deleted\n"},
        {"still installed", kA, INSTALLSTATE_DEFAULT, false, true,
         "Cache of " + kA + " kept: the product is still installed\n"},
        {"cannot be deleted", kA, -1, true, true,
         "Cache of replaced product " + kA + " kept: its key cannot be deleted (error 5)\n"},
        {"nothing replaced", "", -1, false, true,
         "No cache of a replaced product to delete: no older product was replaced\n"},
    };
    for (const Case& c : cases) {
        Fresh();
        Package("", {{"ACTIONPROPERTY", 0}});
        Set("ACTIONPROPERTY=" + c.replaced);
        Cache(kProduct, kCached);
        Cache(kA, kCached);
        if (c.pinnedA)
            host::CreateKey(Key(kA) + "\\Pinned");
        if (c.stateA != -1)
            host::AddProduct(kA, "1.0.0", c.stateA);
        EXPECT_EQ(ClearReplacedCaches(session), 0u) << c.what;
        EXPECT_EQ(host::KeyExists(Key(kA)), c.keptA) << c.what;
        EXPECT_TRUE(host::KeyExists(Key(kProduct))) << c.what << ": never the product's own";
        ExpectOutcome("", c.log, c.what);
    }
}

void UpgradeScene(SweepScene&) {
    host::SetProperty("ProductCode", kProduct);
    Package(kDefaults, {{"ACTIONPROPERTY", 0}});
    Set("ACTIONPROPERTY=" + kA + ";" + kB + "&SERIAL_NUMBER=SN-2&INSTALLDIR=C:\\evil\\");
    host::AddProduct(kA, "1.0.0");
    Cache(kA, kCached);
    Cache(kB, "DEFAULT_CONVERTER=3000");
    Cache(kProduct, kCached);
}

VANTOR_SWEEP(RecallChoices, "values given", UpgradeScene, {});
VANTOR_SWEEP(CarryOverChoices, "two older products", UpgradeScene, {});
VANTOR_SWEEP(ClearReplacedCaches, "one removed, one installed", UpgradeScene, {});
VANTOR_SWEEP(CheckChoices, "a valid choice", [](SweepScene&) { CheckedPackage(true); },
             {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(SelectDriversFeature, "two converters offered",
             [](SweepScene&) {
                 host::SetProperty("DEFAULT_CONVERTER", "81");
                 Features("Drivers_UL81=2 3&Drivers_US3000=2 3");
             },
             {});

} // namespace
