// The actions of the product's lifecycle: the choices recalled in a
// maintenance run, carried over a major upgrade, checked before anything is
// installed, the drivers feature of the chosen converter, and the caches of
// replaced products cleared. The checks read back what the stand-in holds.
#include "host_fixture.h"
#include "setup/exports.h"
#include "sweep.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kProduct = "{11111111-2222-3333-4444-555555555555}";
constexpr const char* kOlderA = "{AAAAAAAA-0000-0000-0000-000000000001}";
constexpr const char* kOlderB = "{AAAAAAAA-0000-0000-0000-000000000002}";
constexpr const char* kNewer = "{AAAAAAAA-0000-0000-0000-000000000009}";
const std::string kCompany = "SOFTWARE\\Vantor Technology";

std::string Key(const std::string& product) {
    return kCompany + "\\" + product;
}

using Values = std::map<std::string, std::string>;
// A property expected to be absent (never set, or set to "").
const std::string kUnset = "<unset>";

void Cache(const std::string& product, const Values& values) {
    host::CreateKey(Key(product));
    for (const auto& value : values)
        host::SetRegString(Key(product), value.first, value.second);
}

// The package's own tables, as far as these actions read them.
void Package(const Values& defaults) {
    host::AddTable("Property", {"Property", "Value"});
    for (const auto& value : defaults)
        host::AddRow("Property", {host::Field::Text(value.first), host::Field::Text(value.second)});
}

void Upgrade(const std::vector<std::pair<std::string, int>>& rows) {
    host::AddTable("Upgrade",
                   {"UpgradeCode", "VersionMin", "VersionMax", "Language", "Attributes", "Remove",
                    "ActionProperty"},
                   5);
    int n = 0;
    for (const auto& row : rows)
        host::AddRow("Upgrade", {host::Field::Text("{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E02}"),
                                 host::Field::Text(std::to_string(n++)), host::Field::Text(""),
                                 host::Field::Text(""), host::Field::Int(row.second),
                                 host::Field::Text(""), host::Field::Text(row.first)});
}

std::vector<std::string> Lines(const std::vector<std::string>& lines) {
    std::vector<std::string> full;
    for (const std::string& line : lines)
        full.push_back("VantorCustomAction: " + line);
    return full;
}

void ExpectProperties(const Values& expected, const std::string& what) {
    for (const auto& value : expected) {
        const auto actual = host::GetProperty(value.first);
        EXPECT_EQ(actual ? *actual : kUnset, value.second) << what << ": " << value.first;
    }
}

void Set(const Values& properties) {
    for (const auto& value : properties)
        host::SetProperty(value.first, value.second);
}

class LifecycleTest : public HostTest {
  protected:
    void Fresh() {
        host::Reset();
        session = host::OpenSession();
        host::SetProperty("ProductCode", kProduct);
    }
};

// ---------------------------------------------------------------- RecallChoices

const Values kCached = {
    {"DEFAULT_CONVERTER", "81"},
    {"DEFAULT_PAR_PORT", ""},
    {"DEFAULT_COM_PORT", "3"},
    {"SERIAL_NUMBER", "SN-1001"},
    {"DEFAULT_HARBOR_CONFIG", "coastal.ini"},
    {"INSTALLDIR", "C:\\Loggers\\"},
};
const Values kDefaults = {{"DEFAULT_HARBOR_CONFIG", "harbor.cfg.ini"}, {"DEFAULT_COM_PORT", "1"}};

