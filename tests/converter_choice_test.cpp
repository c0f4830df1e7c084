#include "setup/catalogue/catalogue.h"
#include "setup/choice/converter_choice.h"
#include "setup/exports.h"
#include "host_fixture.h"
#include "sweep.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace vantor;

namespace {

// (Order, Value) of one converter row.
using ComboRow = std::pair<int, std::string>;

class ConverterChoiceTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        Scene();
    }

    // The package's ComboBox table and the drivers features of the catalogue,
    // none of them installed.
    static void Scene() {
        host::AddTable("ComboBox", {"Property", "Order", "Value", "Text"}, 2);
        for (std::size_t i = 0; i < ConverterCatalogueCount; ++i) {
            if (*ConverterCatalogue[i].feature)
                host::AddFeature(ConverterCatalogue[i].feature);
        }
    }

    // The temporary rows of DEFAULT_CONVERTER, read back from the table; the
    // Text must be the catalogue's name of the Value.
    static std::vector<ComboRow> Rows() {
        std::vector<ComboRow> rows;
        for (const host::TableRow& row : host::TableRows("ComboBox")) {
            EXPECT_TRUE(row.temporary);
            EXPECT_EQ(row.fields[0].text, "DEFAULT_CONVERTER");
            const ConverterInfo* info = FindConverter(std::stoi(row.fields[2].text));
            EXPECT_NE(info, nullptr) << row.fields[2].text;
            if (info) {
                EXPECT_EQ(row.fields[3].text, info->displayName);
            }
            rows.emplace_back(row.fields[1].integer, row.fields[2].text);
        }
        return rows;
    }

    // Features an action asked for, with the state it asked for.
    static std::vector<std::pair<std::string, INSTALLSTATE>> Requests() {
        std::vector<std::pair<std::string, INSTALLSTATE>> requests;
        for (std::size_t i = 0; i < ConverterCatalogueCount; ++i) {
            const char* feature = ConverterCatalogue[i].feature;
            auto request = *feature ? host::FeatureRequest(feature) : std::nullopt;
            if (request && std::find_if(requests.begin(), requests.end(), [&](const auto& r) {
                               return r.first == feature;
                           }) == requests.end())
                requests.emplace_back(feature, *request);
        }
        return requests;
    }
};

std::string AllCatalogueIdsThenFourMore() {
    std::string list;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
        list += std::to_string(ConverterCatalogue[i].id) + ",";
    return list + "1,2,3,8";
}

struct ComboCase {
    const char* what;
    std::optional<std::string> list; // CONVERTER_LIST; nullopt: not set
    const char* versionNT;
    const char* version9X;
    std::vector<ComboRow> rows;
    const char* count;            // CONVERTER_LIST_COUNT
    const char* chosen;           // DEFAULT_CONVERTER; null: left at "5"
    const char* requestedFeature; // requested local; null: none requested
};

