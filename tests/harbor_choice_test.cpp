#include "setup/exports.h"
#include "host_fixture.h"
#include "sweep.h"

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

// (Order, Value, Text) of one configuration row.
using ConfigRow = std::tuple<int, std::string, std::string>;

class HarborChoiceTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        Scene({});
    }

    // The package's File and ComboBox tables: the given FileName values in
    // component rondoconfig, around a file of another component.
    void Scene(const std::vector<std::string>& configNames) {
        host::Reset();
        session = host::OpenSession();
        host::AddTable("File", {"File", "Component_", "FileName", "FileSize", "Version", "Language",
                                "Attributes", "Sequence"});
        host::AddTable("ComboBox", {"Property", "Order", "Value", "Text"}, 2);
        AddFile("app.exe", "rondoapp", "RONDO.EXE|rondo.exe");
        int n = 0;
        for (const std::string& name : configNames)
            AddFile("cfg" + std::to_string(n++), "rondoconfig", name);
        AddFile("readme", "docs", "README.TXT|readme.txt");
        host::SetProperty("DEFAULT_HARBOR_CONFIG", "earlier.ini");
    }

    static void AddFile(const std::string& key, const std::string& component,
                        const std::string& name) {
        using host::Field;
        host::AddRow("File",
                     {Field::Text(key), Field::Text(component), Field::Text(name), Field::Int(100),
                      Field::Text(""), Field::Text(""), Field::Int(0), Field::Int(1)});
    }

    static std::vector<ConfigRow> Rows() {
        std::vector<ConfigRow> rows;
        for (const host::TableRow& row : host::TableRows("ComboBox")) {
            EXPECT_TRUE(row.temporary);
            EXPECT_EQ(row.fields[0].text, "DEFAULT_HARBOR_CONFIG");
            rows.emplace_back(row.fields[1].integer, row.fields[2].text, row.fields[3].text);
        }
        return rows;
    }
};

TEST_F(HarborChoiceTest, ListsComponentFilesAsChoices) {
    struct Case {
        const char* what;
        std::vector<std::string> names;
        UINT result;
        std::vector<ConfigRow> rows;
        const char* count;  // NUM_CONFIGS; null: not written
        const char* chosen; // DEFAULT_HARBOR_CONFIG
    } cases[] = {
        {"short and long names",
         {"FIRST~1.INI|first.cfg.ini", "SECOND.INI|second.ini"},
         0,
         {{0, "first.cfg.ini", "first"}, {1, "second.ini", "second"}},
         "2",
         "first.cfg.ini"},
        {"single name used whole", {"plain.ini"}, 0, {{0, "plain.ini", "plain"}}, "1", "plain.ini"},
        {"long name without a dot", {"READ|readme"}, 0, {{0, "readme", "readme"}}, "1", "readme"},
        {"long name after the first bar",
         {"A|b|c.ini"},
         0,
         {{0, "b|c.ini", "b|c"}},
         "1",
         "b|c.ini"},
        {"bar without a long name",
         {"NAME|", "two.ini"},
         0,
         {{0, "", ""}, {1, "two.ini", "two"}},
         "2",
         nullptr},
        {"three files",
         {"a.ini", "B|b.ini", "c"},
         0,
         {{0, "a.ini", "a"}, {1, "b.ini", "b"}, {2, "c", "c"}},
         "3",
         "a.ini"},
        {"no file in the component", {}, 2, {}, nullptr, "earlier.ini"},
        {"first name empty", {"", "b.ini"}, 0, {}, nullptr, "earlier.ini"},
        {"later name empty", {"a.ini", ""}, 0, {}, nullptr, "earlier.ini"},
    };
    for (const Case& c : cases) {
        Scene(c.names);
        EXPECT_EQ(PopulateHarborChoices(session), c.result) << c.what;
        EXPECT_EQ(Rows(), c.rows) << c.what;
        EXPECT_EQ(host::GetProperty("NUM_CONFIGS"),
                  c.count ? std::optional<std::string>(c.count) : std::nullopt)
            << c.what;
        EXPECT_EQ(host::GetProperty("DEFAULT_HARBOR_CONFIG"),
                  c.chosen ? std::optional<std::string>(c.chosen) : std::nullopt)
            << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

TEST_F(HarborChoiceTest, ClosesOnlyTheHandlesItOpened) {
    Scene({"a.ini", "b.ini"});
    host::ResetCallCount();
    EXPECT_EQ(PopulateHarborChoices(session), 0u);
    const auto& calls = host::CallLog();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "MsiCloseAllHandles"), 0)
        << "it would close the installation handle too under Wine";
    // Scan: database, view, two fetched records; then database, view and
    // record for each of the two rows.
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "MsiCloseHandle"), 10);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "MsiViewClose"), 3);
}

