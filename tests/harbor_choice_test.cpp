#include "setup/exports.h"
#include "host_fixture.h"
#include "sweep.h"

#include <algorithm>
#include <filesystem>
#include <functional>
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

const std::string kLog = "VantorCustomAction: ";

std::vector<std::string> LinesSince(std::size_t logged) {
    return std::vector<std::string>(host::LogLines().begin() + logged, host::LogLines().end());
}

int CopiesMade() {
    const auto& calls = host::CallLog();
    return int(std::count(calls.begin(), calls.end(), "CopyFileA"));
}

// A copy that cannot be made answers 0, keeps the earlier tessel.ini, and
// says why in one line.
TEST_F(ConfigureHarborTest, FailedCopyAnswersZeroAndSaysWhy) {
    struct Case {
        const char* what;
        const char* source;
        std::function<void(const std::string& tessel)> arrange;
        const char* why; // after "<tessel.ini> not replaced: "; "@" stands for the source
    } cases[] = {
        {"missing source", "missing.ini", [](const std::string&) {}, "copy of @ failed (error 2)"},
        {"read-only target", "second.ini", [](const std::string& t) { host::SetReadOnly(t); },
         "copy of @ failed (error 5)"},
        {"copy refused", "second.ini",
         [](const std::string&) { host::FailCall("WriteFile", 0, 112); },
         "copy of @ failed (error 112)"},
        {"target held open by another process", "second.ini",
         [](const std::string& t) { host::LockFile(t); }, "it cannot be examined (error 32)"},
    };
    for (const Case& c : cases) {
        host::ClearFaults();
        host::SetReadOnly(dir + "/tessel.ini", false);
        host::LockFile(dir + "/tessel.ini", false);
        c.arrange(dir + "/tessel.ini");
        const std::string source = host::WinPath(dir + "/" + c.source);
        std::string why = c.why;
        if (why.find('@') != std::string::npos)
            why.replace(why.find('@'), 1, source);
        const std::size_t logged = host::LogLines().size();
        host::SetProperty("CustomActionData", source);
        EXPECT_EQ(ConfigureHarbor(session), 0u) << c.what;
        host::LockFile(dir + "/tessel.ini", false);
        EXPECT_EQ(host::ReadHostFile(dir + "/tessel.ini"), "[harbor]\nmode=old\n") << c.what;
        ASSERT_EQ(host::LogLines().size(), logged + 1) << c.what;
        EXPECT_EQ(host::LogLines().back(),
                  kLog + host::WinPath(dir + "/tessel.ini") + " not replaced: " + why);
    }
}