TEST_F(ConverterChoiceTest, FillsComboBoxAndChoosesSingleConverter) {
    std::vector<ComboRow> first36;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
        first36.emplace_back(int(i), std::to_string(ConverterCatalogue[i].id));

    const ComboCase cases[] = {
        {"unknown id keeps its place",
         "81,3000,7",
         "501",
         "",
         {{0, "81"}, {1, "3000"}},
         "3",
         nullptr,
         nullptr},
        {"gap in Order", "7,81", "501", "", {{1, "81"}}, "2", nullptr, nullptr},
        {"USB before Windows 2000", "81", "400", "", {}, "1", "0", nullptr},
        {"USB before Windows 98", "81", "", "400", {}, "1", "0", nullptr},
        {"USB on Windows 98", "81", "", "410", {{0, "81"}}, "1", "81", "Drivers_UL81"},
        {"USB on Windows ME", "81", "", "490", {{0, "81"}}, "1", "81", "Drivers_UL81"},
        {"USB on Windows 2000", "81", "500", "", {{0, "81"}}, "1", "81", "Drivers_UL81"},
        {"USB, version unknown", "81", "", "", {{0, "81"}}, "1", "81", "Drivers_UL81"},
        {"parallel device before Windows 2000",
         "10",
         "400",
         "",
         {{0, "10"}},
         "1",
         "10",
         "Drivers_ParA"},
        {"serial device on Windows 95", "2", "", "400", {{0, "2"}}, "1", "2", "Drivers_SL2"},
        {"only the USB entries are filtered",
         "10,81,12",
         "400",
         "",
         {{0, "10"}, {2, "12"}},
         "3",
         nullptr,
         nullptr},
        {"runs of commas and a trailing comma",
         "10,,12,",
         "501",
         "",
         {{0, "10"}, {1, "12"}},
         "2",
         nullptr,
         nullptr},
        {"leading commas", ",,10,12", "501", "", {{0, "10"}, {1, "12"}}, "2", nullptr, nullptr},
        {"blank before an id", "10, 12", "501", "", {{0, "10"}, {1, "12"}}, "2", nullptr, nullptr},
        {"letters after an id",
         "10,12abc",
         "501",
         "",
         {{0, "10"}, {1, "12"}},
         "2",
         nullptr,
         nullptr},
        {"tab and plus sign", "\t+10", "501", "", {{0, "10"}}, "1", "10", "Drivers_ParA"},
        {"a blank piece is an entry",
         "10, ,12",
         "501",
         "",
         {{0, "10"}, {2, "12"}},
         "3",
         nullptr,
         nullptr},
        {"letters only: one entry, no row", "abc", "501", "", {}, "1", "0", nullptr},
        {"negative id", "-81", "501", "", {}, "1", "0", nullptr},
        {"id beyond 32 bits", "99999999999", "501", "", {}, "1", "0", nullptr},
        {"id that wraps to 81 in 32 bits", "4294967377", "501", "", {}, "1", "0", nullptr},
        {"decimal, not octal or hex", "010,0x51", "501", "", {{0, "10"}}, "2", nullptr, nullptr},
        {"single entry counts entries, not rows", "81", "400", "", {}, "1", "0", nullptr},
        {"two entries, one row: no choice", "7,10", "501", "", {{1, "10"}}, "2", nullptr, nullptr},
        {"demonstration source has no feature", "99", "501", "", {{0, "99"}}, "1", "99", nullptr},
        {"network connection has no feature", "255", "501", "", {{0, "255"}}, "1", "255", nullptr},
        {"shared feature of a group",
         "2122",
         "501",
         "",
         {{0, "2122"}},
         "1",
         "2122",
         "Drivers_Kappa"},
        {"forty ids give 36 entries", AllCatalogueIdsThenFourMore(), "501", "", first36, "36",
         nullptr, nullptr},
        {"version with text reads its digits", "81", "400 SP6", "", {}, "1", "0", nullptr},
        {"version of text only reads as 0", "81", "NT", "", {{0, "81"}}, "1", "81", "Drivers_UL81"},
        {"empty list", "", "501", "", {}, "0", nullptr, nullptr},
        {"absent list", std::nullopt, "501", "", {}, "0", nullptr, nullptr},
        {"commas only", ",,,", "501", "", {}, "0", nullptr, nullptr},
    };
    for (const ComboCase& c : cases) {
        host::Reset();
        session = host::OpenSession();
        Scene();
        if (c.list)
            host::SetProperty("CONVERTER_LIST", *c.list);
        host::SetProperty("VersionNT", c.versionNT);
        host::SetProperty("Version9X", c.version9X);
        host::SetProperty("DEFAULT_CONVERTER", "5");

        EXPECT_EQ(AppendComboBox(session), 0u) << c.what;

        EXPECT_EQ(Rows(), c.rows) << c.what;
        EXPECT_EQ(host::GetProperty("CONVERTER_LIST_COUNT"), std::string(c.count)) << c.what;
        EXPECT_EQ(host::GetProperty("DEFAULT_CONVERTER"), std::string(c.chosen ? c.chosen : "5"))
            << c.what;
        EXPECT_EQ(host::InstallLevel(), c.chosen ? std::optional<int>(0) : std::nullopt) << c.what;
        std::vector<std::pair<std::string, INSTALLSTATE>> expected;
        if (c.requestedFeature)
            expected.emplace_back(c.requestedFeature, INSTALLSTATE_LOCAL);
        EXPECT_EQ(Requests(), expected) << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

TEST_F(ConverterChoiceTest, InsertsThroughUnexecutedViewAndClosesEverything) {
    host::SetProperty("CONVERTER_LIST", "81,3000");
    host::SetProperty("VersionNT", "501");
    host::ResetCallCount();
    EXPECT_EQ(AppendComboBox(session), 0u);
    const std::vector<std::string>& calls = host::CallLog();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "MsiViewExecute"), 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "MsiViewModify"), 2);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "MsiViewClose"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "MsiCloseAllHandles"), 0)
        << "it would close the installation handle too under Wine";
    // The database, the view and one record per row, each closed once.
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "MsiCloseHandle"), 4);
}

