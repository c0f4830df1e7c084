// The nine patch actions on copies of the fixture applications, called with a
// real installer session: the checks read the record back out of the file
// with a search of their own, and compare every other byte with the fixture.
#include "engine_session.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

using namespace engine;

namespace {

const std::string kCompany = "SOFTWARE\\Vantor Technology";
const std::string kProduct = "{0C8A4E51-2B6D-4F0E-9A37-5D1C2E3F4A31}";
const std::string kMarker("patch_info3", 12); // with its zero byte
constexpr std::size_t kRecordSize = 34;

struct App {
    const char* action;
    const char* file;
    int layout;
};

constexpr App kApps[] = {
    {"RondoApplyPatchInfo", "rondo32.exe", 3},
    {"RondoDemoApplyPatchInfo", "RONDOdemo.exe", 3},
    {"FathomApplyPatchInfo", "fathom.exe", 1},
    {"QuillApplyPatchInfo", "quill.exe", 1},
    {"LarchApplyPatchInfo", "larch32.exe", 1},
    {"TernApplyPatchInfo", "TERN32.exe", 1},
    {"RondoApplyPatchInfoHarbor", "Solvane CMS.exe", 3},
    {"RondoApplyPatchInfoMistral", "Corvid Vigilo.exe", 3},
    {"SableApplyPatchInfo", "sable32.exe", 2},
};

// The applications are built into build/<arch>/fixtures, two folders above
// this program's own (build/<arch>/e2e/engine).
std::string AppFixture(const char* name) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder(self);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + "..\\..\\fixtures\\" + name;
}

// The eight fields of the data string, in the package's order.
struct Data {
    std::string installDir;
    std::string converter;
    std::string version;
    std::string parPort;
    std::string comPort;
    std::string language;
    std::string serial;
    std::string reinstallMode;

    std::string Text() const {
        return "X" + installDir + "|X" + converter + "|X" + version + "|X" + parPort + "|X" +
               comPort + "|X" + language + "|X" + serial + "|X" + reinstallMode;
    }
};

// What one application's record must carry.
struct Values {
    std::uint16_t converter;
    std::uint16_t port;
    std::uint16_t country;
    std::string serial; // the 8 bytes of the field, zero-padded here
    std::uint16_t version;
};

void PutU16(std::string* record, std::size_t at, std::uint16_t value) {
    (*record)[at] = static_cast<char>(value & 0xFF);
    (*record)[at + 1] = static_cast<char>(value >> 8);
}

std::string Record(const Values& values) {
    std::string record = kMarker + std::string(kRecordSize - kMarker.size(), '\0');
    PutU16(&record, 12, values.converter);
    PutU16(&record, 16, values.port);
    PutU16(&record, 20, values.country);
    record.replace(24, values.serial.size(), values.serial);
    PutU16(&record, 32, values.version);
    return record;
}