// Only "<drive>:\\..." with nothing that could lead elsewhere is taken; a
// refused value copies nothing anywhere.
TEST_F(ConfigureHarborTest, TakesOnlyAPlainAbsolutePath) {
    std::filesystem::create_directories(dir + "/v1..2");
    host::WriteHostFile(dir + "/v1..2/third.ini", "[harbor]\nmode=3\n");
    const std::string folder = host::WinPath(dir); // "C:\\tmp\\vantor-test-..."
    const std::string bare = folder.substr(2);     // without its drive
    struct Case {
        std::string path;
        const char* copied; // tessel.ini afterwards in the chosen file's folder; null: refused
        std::string tessel; // host path of that tessel.ini
    } cases[] = {
        {folder + "\\second.ini", "[harbor]\nmode=2\n", dir + "/tessel.ini"},
        {"c" + folder.substr(1) + "\\second.ini", "[harbor]\nmode=2\n", dir + "/tessel.ini"},
        {folder + "\\v1..2\\third.ini", "[harbor]\nmode=3\n", dir + "/v1..2/tessel.ini"},
        // Refused: not drive-absolute.
        {"second.ini", nullptr, {}},
        {"harbor\\second.ini", nullptr, {}},
        {bare + "\\second.ini", nullptr, {}},
        {"C:" + bare.substr(1) + "\\second.ini", nullptr, {}}, // "C:tmp\\..." : drive-relative
        {"\\\\host\\share\\second.ini", nullptr, {}},
        {"\\\\?\\" + folder + "\\second.ini", nullptr, {}},
        {"\\\\.\\" + folder + "\\second.ini", nullptr, {}},
        {"1:" + bare + "\\second.ini", nullptr, {}},
        // Refused: parts that lead elsewhere.
        {folder + "/second.ini", nullptr, {}},
        {"C:/" + bare.substr(1) + "/second.ini", nullptr, {}},
        {folder + "\\x/..\\second.ini", nullptr, {}},
        {folder + "\\v1..2\\..\\second.ini", nullptr, {}},
        {folder + "\\v1..2\\.. \\second.ini", nullptr, {}},
        {folder + "\\v1..2\\...\\second.ini", nullptr, {}},
        {folder + "\\..", nullptr, {}},
        {folder + "\\second.ini:stream", nullptr, {}},
        {folder + "\\second.ini::$DATA", nullptr, {}},
    };
    for (const Case& c : cases) {
        host::WriteHostFile(dir + "/tessel.ini", "[harbor]\nmode=old\n");
        std::filesystem::remove(dir + "/v1..2/tessel.ini");
        const std::size_t logged = host::LogLines().size();
        host::ResetCallCount();
        host::SetProperty("CustomActionData", c.path);
        if (c.copied) {
            EXPECT_EQ(ConfigureHarbor(session), 0u) << c.path;
            EXPECT_EQ(host::ReadHostFile(c.tessel), c.copied) << c.path;
            EXPECT_EQ(host::LogLines().size(), logged) << c.path;
        } else {
            EXPECT_EQ(ConfigureHarbor(session), 13u) << c.path;
            EXPECT_EQ(CopiesMade(), 0) << c.path;
            EXPECT_EQ(host::ReadHostFile(dir + "/tessel.ini"), "[harbor]\nmode=old\n") << c.path;
            EXPECT_FALSE(host::FileExists(dir + "/v1..2/tessel.ini")) << c.path;
            ASSERT_EQ(host::LogLines().size(), logged + 1) << c.path;
            EXPECT_EQ(host::LogLines().back(),
                      kLog + "Configuration file refused, not a plain absolute path: " + c.path +
                          " (error 13)");
        }
    }
}

// A tessel.ini that is a link, or a second name of another file, is never
// written: the copy would land in the file it leads to.
TEST_F(ConfigureHarborTest, NeverWritesThroughALink) {
    const std::string outside = host::MakeTempDir();
    const std::string victim = outside + "/system.ini";
    struct Case {
        const char* what;
        std::function<void()> plant;
        const char* why; // null: a plain copy
    } cases[] = {
        {"symbolic link to a file", [&] { host::PlantLink(dir + "/tessel.ini", victim); },
         "it is a symbolic link or junction"},
        {"symbolic link to a file not there yet",
         [&] { host::PlantLink(dir + "/tessel.ini", outside + "/new.ini"); },
         "it is a symbolic link or junction"},
        {"junction to a folder", [&] { host::PlantLink(dir + "/tessel.ini", outside); },
         "it is a symbolic link or junction"},
        {"hard link", [&] { host::PlantHardLink(dir + "/tessel.ini", victim); },
         "it has 2 hard links"},
        {"no tessel.ini yet", [] {}, nullptr},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(dir + "/tessel.ini");
        std::filesystem::remove(outside + "/new.ini");
        host::WriteHostFile(victim, "[system]\n");
        c.plant();
        const std::size_t logged = host::LogLines().size();
        host::ResetCallCount();
        host::SetProperty("CustomActionData", host::WinPath(dir + "/second.ini"));
        EXPECT_EQ(ConfigureHarbor(session), c.why ? 13u : 0u) << c.what;
        EXPECT_EQ(host::ReadHostFile(victim), "[system]\n") << c.what;
        EXPECT_FALSE(host::FileExists(outside + "/new.ini")) << c.what;
        EXPECT_FALSE(host::FileExists(outside + "/second.ini")) << c.what;
        if (c.why) {
            EXPECT_EQ(CopiesMade(), 0) << c.what;
            EXPECT_EQ(LinesSince(logged),
                      std::vector<std::string>{kLog + "Refused to replace " +
                                               host::WinPath(dir + "/tessel.ini") + ": " + c.why +
                                               " (error 13)"})
                << c.what;
        } else {
            EXPECT_EQ(host::ReadHostFile(dir + "/tessel.ini"), "[harbor]\nmode=2\n") << c.what;
        }
    }
}