TEST_F(ConverterChoiceTest, FeatureIsRequestedOnlyWhenNotInstalledLocally) {
    struct Case {
        const char* what;
        INSTALLSTATE installed;
        bool failStateQuery;
        std::optional<INSTALLSTATE> request;
        bool selected;
    } cases[] = {
        {"absent", INSTALLSTATE_ABSENT, false, INSTALLSTATE_LOCAL, true},
        {"unknown", INSTALLSTATE_UNKNOWN, false, INSTALLSTATE_LOCAL, true},
        {"run from source", INSTALLSTATE_SOURCE, false, INSTALLSTATE_LOCAL, true},
        {"advertised", INSTALLSTATE_ADVERTISED, false, INSTALLSTATE_LOCAL, true},
        {"installed locally", INSTALLSTATE_LOCAL, false, std::nullopt, true},
        {"state not reported", INSTALLSTATE_LOCAL, true, INSTALLSTATE_LOCAL, true},
    };
    for (const Case& c : cases) {
        host::Reset();
        session = host::OpenSession();
        host::AddFeature("Drivers_UL81", c.installed);
        if (c.failStateQuery)
            host::FailCall("MsiGetFeatureStateA");
        EXPECT_EQ(SelectOnlyConverter(session, 81), c.selected) << c.what;
        EXPECT_EQ(host::FeatureRequest("Drivers_UL81"), c.request) << c.what;
        EXPECT_EQ(host::GetProperty("DEFAULT_CONVERTER"), std::string("81")) << c.what;
        EXPECT_EQ(host::InstallLevel(), std::optional<int>(0)) << c.what;
    }
}

TEST_F(ConverterChoiceTest, SelectionFailsWithoutAFeatureToRequest) {
    struct Case {
        const char* what;
        std::int32_t id;
        const char* failedCall; // null: none
        const char* chosen;
    } cases[] = {
        {"no converter", 0, nullptr, "0"},
        {"unknown id", 7, nullptr, "7"},
        {"no drivers feature", 99, nullptr, "99"},
        {"feature request refused", 81, "MsiSetFeatureStateA", "81"},
        {"feature not in the package", 3000, nullptr, "3000"},
    };
    for (const Case& c : cases) {
        host::Reset();
        session = host::OpenSession();
        host::AddFeature("Drivers_UL81");
        if (c.failedCall)
            host::FailCall(c.failedCall);
        EXPECT_FALSE(SelectOnlyConverter(session, c.id)) << c.what;
        EXPECT_EQ(host::GetProperty("DEFAULT_CONVERTER"), std::string(c.chosen)) << c.what;
        EXPECT_EQ(host::InstallLevel(), std::optional<int>(0)) << c.what;
        EXPECT_EQ(host::FeatureRequest("Drivers_UL81"), std::nullopt) << c.what;
    }
}