TEST_F(HarborChoiceTest, EngineFailuresAreReportedBeforeAnythingIsWritten) {
    struct Case {
        const char* what;
        const char* failedCall;
        int nth;
        DWORD error;
        UINT result;
        std::size_t rows;
        const char* count;
        const char* chosen;
    } cases[] = {
        {"query refused", "MsiDatabaseOpenViewA", 1, 1615, 1615, 0, nullptr, "earlier.ini"},
        {"no database", "MsiGetActiveDatabase", 1, 0, ERROR_INVALID_HANDLE, 0, nullptr,
         "earlier.ini"},
        {"execute refused", "MsiViewExecute", 1, 1627, 1627, 0, nullptr, "earlier.ini"},
        {"first fetch fails", "MsiViewFetch", 1, 1627, 1627, 0, nullptr, "earlier.ini"},
        {"second fetch fails", "MsiViewFetch", 2, 1627, 1627, 0, nullptr, "earlier.ini"},
        {"name length unreadable", "MsiRecordGetStringA", 1, 1627, 1627, 0, nullptr, "earlier.ini"},
        {"name unreadable", "MsiRecordGetStringA", 2, 1627, 1627, 0, nullptr, "earlier.ini"},
        {"count not written", "MsiSetPropertyA", 1, 1627, 1627, 0, nullptr, "earlier.ini"},
        {"default not written", "MsiSetPropertyA", 2, 0, 0, 2, "2", "earlier.ini"},
        {"first insert refused", "MsiViewModify", 1, 0, 0, 1, "2", "a.ini"},
        {"second view refused", "MsiDatabaseOpenViewA", 3, 0, 0, 1, "2", "a.ini"},
        {"first record not made", "MsiCreateRecord", 1, 0, 0, 1, "2", "a.ini"},
    };
    for (const Case& c : cases) {
        Scene({"a.ini", "b.ini"});
        host::FailCall(c.failedCall, c.nth, c.error);
        EXPECT_EQ(PopulateHarborChoices(session), c.result) << c.what;
        EXPECT_EQ(host::TableRows("ComboBox").size(), c.rows) << c.what;
        EXPECT_EQ(host::GetProperty("NUM_CONFIGS"),
                  c.count ? std::optional<std::string>(c.count) : std::nullopt)
            << c.what;
        EXPECT_EQ(host::GetProperty("DEFAULT_HARBOR_CONFIG"), std::string(c.chosen)) << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

class ConfigureHarborTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        dir = host::MakeTempDir();
        host::WriteHostFile(dir + "/second.ini", "[harbor]\nmode=2\n");
        host::WriteHostFile(dir + "/tessel.ini", "[harbor]\nmode=old\n");
        host::SetDeferred(true);
    }
    std::string dir;
};

TEST_F(ConfigureHarborTest, CopiesChosenFileBesideItself) {
    host::SetProperty("CustomActionData", host::WinPath(dir + "/second.ini"));
    EXPECT_EQ(ConfigureHarbor(session), 0u);
    EXPECT_EQ(host::ReadHostFile(dir + "/tessel.ini"), "[harbor]\nmode=2\n");
    EXPECT_EQ(host::ReadHostFile(dir + "/second.ini"), "[harbor]\nmode=2\n");
    EXPECT_TRUE(host::ForbiddenPropertyAccesses().empty())
        << "a deferred action may read only CustomActionData";
}

TEST_F(ConfigureHarborTest, FailedCopyIsNotReportedAndKeepsEarlierFile) {
    struct Case {
        const char* what;
        std::string source;
        bool readOnlyTarget;
        const char* failedCall;
    } cases[] = {
        {"missing source", dir + "/missing.ini", false, nullptr},
        {"read-only target", dir + "/second.ini", true, nullptr},
        {"copy refused", dir + "/second.ini", false, "CopyFileA"},
    };
    for (const Case& c : cases) {
        host::ClearFaults();
        host::SetReadOnly(dir + "/tessel.ini", c.readOnlyTarget);
        if (c.failedCall)
            host::FailCall(c.failedCall);
        host::SetProperty("CustomActionData", host::WinPath(c.source));
        EXPECT_EQ(ConfigureHarbor(session), 0u) << c.what;
        EXPECT_EQ(host::ReadHostFile(dir + "/tessel.ini"), "[harbor]\nmode=old\n") << c.what;
    }
}

TEST_F(ConfigureHarborTest, NoPathGivesFileNotFound) {
    struct Case {
        const char* what;
        bool set;
        bool failRead;
    } cases[] = {{"empty", true, false}, {"absent", false, false}, {"unreadable", true, true}};
    for (const Case& c : cases) {
        host::ClearFaults();
        host::RemoveProperty("CustomActionData");
        if (c.set)
            host::SetProperty("CustomActionData",
                              c.failRead ? host::WinPath(dir + "/second.ini") : "");
        if (c.failRead)
            host::FailCall("MsiGetPropertyA");
        host::ResetCallCount();
        EXPECT_EQ(ConfigureHarbor(session), 2u) << c.what;
        const auto& calls = host::CallLog();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "CopyFileA"), 0) << c.what;
        EXPECT_EQ(host::ReadHostFile(dir + "/tessel.ini"), "[harbor]\nmode=old\n") << c.what;
    }
}

} // namespace

namespace {

VANTOR_SWEEP(PopulateHarborChoices, "two configuration files",
             [](SweepScene&) {
                 using host::Field;
                 host::AddTable("File", {"File", "Component_", "FileName"});
                 host::AddTable("ComboBox", {"Property", "Order", "Value", "Text"}, 2);
                 host::AddRow("File", {Field::Text("a"), Field::Text("rondoconfig"),
                                       Field::Text("FIRST~1.INI|first.cfg.ini")});
                 host::AddRow("File", {Field::Text("b"), Field::Text("rondoconfig"),
                                       Field::Text("second.ini")});
             },
             {ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER, ERROR_BAD_QUERY_SYNTAX,
              ERROR_FUNCTION_FAILED});
VANTOR_SWEEP(ConfigureHarbor, "replace tessel.ini",
             [](SweepScene& scene) {
                 const std::string dir = host::MakeTempDir();
                 host::WriteHostFile(dir + "/second.ini", "mode=2\n");
                 host::WriteHostFile(dir + "/tessel.ini", "mode=old\n");
                 host::SetProperty("CustomActionData", host::WinPath(dir + "/second.ini"));
                 host::SetDeferred(true);
                 scene.watchedFiles = {dir + "/tessel.ini", dir + "/second.ini"};
             },
             {ERROR_FILE_NOT_FOUND});

} // namespace