// The copy goes through the two handles that were checked: tessel.ini is
// opened (created when missing), checked, and written from its start with
// the source's bytes and nothing after them; nothing is opened, copied,
// moved or deleted by name after the checks. A copy that fails part-way
// puts the earlier tessel.ini back, or removes the one it created.
TEST_F(ConfigureHarborTest, CopiesThroughTheCheckedHandles) {
    const std::string big(100000, 'b'); // more than one piece read
    const std::string older = "[harbor]\nmode=old and longer\n";
    struct Case {
        const char* what;
        std::string source;
        std::optional<std::string> earlier; // tessel.ini before; none: missing
        std::function<void()> arrange;
        UINT result;
        std::optional<std::string> after; // none: missing
        const char* why;                  // the one line ("@": the source), empty: none
    } cases[] = {
        {"a longer tessel.ini is cut to the source's length", "[h]\n", older, [] {}, 0,
         std::string("[h]\n"), ""},
        {"a shorter one grows", big, std::string("x"), [] {}, 0, big, ""},
        {"none yet: created", big, std::nullopt, [] {}, 0, big, ""},
        {"an empty source empties it", "", older, [] {}, 0, std::string(), ""},
        {"the length cannot be set: the earlier one is put back", "[h]\n", older,
         [] { host::FailCall("SetEndOfFile", 1, ERROR_DISK_FULL); }, 0, older,
         "@TESSEL not replaced: copy of @ failed (error 112)"},
        {"nor can it be put back", "[h]\n", older,
         [] {
             host::FailCall("SetEndOfFile", 1, ERROR_DISK_FULL);
             host::FailCall("WriteFile", 2, ERROR_WRITE_FAULT);
         },
         0, "[h]\n" + older.substr(4),
         "@TESSEL not replaced: copy of @ failed (error 112); the earlier tessel.ini cannot be "
         "put back (error 29)"},
        {"a tessel.ini it created and cannot write is removed", "[h]\n", std::nullopt,
         [] { host::FailCall("WriteFile", 1, ERROR_DISK_FULL); }, 0, std::nullopt,
         "@TESSEL not replaced: copy of @ failed (error 112)"},
        {"the source is a link", "", older,
         [this] {
             host::WriteHostFile(dir + "/secret.ini", "[secret]\n");
             std::filesystem::remove(dir + "/source.ini");
             host::PlantLink(dir + "/source.ini", dir + "/secret.ini");
         },
         13, older, "Refused to copy @: it is a symbolic link or junction (error 13)"},
        {"the source has a second name", "[h]\n", older,
         [this] { host::PlantHardLink(dir + "/secret.ini", dir + "/source.ini"); }, 13, older,
         "Refused to copy @: it has 2 hard links (error 13)"},
        {"the source's final path cannot be read", "[h]\n", older,
         [] { host::FailCall("GetFinalPathNameByHandleA", 1, ERROR_INVALID_HANDLE); }, 0, older,
         "@TESSEL not replaced: @: its final path cannot be read (error 6)"},
        {"tessel.ini's final path cannot be read", "[h]\n", older,
         [] { host::FailCall("GetFinalPathNameByHandleA", 2, ERROR_INVALID_HANDLE); }, 0, older,
         "@TESSEL not replaced: its final path cannot be read (error 6)"},
        {"a new tessel.ini whose final path cannot be read is removed", "[h]\n", std::nullopt,
         [] { host::FailCall("GetFinalPathNameByHandleA", 2, ERROR_INVALID_HANDLE); }, 0,
         std::nullopt, "@TESSEL not replaced: its final path cannot be read (error 6)"},
    };
    const std::string source = host::WinPath(dir + "/source.ini");
    const std::string tessel = host::WinPath(dir + "/tessel.ini");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host::ClearFaults();
        for (const char* name : {"/source.ini", "/secret.ini", "/tessel.ini"})
            std::filesystem::remove(dir + name);
        host::WriteHostFile(dir + "/source.ini", c.source);
        if (c.earlier)
            host::WriteHostFile(dir + "/tessel.ini", *c.earlier);
        c.arrange();
        host::ResetCallCount();
        const std::size_t logged = host::LogLines().size();
        host::SetProperty("CustomActionData", source);
        EXPECT_EQ(ConfigureHarbor(session), c.result);
        host::ClearFaults();
        EXPECT_EQ(host::FileExists(dir + "/tessel.ini"), c.after.has_value());
        if (c.after) {
            EXPECT_EQ(host::ReadHostFile(dir + "/tessel.ini"), *c.after);
        }
        std::vector<std::string> lines;
        if (*c.why) {
            std::string why = c.why;
            if (why.rfind("@TESSEL", 0) == 0)
                why.replace(0, 7, tessel);
            for (std::size_t at = why.find('@'); at != std::string::npos; at = why.find('@', at))
                why.replace(at, 1, source), at += source.size();
            lines.push_back(kLog + why);
        }
        EXPECT_EQ(LinesSince(logged), lines);
        // After the last look at a final path only the copy through the two
        // handles remains, and the release of the two.
        const auto& calls = host::CallLog();
        const auto lastCheck =
            std::find(calls.rbegin(), calls.rend(), "GetFinalPathNameByHandleA").base();
        if (c.result == 0 && !*c.why) {
            for (auto call = lastCheck; call != calls.end(); ++call)
                EXPECT_TRUE(*call == "ReadFile" || *call == "WriteFile" ||
                            *call == "SetFilePointerEx" || *call == "SetEndOfFile" ||
                            *call == "CloseHandle")
                    << *call;
        }
    }
}