TEST_F(ConverterChoiceTest, ReadsConverterListAndCount) {
    struct Case {
        const char* list;
        std::vector<std::int32_t> ids;
    } cases[] = {
        {"81,3000,7", {81, 3000, 7}},
        {"2147483647,2147483648,-2147483649", {INT_MAX, INT_MAX, INT_MIN}},
        {" -5 ,+6,x7,", {-5, 6, 0}},
        {"1,,,,,2", {1, 2}},
        {",", {}},
    };
    for (const Case& c : cases) {
        host::SetProperty("CONVERTER_LIST", c.list);
        ConverterList list;
        ReadConverterList(session, list);
        EXPECT_EQ(std::vector<std::int32_t>(list.ids, list.ids + list.count), c.ids) << c.list;
        EXPECT_EQ(host::GetProperty("CONVERTER_LIST_COUNT"),
                  c.ids.empty() ? std::optional<std::string>("0")
                                : std::optional<std::string>(std::to_string(c.ids.size())))
            << c.list;
    }

    // Pieces beyond the 36th are never read, however many there are.
    std::string many;
    for (int i = 1; i <= 500; ++i)
        many += std::to_string(i) + ",";
    host::SetProperty("CONVERTER_LIST", many);
    ConverterList list;
    ReadConverterList(session, list);
    ASSERT_EQ(list.count, 36u);
    EXPECT_EQ(list.ids[0], 1);
    EXPECT_EQ(list.ids[35], 36);
    EXPECT_EQ(host::GetProperty("CONVERTER_LIST_COUNT"), std::string("36"));
}

TEST_F(ConverterChoiceTest, ReadsPlatformVersionAsDecimalPrefix) {
    struct Case {
        const char* value; // null: not set
        std::int32_t version;
    } cases[] = {{"501", 501}, {nullptr, 0}, {"", 0},        {"  410 ", 410},
                 {"4.10", 4},  {"abc", 0},   {"-400", -400}, {"99999999999", INT_MAX}};
    for (const Case& c : cases) {
        host::RemoveProperty("VersionNT");
        if (c.value)
            host::SetProperty("VersionNT", c.value);
        EXPECT_EQ(ReadPlatformVersion(session, "VersionNT"), c.version)
            << (c.value ? c.value : "(unset)");
    }
}