TEST_F(LifecycleTest, RecallChoices) {
    const std::string given = "given, the cached ";
    const std::string keeps =
        " is used: a repair keeps the first installation's choices; VANTOR_CHANGE_CHOICES=1 "
        "changes them";
    struct Case {
        const char* what;
        std::optional<Values> cache; // none: no key
        Values properties;           // as the command line and the package left them
        Values expected;
        std::vector<std::string> log;
    } cases[] = {
        {"no key: nothing changes",
         std::nullopt,
         {{"DEFAULT_CONVERTER", "3000"}, {"INSTALLDIR", "C:\\evil\\"}},
         {{"DEFAULT_CONVERTER", "3000"}, {"INSTALLDIR", "C:\\evil\\"}},
         {std::string("No cached choices for ") + kProduct +
          ": the choices and INSTALLDIR stay as this run has them, and the patch actions fall "
          "back as before (error 2)"}},
        {"a repair without values takes the cache, over the package's defaults",
         kCached,
         {{"DEFAULT_HARBOR_CONFIG", "harbor.cfg.ini"}, {"DEFAULT_COM_PORT", "1"}},
         {{"DEFAULT_CONVERTER", "81"},
          {"DEFAULT_PAR_PORT", kUnset},
          {"DEFAULT_COM_PORT", "3"},
          {"SERIAL_NUMBER", "SN-1001"},
          {"DEFAULT_HARBOR_CONFIG", "coastal.ini"},
          {"INSTALLDIR", "C:\\Loggers\\"}},
         {}},
        {"values on the command line are ignored, one line each",
         kCached,
         {{"DEFAULT_CONVERTER", "3000"},
          {"SERIAL_NUMBER", "EVIL7777"},
          {"DEFAULT_PAR_PORT", "2"},
          {"INSTALLDIR", "C:\\evil\\"}},
         {{"DEFAULT_CONVERTER", "81"},
          {"SERIAL_NUMBER", "SN-1001"},
          {"DEFAULT_PAR_PORT", kUnset},
          {"INSTALLDIR", "C:\\Loggers\\"}},
         {"INSTALLDIR=C:\\evil\\ given, the folder of the first installation C:\\Loggers\\ is used",
          "DEFAULT_CONVERTER=3000 " + given + "81" + keeps,
          "DEFAULT_PAR_PORT=2 " + given + "\"\"" + keeps,
          "SERIAL_NUMBER=EVIL7777 " + given + "SN-1001" + keeps}},
        {"the same folder in another case and without its separator is no other folder",
         kCached,
         {{"INSTALLDIR", "c:\\LOGGERS"}},
         {{"INSTALLDIR", "C:\\Loggers\\"}},
         {}},
        {"a change takes what is given and recalls the rest",
         kCached,
         {{"VANTOR_CHANGE_CHOICES", "1"},
          {"DEFAULT_CONVERTER", "3000"},
          {"SERIAL_NUMBER", "SN-2002"},
          {"DEFAULT_HARBOR_CONFIG", "harbor.cfg.ini"},
          {"INSTALLDIR", "C:\\evil\\"}},
         {{"DEFAULT_CONVERTER", "3000"},
          {"SERIAL_NUMBER", "SN-2002"},
          {"DEFAULT_COM_PORT", "3"},
          {"DEFAULT_HARBOR_CONFIG", "coastal.ini"},
          {"INSTALLDIR", "C:\\Loggers\\"}},
         {"INSTALLDIR=C:\\evil\\ given, the folder of the first installation C:\\Loggers\\ is used",
          "DEFAULT_CONVERTER changed: 81 -> 3000 (VANTOR_CHANGE_CHOICES=1)",
          "SERIAL_NUMBER changed: SN-1001 -> SN-2002 (VANTOR_CHANGE_CHOICES=1)"}},
        {"VANTOR_CHANGE_CHOICES other than 1 changes nothing",
         kCached,
         {{"VANTOR_CHANGE_CHOICES", "yes"}, {"DEFAULT_CONVERTER", "3000"}},
         {{"DEFAULT_CONVERTER", "81"}},
         {"DEFAULT_CONVERTER=3000 " + given + "81" + keeps}},
        {"a removal restores the folder and no choice",
         kCached,
         {{"REMOVE", "All"}, {"DEFAULT_CONVERTER", "3000"}},
         {{"DEFAULT_CONVERTER", "3000"}, {"INSTALLDIR", "C:\\Loggers\\"}},
         {}},
        {"a key of an earlier release: no folder, no profile",
         Values{{"DEFAULT_CONVERTER", "81"},
                {"DEFAULT_PAR_PORT", ""},
                {"DEFAULT_COM_PORT", "3"},
                {"SERIAL_NUMBER", "SN-1001"}},
         {{"DEFAULT_HARBOR_CONFIG", "harbor.cfg.ini"}, {"INSTALLDIR", "C:\\Other\\"}},
         {{"DEFAULT_CONVERTER", "81"},
          {"DEFAULT_HARBOR_CONFIG", "harbor.cfg.ini"},
          {"INSTALLDIR", "C:\\Other\\"}},
         {std::string("DEFAULT_HARBOR_CONFIG is not in the cache of ") + kProduct +
          ": this run's \"harbor.cfg.ini\" is used (error 2)"}},
        {"an empty record leaves the folder alone",
         Values{{"DEFAULT_CONVERTER", "81"},
                {"DEFAULT_PAR_PORT", ""},
                {"DEFAULT_COM_PORT", "3"},
                {"SERIAL_NUMBER", ""},
                {"DEFAULT_HARBOR_CONFIG", ""},
                {"INSTALLDIR", ""}},
         {{"INSTALLDIR", "C:\\Other\\"}},
         {{"INSTALLDIR", "C:\\Other\\"}, {"DEFAULT_HARBOR_CONFIG", kUnset}},
         {}},
    };
    for (const Case& c : cases) {
        Fresh();
        Package(kDefaults);
        if (c.cache)
            Cache(kProduct, *c.cache);
        Set(c.properties);
        EXPECT_EQ(RecallChoices(session), 0u) << c.what;
        ExpectProperties(c.expected, c.what);
        EXPECT_EQ(host::LogLines(), Lines(c.log)) << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

// ---------------------------------------------------------------- CarryOverChoices

TEST_F(LifecycleTest, CarryOverChoices) {
    const Values older = {
        {"DEFAULT_CONVERTER", "81"},
        {"DEFAULT_PAR_PORT", ""},
        {"DEFAULT_COM_PORT", "3"},
        {"SERIAL_NUMBER", "SN-1001"},
        {"DEFAULT_HARBOR_CONFIG", "coastal.ini"},
        {"INSTALLDIR", "C:\\Loggers\\"},
    };
    const std::string fromA = std::string("Choices carried over from ") + kOlderA;
    struct Product {
        const char* code;
        const char* version; // "": not installed
        bool cached;
        Values cache;
    };
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, int>> upgrade; // action property, attributes
        Values properties;
        std::vector<Product> products;
        Values expected;
        std::string log;
    } cases[] = {
        {"no Upgrade table",
         {},
         {},
         {},
         {},
         "Choices not carried over: no older product is being "
         "replaced"},
        {"no older product found",
         {{"ACTIONPROPERTY", 0}},
         {},
         {},
         {},
         "Choices not carried over: no older product is being replaced"},
        {"one older product with a cache: everything not given, over the package's defaults",
         {{"ACTIONPROPERTY", 0}},
         {{"ACTIONPROPERTY", std::string(kOlderA) + ";"},
          {"DEFAULT_HARBOR_CONFIG", "harbor.cfg.ini"},
          {"DEFAULT_COM_PORT", "1"}},
         {{kOlderA, "1.0.0", true, older}},
         {{"DEFAULT_CONVERTER", "81"},
          {"DEFAULT_PAR_PORT", kUnset},
          {"DEFAULT_COM_PORT", "3"},
          {"SERIAL_NUMBER", "SN-1001"},
          {"DEFAULT_HARBOR_CONFIG", "coastal.ini"},
          {"INSTALLDIR", "C:\\Loggers\\"}},
         fromA + " (1.0.0): DEFAULT_CONVERTER=81, DEFAULT_COM_PORT=3, SERIAL_NUMBER=SN-1001, "
                 "DEFAULT_HARBOR_CONFIG=coastal.ini, INSTALLDIR=C:\\Loggers\\"},
        {"values given win, and so does a folder on the command line",
         {{"ACTIONPROPERTY", 0}},
         {{"ACTIONPROPERTY", std::string(kOlderA) + ";"},
          {"DEFAULT_CONVERTER", "3000"},
          {"SERIAL_NUMBER", "SN-2002"},
          {"INSTALLDIR", "D:\\Scopes\\"}},
         {{kOlderA, "1.0.0", true, older}},
         {{"DEFAULT_CONVERTER", "3000"},
          {"SERIAL_NUMBER", "SN-2002"},
          {"DEFAULT_COM_PORT", "3"},
          {"INSTALLDIR", "D:\\Scopes\\"}},
         fromA + " (1.0.0): DEFAULT_COM_PORT=3, DEFAULT_HARBOR_CONFIG=coastal.ini; kept as given: "
                 "DEFAULT_CONVERTER, SERIAL_NUMBER, INSTALLDIR"},
        {"two with caches: the newest, by numbers, not by text",
         {{"ACTIONPROPERTY", 0}},
         {{"ACTIONPROPERTY", std::string(kOlderA) + ";" + kOlderB + ";"}},
         {{kOlderA, "1.10.0", true, older},
          {kOlderB, "1.9.9", true, {{"DEFAULT_CONVERTER", "3000"}}}},
         {{"DEFAULT_CONVERTER", "81"}},
         fromA + " (1.10.0): DEFAULT_CONVERTER=81, DEFAULT_COM_PORT=3, SERIAL_NUMBER=SN-1001, "
                 "DEFAULT_HARBOR_CONFIG=coastal.ini, INSTALLDIR=C:\\Loggers\\"},
        {"two with caches of one version: the first listed",
         {{"ACTIONPROPERTY", 0}},
         {{"ACTIONPROPERTY", std::string(kOlderB) + ";" + kOlderA + ";"}},
         {{kOlderA, "1.0.0", true, older}, {kOlderB, "1.0", true, {{"DEFAULT_CONVERTER", "3000"}}}},
         {{"DEFAULT_CONVERTER", "3000"}, {"SERIAL_NUMBER", kUnset}},
         std::string("Choices carried over from ") + kOlderB + " (1.0): DEFAULT_CONVERTER=3000"},
        {"a product the engine does not know counts lowest",
         {{"ACTIONPROPERTY", 0}},
         {{"ACTIONPROPERTY", std::string(kOlderB) + ";" + kOlderA + ";"}},
         {{kOlderA, "0.0.1", true, older}, {kOlderB, "", true, {{"DEFAULT_CONVERTER", "3000"}}}},
         {{"DEFAULT_CONVERTER", "81"}},
         fromA + " (0.0.1): DEFAULT_CONVERTER=81, DEFAULT_COM_PORT=3, SERIAL_NUMBER=SN-1001, "
                 "DEFAULT_HARBOR_CONFIG=coastal.ini, INSTALLDIR=C:\\Loggers\\"},
        {"one without a cache is passed over",
         {{"ACTIONPROPERTY", 0}},
         {{"ACTIONPROPERTY", std::string(kOlderB) + ";" + kOlderA + ";"}},
         {{kOlderA, "1.0.0", true, older}, {kOlderB, "2.0.0", false, {}}},
         {{"DEFAULT_CONVERTER", "81"}},
         fromA + " (1.0.0): DEFAULT_CONVERTER=81, DEFAULT_COM_PORT=3, SERIAL_NUMBER=SN-1001, "
                 "DEFAULT_HARBOR_CONFIG=coastal.ini, INSTALLDIR=C:\\Loggers\\"},
        {"none has a cache",
         {{"ACTIONPROPERTY", 0}},
         {{"ACTIONPROPERTY", std::string(kOlderA) + ";" + kOlderB}},
         {{kOlderA, "1.0.0", false, {}}},
         {{"DEFAULT_CONVERTER", kUnset}},
         std::string("Choices not carried over: none of ") + kOlderA + ", " + kOlderB +
             " has cached choices"},
        {"the one older product has no cache",
         {{"ACTIONPROPERTY", 0}},
         {{"ACTIONPROPERTY", std::string(kOlderA) + ";"}},
         {{kOlderA, "1.0.0", false, {}}},
         {},
         std::string("Choices not carried over: ") + kOlderA + " has no cached choices"},
        {"a detection-only row, the product itself and what is no code are no candidates",
         {{"NEWERVERSIONDETECTED", 2}, {"ACTIONPROPERTY", 0}, {"OWNROWS", 256}},
         {{"NEWERVERSIONDETECTED", std::string(kNewer) + ";"},
          {"ACTIONPROPERTY", std::string(kProduct) + ";..\\..;{AAAAAAAA};;" + kOlderA},
          {"OWNROWS", std::string(kOlderB) + ";"}},
         {{kNewer, "9.0.0", true, {{"DEFAULT_CONVERTER", "1"}}},
          {kProduct, "9.0.0", true, {{"DEFAULT_CONVERTER", "2"}}},
          {kOlderA, "1.0.0", true, older},
          {kOlderB, "1.0.1", true, {{"SERIAL_NUMBER", "B"}}}},
         {{"DEFAULT_CONVERTER", kUnset}, {"SERIAL_NUMBER", "B"}},
         std::string("Choices carried over from ") + kOlderB + " (1.0.1): SERIAL_NUMBER=B"},
    };
    for (const Case& c : cases) {
        Fresh();
        Package(kDefaults);
        if (!c.upgrade.empty())
            Upgrade(c.upgrade);
        Set(c.properties);
        for (const Product& product : c.products) {
            if (*product.version)
                host::AddProduct(product.code, product.version);
            if (product.cached)
                Cache(product.code, product.cache);
        }
        EXPECT_EQ(CarryOverChoices(session), 0u) << c.what;
        ExpectProperties(c.expected, c.what);
        EXPECT_EQ(host::LogLines(), Lines({c.log})) << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

// ---------------------------------------------------------------- CheckChoices

// A package that patches applications (a sequenced patch action), offers
// two converters and two profiles.
void PatchingPackage(bool patches, bool profiles) {
    Package({});
    host::AddTable("CustomAction", {"Action", "Type", "Source", "Target"});
    host::AddTable("InstallExecuteSequence", {"Action", "Condition", "Sequence"});
    host::AddRow("CustomAction",
                 {host::Field::Text("RondoApplyPatchInfo"), host::Field::Int(3073),
                  host::Field::Text("VantorSetup"), host::Field::Text("RondoApplyPatchInfo")});
    // Not sequenced; and a property setter whose target happens to end alike.
    host::AddRow("CustomAction",
                 {host::Field::Text("FathomApplyPatchInfo"), host::Field::Int(3073),
                  host::Field::Text("VantorSetup"), host::Field::Text("FathomApplyPatchInfo")});
    host::AddRow("CustomAction", {host::Field::Text("SetNote"), host::Field::Int(51),
                                  host::Field::Text("NOTE"), host::Field::Text("ApplyPatchInfo")});
    host::AddRow("InstallExecuteSequence",
                 {host::Field::Text("SetNote"), host::Field::Text(""), host::Field::Int(100)});
    if (patches)
        host::AddRow("InstallExecuteSequence", {host::Field::Text("RondoApplyPatchInfo"),
                                                host::Field::Text(""), host::Field::Int(4010)});
    host::AddTable("File", {"File", "Component_", "FileName"});
    host::AddRow("File", {host::Field::Text("Readme"), host::Field::Text("Main"),
                          host::Field::Text("readme.txt")});
    if (profiles) {
        host::AddRow("File", {host::Field::Text("Harbor"), host::Field::Text("rondoconfig"),
                              host::Field::Text("HARBOR~1.INI|harbor.cfg.ini")});
        host::AddRow("File", {host::Field::Text("Coastal"), host::Field::Text("rondoconfig"),
                              host::Field::Text("coastal.ini")});
    }
}

TEST_F(LifecycleTest, CheckChoices) {
    const std::string offers = "this package offers 81, 3000 (CONVERTER_LIST)";
    std::string catalogue = "a converter of the catalogue: 1, 2, 3, 8, 10, 11";
    struct Case {
        const char* what;
        Values properties; // over a valid choice
        bool patches;
        bool profiles;
        UINT result;
        std::string error; // "" : none
        Values expected;
        std::vector<std::string> log;
    } cases[] = {
        {"a valid choice", {}, true, true, 0, "", {{"DEFAULT_CONVERTER", "81"}}, {}},
        {"a bar in a value",
         {{"SERIAL_NUMBER", "AB|X7"}},
         true,
         true,
         1603,
         "SERIAL_NUMBER=AB|X7 cannot be used: \"|\" separates the fields of the deferred actions' "
         "data and cannot be part of a value",
         {},
         {}},
        {"a bar in the profile",
         {{"DEFAULT_HARBOR_CONFIG", "a|b"}},
         false,
         false,
         1603,
         "DEFAULT_HARBOR_CONFIG=a|b cannot be used: \"|\" separates the fields of the deferred "
         "actions' data and cannot be part of a value",
         {},
         {}},
        {"no converter in a package that patches",
         {{"DEFAULT_CONVERTER", ""}},
         true,
         true,
         1603,
         "DEFAULT_CONVERTER= cannot be used: no converter chosen, and this package patches "
         "applications; " +
             offers,
         {},
         {}},
        {"converter 0 in a package that patches",
         {{"DEFAULT_CONVERTER", "0"}},
         true,
         true,
         1603,
         "DEFAULT_CONVERTER=0 cannot be used: no converter chosen, and this package patches "
         "applications; " +
             offers,
         {},
         {}},
        {"no converter in a package that patches nothing",
         {{"DEFAULT_CONVERTER", ""}},
         false,
         true,
         0,
         "",
         {},
         {}},
        {"an unknown converter",
         {{"DEFAULT_CONVERTER", "12345"}},
         true,
         true,
         1603,
         "DEFAULT_CONVERTER=12345 cannot be used: no such converter; " + offers,
         {},
         {}},
        {"a converter beyond 16 bits is no other one",
         {{"DEFAULT_CONVERTER", "65617"}},
         true,
         true,
         1603,
         "DEFAULT_CONVERTER=65617 cannot be used: no such converter; " + offers,
         {},
         {}},
        {"a converter the package does not offer",
         {{"DEFAULT_CONVERTER", "3001"}},
         true,
         true,
         1603,
         "DEFAULT_CONVERTER=3001 cannot be used: this package does not offer it; " + offers,
         {},
         {}},
        {"a converter that is no plain id",
         {{"DEFAULT_CONVERTER", " 81"}},
         true,
         true,
         1603,
         "DEFAULT_CONVERTER= 81 cannot be used: a converter is a decimal id; " + offers,
         {},
         {}},
        {"without CONVERTER_LIST any catalogue converter",
         {{"CONVERTER_LIST", ""}, {"DEFAULT_CONVERTER", "3001"}},
         true,
         true,
         0,
         "",
         {},
         {}},
        {"without CONVERTER_LIST the catalogue is what is allowed",
         {{"CONVERTER_LIST", ""}, {"DEFAULT_CONVERTER", "7"}},
         true,
         true,
         1603,
         "catalogue",
         {},
         {}},
        {"one converter offered is chosen",
         {{"CONVERTER_LIST", "7,81"}, {"DEFAULT_CONVERTER", ""}},
         true,
         true,
         0,
         "",
         {{"DEFAULT_CONVERTER", "81"}},
         {"DEFAULT_CONVERTER chosen: 81, the only converter this package offers (CONVERTER_LIST)"}},
        {"ports: the largest number, and empty",
         {{"DEFAULT_COM_PORT", "65535"}, {"DEFAULT_PAR_PORT", ""}},
         true,
         true,
         0,
         "",
         {},
         {}},
        {"a port beyond the record",
         {{"DEFAULT_PAR_PORT", "65536"}},
         true,
         true,
         1603,
         "DEFAULT_PAR_PORT=65536 cannot be used: a port is a whole number from 0 to 65535, or "
         "empty",
         {},
         {}},
        {"a port by name",
         {{"DEFAULT_COM_PORT", "COM3"}},
         true,
         true,
         1603,
         "DEFAULT_COM_PORT=COM3 cannot be used: a port is a whole number from 0 to 65535, or "
         "empty",
         {},
         {}},
        {"a negative port",
         {{"DEFAULT_COM_PORT", "-1"}},
         true,
         true,
         1603,
         "DEFAULT_COM_PORT=-1 cannot be used: a port is a whole number from 0 to 65535, or empty",
         {},
         {}},
        {"eight characters of serial number",
         {{"SERIAL_NUMBER", "ABCDEFGH"}},
         true,
         true,
         0,
         "",
         {},
         {}},
        {"nine characters of serial number",
         {{"SERIAL_NUMBER", "ABCDEFGHIJK"}},
         true,
         true,
         1603,
         "SERIAL_NUMBER=ABCDEFGHIJK cannot be used: at most 8 characters fit the record",
         {},
         {}},
        {"a profile by its long name in another case",
         {{"DEFAULT_HARBOR_CONFIG", "HARBOR.cfg.INI"}},
         true,
         true,
         0,
         "",
         {},
         {}},
        {"a profile that is no file of the package",
         {{"DEFAULT_HARBOR_CONFIG", "HARBOR~1.INI"}},
         true,
         true,
         1603,
         "DEFAULT_HARBOR_CONFIG=HARBOR~1.INI cannot be used: no such file of component "
         "rondoconfig; allowed: harbor.cfg.ini, coastal.ini, or empty",
         {},
         {}},
        {"any profile in a package without profiles",
         {{"DEFAULT_HARBOR_CONFIG", "whatever.ini"}},
         true,
         false,
         0,
         "",
         {},
         {}},
    };
    for (const Case& c : cases) {
        Fresh();
        PatchingPackage(c.patches, c.profiles);
        Set({{"CONVERTER_LIST", "81,3000,7"},
             {"DEFAULT_CONVERTER", "81"},
             {"DEFAULT_COM_PORT", "3"},
             {"SERIAL_NUMBER", "SN-1001"},
             {"DEFAULT_HARBOR_CONFIG", "coastal.ini"}});
        Set(c.properties);
        EXPECT_EQ(CheckChoices(session), c.result) << c.what;
        if (c.error == "catalogue") {
            ASSERT_EQ(host::ErrorMessages().size(), 1u) << c.what;
            EXPECT_EQ(host::ErrorMessages().front().rfind(
                          "DEFAULT_CONVERTER=7 cannot be used: no such converter; " + catalogue, 0),
                      0u)
                << host::ErrorMessages().front();
        } else {
            EXPECT_EQ(host::ErrorMessages(), c.error.empty() ? std::vector<std::string>()
                                                             : std::vector<std::string>{c.error})
                << c.what;
        }
        ExpectProperties(c.expected, c.what);
        EXPECT_EQ(host::LogLines(), Lines(c.log)) << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

// A check that cannot be made lets nothing through.
TEST_F(LifecycleTest, CheckChoicesThatCannotReadThePackageRefuses) {
    Fresh();
    PatchingPackage(true, true);
    host::SetProperty("DEFAULT_CONVERTER", "0");
    host::FailCall("MsiViewFetch", 1, ERROR_FUNCTION_FAILED);
    EXPECT_EQ(CheckChoices(session), 1603u);
    EXPECT_EQ(host::LogLines(), Lines({"Choices not checked: the package's custom actions cannot "
                                       "be read (error 1627)"}));
    EXPECT_TRUE(host::ErrorMessages().empty());
}

// ---------------------------------------------------------------- SelectDriversFeature

TEST_F(LifecycleTest, SelectDriversFeature) {
    struct Feature {
        const char* name;
        INSTALLSTATE installed;
        INSTALLSTATE action;
    };
    struct Case {
        const char* what;
        Values properties;
        std::vector<Feature> features;
        std::map<std::string, INSTALLSTATE> requests; // every other: none
        std::string log;
    } cases[] = {
        {"the chosen converter's, and no other",
         {{"DEFAULT_CONVERTER", "81"}},
         {{"Drivers_UL81", INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN},
          {"Drivers_US3000", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL},
          {"Drivers_SL2", INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN},
          {"Main", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}},
         {{"Drivers_UL81", INSTALLSTATE_LOCAL}, {"Drivers_US3000", INSTALLSTATE_ABSENT}},
         "Drivers feature Drivers_UL81 selected for converter 81; not installed: Drivers_SL2, "
         "Drivers_US3000"},
        {"a feature installed already is not asked for again",
         {{"DEFAULT_CONVERTER", "3000"}},
         {{"Drivers_UL81", INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN},
          {"Drivers_US3000", INSTALLSTATE_LOCAL, INSTALLSTATE_UNKNOWN}},
         {},
         "Drivers feature Drivers_US3000 selected for converter 3000; not installed: "
         "Drivers_UL81"},
        {"a shared feature of a family",
         {{"DEFAULT_CONVERTER", "12"}},
         {{"Drivers_ParA", INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN},
          {"Drivers_ParB", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}},
         {{"Drivers_ParA", INSTALLSTATE_LOCAL}, {"Drivers_ParB", INSTALLSTATE_ABSENT}},
         "Drivers feature Drivers_ParA selected for converter 12; not installed: Drivers_ParB"},
        {"a change removes the installed one of the old choice",
         {{"DEFAULT_CONVERTER", "3000"}, {"Installed", "00:00:00"}, {"VANTOR_CHANGE_CHOICES", "1"}},
         {{"Drivers_UL81", INSTALLSTATE_LOCAL, INSTALLSTATE_UNKNOWN},
          {"Drivers_US3000", INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN}},
         {{"Drivers_UL81", INSTALLSTATE_ABSENT}, {"Drivers_US3000", INSTALLSTATE_LOCAL}},
         "Drivers feature Drivers_US3000 selected for converter 3000; removed: Drivers_UL81"},
        {"outside a change an installed one stays",
         {{"DEFAULT_CONVERTER", "3000"}, {"Installed", "00:00:00"}},
         {{"Drivers_UL81", INSTALLSTATE_LOCAL, INSTALLSTATE_UNKNOWN},
          {"Drivers_US3000", INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN}},
         {{"Drivers_US3000", INSTALLSTATE_LOCAL}},
         "Drivers feature Drivers_US3000 selected for converter 3000; kept as installed: "
         "Drivers_UL81"},
        {"a converter without drivers",
         {{"DEFAULT_CONVERTER", "99"}},
         {{"Drivers_UL81", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}},
         {{"Drivers_UL81", INSTALLSTATE_ABSENT}},
         "No drivers feature selected: converter 99 needs no drivers; not installed: "
         "Drivers_UL81"},
        {"a converter whose feature the package lacks",
         {{"DEFAULT_CONVERTER", "1000"}},
         {{"Drivers_UL81", INSTALLSTATE_ABSENT, INSTALLSTATE_UNKNOWN}},
         {},
         "No drivers feature selected: the drivers feature Drivers_US1000 of converter 1000 is "
         "not in this package (error 1606); not installed: Drivers_UL81"},
        {"no converter",
         {},
         {{"Drivers_UL81", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL}},
         {{"Drivers_UL81", INSTALLSTATE_ABSENT}},
         "No drivers feature selected: DEFAULT_CONVERTER \"\" names no converter of the "
         "catalogue; not installed: Drivers_UL81"},
    };
    for (const Case& c : cases) {
        Fresh();
        Set(c.properties);
        host::AddTable("Feature", {"Feature", "Level"});
        for (const Feature& feature : c.features) {
            host::AddFeature(feature.name, feature.installed, feature.action);
            host::AddRow("Feature", {host::Field::Text(feature.name), host::Field::Int(100)});
        }
        EXPECT_EQ(SelectDriversFeature(session), 0u) << c.what;
        for (const Feature& feature : c.features) {
            const auto request = host::FeatureRequest(feature.name);
            const auto expected = c.requests.find(feature.name);
            EXPECT_EQ(request, expected == c.requests.end()
                                   ? std::nullopt
                                   : std::optional<INSTALLSTATE>(expected->second))
                << c.what << ": " << feature.name;
        }
        EXPECT_EQ(host::LogLines(), Lines({c.log})) << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

// ---------------------------------------------------------------- ClearReplacedCaches

TEST_F(LifecycleTest, ClearReplacedCaches) {
    struct Product {
        const char* code;
        INSTALLSTATE state; // INSTALLSTATE_UNKNOWN: not registered
        bool cached;
        bool deleted;
    };
    struct Case {
        const char* what;
        std::string actionProperty;
        std::vector<Product> products;
        std::vector<std::string> log;
    } cases[] = {
        {"a removed product's key goes, an installed one's stays, the own one stays",
         std::string(kOlderA) + ";" + kOlderB + ";" + kProduct + ";" + kNewer + ";",
         {{kOlderA, INSTALLSTATE_UNKNOWN, true, true},
          {kOlderB, INSTALLSTATE_DEFAULT, true, false},
          {kProduct, INSTALLSTATE_UNKNOWN, true, false},
          {kNewer, INSTALLSTATE_UNKNOWN, false, false}},
         {std::string("Cache of replaced product ") + kOlderA + " deleted",
          std::string("Cache of ") + kOlderB + " kept: the product is still installed"}},
        {"another user's product is not installed here",
         std::string(kOlderA) + ";",
         {{kOlderA, INSTALLSTATE_ABSENT, true, true}},
         {std::string("Cache of replaced product ") + kOlderA + " deleted"}},
        {"no replaced product has a key",
         std::string(kOlderA) + ";",
         {{kOlderA, INSTALLSTATE_UNKNOWN, false, false}},
         {std::string("No cache of a replaced product to delete: none of ") + kOlderA +
          " has one"}},
        {"nothing replaced",
         "",
         {{kProduct, INSTALLSTATE_DEFAULT, true, false}},
         {"No cache of a replaced product to delete: no older product was replaced"}},
    };
    for (const Case& c : cases) {
        Fresh();
        Upgrade({{"ACTIONPROPERTY", 0}});
        host::SetProperty("ACTIONPROPERTY", c.actionProperty);
        for (const Product& product : c.products) {
            if (product.state != INSTALLSTATE_UNKNOWN)
                host::AddProduct(product.code, "1.0.0", product.state);
            if (product.cached)
                Cache(product.code, {{"DEFAULT_CONVERTER", "81"}});
        }
        EXPECT_EQ(ClearReplacedCaches(session), 0u) << c.what;
        for (const Product& product : c.products)
            EXPECT_EQ(host::KeyExists(Key(product.code)), product.cached && !product.deleted)
                << c.what << ": " << product.code;
        EXPECT_EQ(host::LogLines(), Lines(c.log)) << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

TEST_F(LifecycleTest, ClearReplacedCachesKeepsAKeyItCannotDelete) {
    Fresh();
    Upgrade({{"ACTIONPROPERTY", 0}});
    host::SetProperty("ACTIONPROPERTY", kOlderA);
    Cache(kOlderA, {{"DEFAULT_CONVERTER", "81"}});
    host::CreateKey(Key(kOlderA) + "\\Pinned");
    EXPECT_EQ(ClearReplacedCaches(session), 0u);
    EXPECT_TRUE(host::KeyExists(Key(kOlderA)));
    EXPECT_EQ(host::LogLines(), Lines({std::string("Cache of replaced product ") + kOlderA +
                                       " kept: its key cannot be deleted (error 5)"}));
}

} // namespace

// ---------------------------------------------------------------- sweep

namespace {

void RepairScene(SweepScene&) {
    host::SetProperty("ProductCode", kProduct);
    Package(kDefaults);
    Cache(kProduct, kCached);
    Set({{"DEFAULT_CONVERTER", "3000"}, {"INSTALLDIR", "C:\\evil\\"}});
}

void UpgradeScene(SweepScene&) {
    host::SetProperty("ProductCode", kProduct);
    Package(kDefaults);
    Upgrade({{"ACTIONPROPERTY", 0}});
    host::SetProperty("ACTIONPROPERTY", std::string(kOlderA) + ";" + kOlderB + ";");
    host::AddProduct(kOlderA, "1.0.0");
    Cache(kOlderA, kCached);
    Cache(kOlderB, {{"DEFAULT_CONVERTER", "3000"}});
    host::SetProperty("SERIAL_NUMBER", "SN-2002");
}

VANTOR_SWEEP(RecallChoices, "repair with values given", RepairScene, {});
VANTOR_SWEEP(CarryOverChoices, "two older products", UpgradeScene, {});
VANTOR_SWEEP(ClearReplacedCaches, "one removed, one installed", UpgradeScene, {});
VANTOR_SWEEP(CheckChoices, "a valid choice",
             [](SweepScene&) {
                 PatchingPackage(true, true);
                 Set({{"CONVERTER_LIST", "81,3000"},
                      {"DEFAULT_CONVERTER", "81"},
                      {"DEFAULT_HARBOR_CONFIG", "coastal.ini"}});
             },
             {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(CheckChoices, "one converter chosen, a profile refused",
             [](SweepScene&) {
                 PatchingPackage(true, true);
                 Set({{"CONVERTER_LIST", "81"}, {"DEFAULT_HARBOR_CONFIG", "evil.ini"}});
             },
             // A view the engine refuses (1615) is a table the package lacks:
             // without files of component rondoconfig any profile passes.
             {0});
VANTOR_SWEEP(SelectDriversFeature, "two converters offered",
             [](SweepScene&) {
                 host::SetProperty("DEFAULT_CONVERTER", "81");
                 host::AddTable("Feature", {"Feature", "Level"});
                 for (const char* feature : {"Drivers_UL81", "Drivers_US3000"}) {
                     host::AddFeature(feature, INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
                     host::AddRow("Feature", {host::Field::Text(feature), host::Field::Int(1)});
                 }
             },
             {});

} // namespace