TEST_F(ConfigureHarborTest, NoPathGivesFileNotFound) {
    struct Case {
        const char* what;
        bool set;
        bool failRead;
        const char* log;
    } cases[] = {
        {"empty", true, false,
         "tessel.ini not replaced: CustomActionData is empty: is the type-51 action that sets it "
         "missing? (error 2)"},
        {"absent", false, false,
         "tessel.ini not replaced: CustomActionData is empty: is the type-51 action that sets it "
         "missing? (error 2)"},
        {"unreadable", true, true,
         "tessel.ini not replaced: CustomActionData cannot be read (error 1603)"},
    };
    for (const Case& c : cases) {
        host::ClearFaults();
        host::RemoveProperty("CustomActionData");
        if (c.set)
            host::SetProperty("CustomActionData",
                              c.failRead ? host::WinPath(dir + "/second.ini") : "");
        if (c.failRead)
            host::FailCall("MsiGetPropertyA");
        host::ResetCallCount();
        const std::size_t logged = host::LogLines().size();
        EXPECT_EQ(ConfigureHarbor(session), 2u) << c.what;
        EXPECT_EQ(LinesSince(logged), std::vector<std::string>{kLog + c.log}) << c.what;
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
// Whichever call fails, nothing is written through the link.
VANTOR_SWEEP(ConfigureHarbor, "tessel.ini is a link",
             [](SweepScene& scene) {
                 const std::string dir = host::MakeTempDir();
                 const std::string victim = host::MakeTempDir() + "/system.ini";
                 host::WriteHostFile(dir + "/second.ini", "mode=2\n");
                 host::WriteHostFile(victim, "[system]\n");
                 host::PlantLink(dir + "/tessel.ini", victim);
                 host::SetProperty("CustomActionData", host::WinPath(dir + "/second.ini"));
                 host::SetDeferred(true);
                 scene.watchedFiles = {victim, dir + "/second.ini"};
             },
             {ERROR_SUCCESS, ERROR_FILE_NOT_FOUND});

} // namespace