std::uint64_t Join(const FILETIME& time) {
    return (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct Times {
    std::uint64_t created = 0;
    std::uint64_t written = 0;
};

Times TimesOf(const std::string& path) {
    Times times;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        times.created = Join(data.ftCreationTime);
        times.written = Join(data.ftLastWriteTime);
    }
    return times;
}

// 2001-02-03 04:05:06 UTC: far from any time a test run could produce.
constexpr std::uint64_t kOldTime = 126253143060000000ull;

bool SetAllTimes(const std::string& path, std::uint64_t value) {
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    const BOOL ok = SetFileTime(file, &time, &time, &time);
    CloseHandle(file);
    return ok != FALSE;
}

class PatchActions : public ::testing::Test {
  protected:
    void SetUp() override {
        LONG cleared = DeleteTree(kCompany);
        ASSERT_TRUE(cleared == ERROR_SUCCESS || cleared == ERROR_FILE_NOT_FOUND) << cleared;
        ASSERT_TRUE(library_.loaded()) << "cannot load " << library_.path();
        ASSERT_NE(session_.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session_.openResult();
        ASSERT_EQ(session_.Set("ProductCode", kProduct), ERROR_SUCCESS);
        for (const App& app : kApps) {
            ASSERT_TRUE(library_.Exports(app.action)) << app.action;
            std::string bytes = ReadText(AppFixture(app.file));
            ASSERT_NE(bytes, "<missing>") << AppFixture(app.file);
            const std::size_t at = bytes.find(kMarker);
            ASSERT_NE(at, std::string::npos) << app.file << " carries no record";
            ASSERT_EQ(bytes.find(kMarker, at + 1), std::string::npos)
                << app.file << " carries two records";
            ASSERT_LE(at + kRecordSize, bytes.size()) << app.file;
        }
    }
    void TearDown() override { DeleteTree(kCompany); }

    // The installation folder as the engine forms it: with its separator.
    std::string InstallDir() const { return dir_.path() + "\\"; }
    std::string Installed(const App& app) const { return InstallDir() + app.file; }

    // A fresh copy of the application in the installation folder, its times
    // all set to kOldTime.
    void Install(const App& app) {
        const std::string target = Installed(app);
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(CopyFileA(AppFixture(app.file).c_str(), target.c_str(), FALSE)) << app.file;
        ASSERT_TRUE(SetAllTimes(target, kOldTime)) << app.file;
    }

    UINT Run(const App& app, const Data& data) {
        EXPECT_EQ(session_.Set("CustomActionData", data.Text()), ERROR_SUCCESS);
        return library_.Call(app.action, session_.handle());
    }

    // The installed copy holds `record` in place of the fixture's record,
    // every other byte as shipped, and the times it had before the patch.
    void ExpectPatched(const App& app, const std::string& record, const char* what) {
        const std::string shipped = ReadText(AppFixture(app.file));
        const std::string patched = ReadText(Installed(app));
        const std::size_t at = shipped.find(kMarker);
        ASSERT_EQ(patched.size(), shipped.size()) << app.file << " (" << what << ")";
        EXPECT_EQ(patched.substr(at, kRecordSize), record) << app.file << " (" << what << ")";
        EXPECT_EQ(patched.substr(0, at), shipped.substr(0, at)) << app.file << " (" << what << ")";
        EXPECT_EQ(patched.substr(at + kRecordSize), shipped.substr(at + kRecordSize))
            << app.file << " (" << what << ")";
        const Times times = TimesOf(Installed(app));
        EXPECT_EQ(times.created, kOldTime) << app.file << " (" << what << ")";
        EXPECT_EQ(times.written, kOldTime) << app.file << " (" << what << ")";
    }

    Session session_;
    ActionLibrary library_{"VantorSetup.dll"};
    ScratchDir dir_{"vantor-patch"};
};

// The device code each layout gives, and the device's port in the record.
struct Device {
    const char* what;
    Data data;              // installDir filled in by the test
    std::uint16_t codes[3]; // layouts 1, 2, 3
    Values values;          // converter taken from codes
    bool demoSerial;        // layout 1 writes "DEMO" over the serial number
};

TEST_F(PatchActions, FirstInstallationWritesEachApplicationsRecord) {
    const Device devices[] = {
        {"USB scope 3001, German",
         {"", "3001", "1.0.0", "1", "3", "1031", "AB123", ""},
         {3200, 3000, 3001},
         {0, 0, 49, std::string("AB123\0\0\0", 8), 1000},
         false},
        {"serial converter 16 on COM3, Portuguese, 8-character serial",
         {"", "16", "6.10.3", "2", "3", "2070", "ABCDEFGH", ""},
         {16, 0, 16},
         {0, 3, 351, "ABCDEFGH", 6103},
         false},
        {"parallel scope 12 on LPT2, English",
         {"", "12", "70.0.0", "2", "5", "1033", "S1", ""},
         {12, 12, 12},
         {0, 2, 44, std::string("S1\0\0\0\0\0\0", 8), 4464},
         false},
        {"demonstration source, Swedish",
         {"", "99", "2.5.1", "", "", "1053", "ABCDEFGH", ""},
         {99, 0, 99},
         {0, 0, 46, "ABCDEFGH", 2051},
         true},
    };
    for (const Device& device : devices) {
        for (const App& app : kApps) {
            Install(app);
            Data data = device.data;
            data.installDir = InstallDir();
            EXPECT_EQ(Run(app, data), 0u) << app.action << " (" << device.what << ")";
            Values values = device.values;
            values.converter = device.codes[app.layout - 1];
            if (device.demoSerial && app.layout == 1)
                values.serial = std::string("DEMO\0FGH", 8);
            ExpectPatched(app, Record(values), device.what);
        }
    }
}

TEST_F(PatchActions, MaintenanceRunWritesTheChoicesCachedAtInstallation) {
    // The first installation's choices, cached as the package does.
    ASSERT_EQ(session_.Set("DEFAULT_CONVERTER", "16"), ERROR_SUCCESS);
    ASSERT_EQ(session_.Set("DEFAULT_COM_PORT", "4"), ERROR_SUCCESS);
    ASSERT_EQ(session_.Set("DEFAULT_PAR_PORT", "2"), ERROR_SUCCESS);
    ASSERT_EQ(session_.Set("SERIAL_NUMBER", "CD456"), ERROR_SUCCESS);
    ASSERT_EQ(library_.Call("CacheProperties", session_.handle()), 0u);

    // The repair's own choices differ in every cached value; its language
    // and version are its own.
    const Data repair{InstallDir(), "3001", "1.2.3", "1", "3", "1031", "AB123", "vomus"};
    const std::uint16_t codes[3] = {16, 0, 16};
    for (const App& app : kApps) {
        Install(app);
        EXPECT_EQ(Run(app, repair), 0u) << app.action;
        ExpectPatched(app,
                      Record({codes[app.layout - 1], 4, 49, std::string("CD456\0\0\0", 8), 1023}),
                      "repair");
    }
}

TEST_F(PatchActions, MaintenanceRunWithoutACacheTakesConverter100) {
    // No cache key at all: the converter read fails and counts as 100, a
    // parallel scope whose port cannot be read either; the serial number is
    // empty.
    const Data repair{InstallDir(), "3001", "1.0.0", "1", "3", "1031", "AB123", "omus"};
    for (const App& app : kApps) {
        Install(app);
        EXPECT_EQ(Run(app, repair), 0u) << app.action;
        ExpectPatched(app, Record({100, 0, 49, std::string(8, '\0'), 1000}), "no cache");
    }
}

TEST_F(PatchActions, APatchThatCannotBeMadeLeavesTheFileAndSucceeds) {
    const App& rondo = kApps[0];
    const App& fathom = kApps[2];
    struct Case {
        const char* what;
        Data data;
    } cases[] = {
        {"language without a country code", {"*", "3001", "1.0.0", "1", "3", "1042", "AB", ""}},
        {"no language", {"*", "3001", "1.0.0", "1", "3", "", "AB", ""}},
        {"no converter chosen", {"*", "0", "1.0.0", "1", "3", "1031", "AB", ""}},
        {"converter not in the catalogue", {"*", "7", "1.0.0", "1", "3", "1031", "AB", ""}},
        {"version 0.0.0", {"*", "3001", "0.0.0", "1", "3", "1031", "AB", ""}},
        {"version 65.53.6 (65536: low 16 bits 0)",
         {"*", "3001", "65.53.6", "1", "3", "1031", "AB", ""}},
        {"no installation folder", {"", "3001", "1.0.0", "1", "3", "1031", "AB", ""}},
        {"folder without its separator", {"-", "3001", "1.0.0", "1", "3", "1031", "AB", ""}},
    };
    for (const Case& c : cases) {
        for (const App* app : {&rondo, &fathom}) {
            Install(*app);
            Data data = c.data;
            if (data.installDir == "*")
                data.installDir = InstallDir();
            else if (data.installDir == "-")
                data.installDir = dir_.path();
            EXPECT_EQ(Run(*app, data), 0u) << app->action << " (" << c.what << ")";
            EXPECT_EQ(ReadText(Installed(*app)), ReadText(AppFixture(app->file)))
                << app->action << " (" << c.what << ")";
            EXPECT_FALSE(Exists(dir_.path() + app->file)) << app->action << " (" << c.what << ")";
        }
    }

    // A missing application, and one held open without sharing by a running
    // program: nothing to write, and still no failure.
    const Data good{InstallDir(), "3001", "1.0.0", "1", "3", "1031", "AB", ""};
    DeleteFileA(Installed(rondo).c_str());
    EXPECT_EQ(Run(rondo, good), 0u) << "missing";
    EXPECT_FALSE(Exists(Installed(rondo))) << "a missing application is not created";

    Install(fathom);
    HANDLE held = CreateFileA(Installed(fathom).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Run(fathom, good), 0u) << "held open";
    CloseHandle(held);
    EXPECT_EQ(ReadText(Installed(fathom)), ReadText(AppFixture(fathom.file))) << "held open";
}

// Another program (a virus scanner, an indexer) holds the freshly installed
// application open with full sharing while the action runs: the record is
// written all the same. The times are not checked: their exclusive query
// cannot open the file while that handle is held.
TEST_F(PatchActions, ApplicationHeldOpenWithFullSharingIsPatched) {
    const Data data{InstallDir(), "3001", "1.0.0", "1", "3", "1031", "AB123", ""};
    const std::string record = Record({3001, 0, 49, std::string("AB123\0\0\0", 8), 1000});
    for (const App* app : {&kApps[0], &kApps[2]}) {
        Install(*app);
        HANDLE held = CreateFileA(Installed(*app).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << app->file;
        EXPECT_EQ(Run(*app, data), 0u) << app->action;
        CloseHandle(held);
        const std::string shipped = ReadText(AppFixture(app->file));
        const std::size_t at = shipped.find(kMarker);
        std::string expected = record;
        PutU16(&expected, 12, app->layout == 1 ? 3200 : 3001);
        EXPECT_EQ(ReadText(Installed(*app)),
                  shipped.substr(0, at) + expected + shipped.substr(at + kRecordSize))
            << app->action;
    }
}

// INSTALLDIR may come from whoever starts a repair. A folder relative to the
// current one (the action's process has one, whatever it is) is refused and
// the application left as shipped, also where that folder holds one.
TEST_F(PatchActions, AFolderRelativeToTheCurrentOneIsRefused) {
    const App& rondo = kApps[0];
    const std::string apps = dir_.Make("apps");
    const std::string deeper = dir_.Make("apps\\deeper");
    const std::string installed = apps + "\\" + rondo.file;
    const std::string drive = dir_.path().substr(0, 2); // "C:"
    struct Case {
        const char* what;
        std::string current; // the current folder while the action runs
        std::string installDir;
    } cases[] = {
        {"relative", dir_.path(), "apps\\"},
        {"the parent of the current folder", deeper, "..\\"},
        {"up and down again", deeper, "..\\..\\apps\\"},
        {"the drive's current folder", dir_.path(), drive + "apps\\"},
        {"from the current drive's root", dir_.path(), dir_.path().substr(2) + "\\apps\\"},
    };
    char before[MAX_PATH] = "";
    ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, before), 0u);
    for (const Case& c : cases) {
        ASSERT_TRUE(CopyFileA(AppFixture(rondo.file).c_str(), installed.c_str(), FALSE)) << c.what;
        ASSERT_TRUE(SetCurrentDirectoryA(c.current.c_str())) << c.what;
        Data data{c.installDir, "3001", "1.0.0", "1", "3", "1031", "AB123", ""};
        LogCapture log;
        const UINT result = Run(rondo, data);
        SetCurrentDirectoryA(before);
        EXPECT_EQ(result, 0u) << c.what;
        EXPECT_TRUE(ReadText(installed) == ReadText(AppFixture(rondo.file)))
            << c.what << ": the application was changed";
        ASSERT_FALSE(log.lines().empty()) << c.what << ": nothing logged";
        EXPECT_NE(log.lines().back().find("rondo32.exe not patched: "), std::string::npos)
            << c.what << ": " << log.lines().back();
    }
}

// A second name of the application, made by someone who may write its
// folder, would carry the record into a file elsewhere: the action leaves
// the file as shipped under both names.
TEST_F(PatchActions, AnApplicationWithASecondNameIsLeftAsShipped) {
    const Data data{InstallDir(), "3001", "1.0.0", "1", "3", "1031", "AB123", ""};
    for (const App* app : {&kApps[0], &kApps[2]}) {
        Install(*app);
        const std::string second = dir_.Make("elsewhere") + "\\" + app->file;
        ASSERT_TRUE(CreateHardLinkA(second.c_str(), Installed(*app).c_str(), nullptr))
            << app->file << ": " << GetLastError();
        LogCapture log;
        EXPECT_EQ(Run(*app, data), 0u) << app->action;
        EXPECT_TRUE(ReadText(second) == ReadText(AppFixture(app->file)))
            << app->action << ": the application was changed";
        ASSERT_FALSE(log.lines().empty()) << app->action << ": nothing logged";
        EXPECT_EQ(log.lines().back(), "VantorCustomAction: " + Installed(*app) +
                                          " not patched: it has 2 hard links (error 13)")
            << app->action;
        DeleteFileA(second.c_str());
    }
}

TEST_F(PatchActions, PatchingTwiceLeavesTheSameRecord) {
    const Data data{InstallDir(), "3001", "1.0.0", "1", "3", "1031", "AB123", ""};
    for (const App& app : kApps) {
        Install(app);
        ASSERT_EQ(Run(app, data), 0u) << app.action;
        const std::string once = ReadText(Installed(app));
        ASSERT_EQ(Run(app, data), 0u) << app.action;
        EXPECT_EQ(ReadText(Installed(app)), once) << app.action;
    }
}

} // namespace