// The action still answers 0; a row that could not be added is logged.
TEST_F(ConverterChoiceTest, EngineRefusalsAreNotReported) {
    const std::string notInserted = "Converter 81 not added to the choices of DEFAULT_CONVERTER: "
                                    "the ComboBox row cannot be inserted (error ";
    const std::string noView = "Choices of DEFAULT_CONVERTER not added: ";
    struct Case {
        const char* what;
        const char* failedCall;
        std::size_t rows;
        const char* count; // null: not written
        const char* chosen;
        std::string log; // the whole log, one line at most
    } cases[] = {
        {"insert refused", "MsiViewModify", 0, "1", "81", notInserted + "1627)"},
        {"view refused", "MsiDatabaseOpenViewA", 0, "1", "81",
         noView + "the package has no ComboBox table; it needs one for these rows (error 1615)"},
        {"no database", "MsiGetActiveDatabase", 0, "1", "81",
         noView + "the ComboBox table cannot be opened (error 6)"},
        {"no record", "MsiCreateRecord", 0, "1", "81", notInserted + "6)"},
        {"count not written", "MsiSetPropertyA", 1, nullptr, "81", ""},
        {"list unreadable", "MsiGetPropertyA", 0, "0", "5", ""},
        {"install level refused", "MsiSetInstallLevel", 1, "1", "81", ""},
    };
    for (const Case& c : cases) {
        host::Reset();
        session = host::OpenSession();
        Scene();
        host::SetProperty("CONVERTER_LIST", "81");
        host::SetProperty("VersionNT", "501");
        host::SetProperty("DEFAULT_CONVERTER", "5");
        host::FailCall(c.failedCall, 1);
        EXPECT_EQ(AppendComboBox(session), 0u) << c.what;
        EXPECT_EQ(host::TableRows("ComboBox").size(), c.rows) << c.what;
        EXPECT_EQ(host::GetProperty("CONVERTER_LIST_COUNT"),
                  c.count ? std::optional<std::string>(c.count) : std::nullopt)
            << c.what;
        EXPECT_EQ(host::GetProperty("DEFAULT_CONVERTER"), std::string(c.chosen)) << c.what;
        EXPECT_EQ(host::LogLines(), c.log.empty()
                                        ? std::vector<std::string>()
                                        : std::vector<std::string>{"VantorCustomAction: " + c.log})
            << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

// Without a ComboBox table neither combo-box action can add a row: each
// still answers as before, writes its properties, and says what the package
// lacks in one line.
TEST(ComboBoxTableTest, MissingTableIsNamedInTheLog) {
    using host::Field;
    const auto harborFiles = [] {
        host::AddTable("File", {"File", "Component_", "FileName"});
        host::AddRow("File", {Field::Text("a"), Field::Text("rondoconfig"),
                              Field::Text("FIRST~1.INI|first.cfg.ini")});
        host::AddRow("File",
                     {Field::Text("b"), Field::Text("rondoconfig"), Field::Text("second.ini")});
    };
    const std::string missing = " not added: the package has no ComboBox table; it needs one for "
                                "these rows (error 1615)";
    struct Case {
        const char* what;
        UINT (*action)(MSIHANDLE);
        std::function<void()> scene;
        UINT result;
        const char* property; // written all the same
        const char* value;
        std::string log; // the whole log
    } cases[] = {
        {"one converter", AppendComboBox, [] { host::SetProperty("CONVERTER_LIST", "99"); }, 0,
         "DEFAULT_CONVERTER", "99", "Choices of DEFAULT_CONVERTER" + missing},
        {"three converters", AppendComboBox, [] { host::SetProperty("CONVERTER_LIST", "81,7,10"); },
         0, "CONVERTER_LIST_COUNT", "3", "Choices of DEFAULT_CONVERTER" + missing},
        {"no converter listed: no row was due", AppendComboBox, [] {}, 0, "CONVERTER_LIST_COUNT",
         "0", ""},
        {"two configuration files", PopulateHarborChoices, harborFiles, 0, "DEFAULT_HARBOR_CONFIG",
         "first.cfg.ini", "Choices of DEFAULT_HARBOR_CONFIG" + missing},
        {"table present: nothing to say", PopulateHarborChoices,
         [&] {
             harborFiles();
             host::AddTable("ComboBox", {"Property", "Order", "Value", "Text"}, 2);
         },
         0, "NUM_CONFIGS", "2", ""},
    };
    for (const Case& c : cases) {
        host::Reset();
        const MSIHANDLE session = host::OpenSession();
        host::SetProperty("VersionNT", "501");
        c.scene();
        EXPECT_EQ(c.action(session), c.result) << c.what;
        EXPECT_EQ(host::GetProperty(c.property), std::string(c.value)) << c.what;
        EXPECT_EQ(host::LogLines(), c.log.empty()
                                        ? std::vector<std::string>()
                                        : std::vector<std::string>{"VantorCustomAction: " + c.log})
            << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
    host::Reset();
}

} // namespace

namespace {

VANTOR_SWEEP(AppendComboBox, "single USB converter",
             [](SweepScene&) {
                 host::AddTable("ComboBox", {"Property", "Order", "Value", "Text"}, 2);
                 host::AddFeature("Drivers_UL81");
                 host::SetProperty("CONVERTER_LIST", "81");
                 host::SetProperty("VersionNT", "501");
             },
             {0});
VANTOR_SWEEP(AppendComboBox, "three converters",
             [](SweepScene&) {
                 host::AddTable("ComboBox", {"Property", "Order", "Value", "Text"}, 2);
                 host::SetProperty("CONVERTER_LIST", "81,7,10");
                 host::SetProperty("Version9X", "410");
             },
             {0});

} // namespace
