#include "host_fixture.h"
#include "patch_test_support.h"
#include "setup/exports.h"
#include "setup/patch/executable_patcher.h"
#include "sweep.h"

#include <functional>
#include <optional>

using namespace vantor;
using namespace patchtest;

namespace {

constexpr const char* kProductCode = "{6F1A3C52-7B0E-4D8A-9C21-5E3B7A90D412}";
constexpr const char* kCacheKey =
    "SOFTWARE\\Vantor Technology\\{6F1A3C52-7B0E-4D8A-9C21-5E3B7A90D412}";
constexpr std::size_t kRecordAt = 700;

// The package's choices, as the type-51 action lays them out in
// CustomActionData: eight "X"-prefixed fields.
struct Choices {
    std::string installDir;
    std::string converter = "3001";
    std::string version = "6.1.7";
    std::string parPort = "2";
    std::string comPort = "3";
    std::string language = "1031";
    std::string serial = "AB123";
    std::string reinstallMode;

    std::string Data() const {
        return "X" + installDir + "|X" + converter + "|X" + version + "|X" + parPort + "|X" +
               comPort + "|X" + language + "|X" + serial + "|X" + reinstallMode;
    }
};

struct Expected {
    std::uint16_t code, port, country;
    std::string serial; // up to 8 bytes; the rest of the field is zero
    std::uint16_t version;

    std::string Bytes() const {
        PatchInfo record = EmptyPatchInfo();
        record.converterCode = code;
        record.port = port;
        record.countryCode = country;
        std::memcpy(record.serialNumber, serial.data(), std::min<std::size_t>(serial.size(), 8));
        record.version = version;
        return patchtest::Bytes(record);
    }
};

// Written in one piece: marker, zero reserved pairs, this run's language and
// version, and nothing left of the shipped values.
bool WholeNewRecord(const std::string& bytes) {
    const PatchInfo record = RecordAt(bytes, 0);
    return std::memcmp(record.marker, kPatchMarker, 12) == 0 && record.reserved1 == 0 &&
           record.reserved2 == 0 && record.reserved3 == 0 && record.countryCode == 49 &&
           record.version == 6017 && record.converterCode != 0xEEEE && record.port != 0xEEEE &&
           std::string(record.serialNumber, 8).find("OLD") == std::string::npos;
}

using Action = UINT(WINAPI*)(MSIHANDLE);

struct App {
    Action action;
    const char* file;
    int layout;
};
constexpr App kApps[] = {
    {RondoApplyPatchInfo, "rondo32.exe", 3},
    {RondoDemoApplyPatchInfo, "RONDOdemo.exe", 3},
    {FathomApplyPatchInfo, "fathom.exe", 1},
    {QuillApplyPatchInfo, "quill.exe", 1},
    {LarchApplyPatchInfo, "larch32.exe", 1},
    {TernApplyPatchInfo, "TERN32.exe", 1},
    {RondoApplyPatchInfoHarbor, "Solvane CMS.exe", 3},
    {RondoApplyPatchInfoMistral, "Corvid Vigilo.exe", 3},
    {SableApplyPatchInfo, "sable32.exe", 2},
};

struct ValueCase {
    const char* what;
    std::function<void(Choices&)> choose;
    std::optional<Expected> record; // none: the application stays as shipped
};

class PatchActionTest : public HostTest {
  protected:
    std::string dir;
    std::string shipped = AppImage(3000, {kRecordAt});

    void SetUp() override {
        HostTest::SetUp();
        dir = host::MakeTempDir(); // after the reset, which removes temporary folders
        host::SetProperty("ProductCode", kProductCode);
        InstallApps();
    }

    void InstallApps() {
        for (const App& app : kApps)
            host::WriteHostFile(Path(app.file), shipped);
    }
    std::string Path(const char* file) const { return dir + "/" + file; }
    std::string RecordOf(const char* file) const {
        return host::ReadHostFile(Path(file)).substr(kRecordAt, 34);
    }
    Choices Default() const {
        Choices c;
        c.installDir = host::WinPath(dir) + "\\";
        return c;
    }

    // Runs the action as the engine runs a deferred action: only
    // CustomActionData and ProductCode can be read.
    UINT RunDeferred(Action action, const std::optional<std::string>& data) {
        if (data)
            host::SetProperty("CustomActionData", *data);
        else
            host::RemoveProperty("CustomActionData");
        host::SetDeferred(true);
        const std::size_t logged = host::LogLines().size();
        const UINT result = action(session);
        host::SetDeferred(false);
        EXPECT_TRUE(host::ForbiddenPropertyAccesses().empty())
            << "first forbidden access: " << host::ForbiddenPropertyAccesses().front();
        const std::size_t added = host::LogLines().size() - logged;
        // A fault may hit the log message itself.
        if (faulted)
            EXPECT_LE(added, 1u) << "each call logs one line";
        else
            EXPECT_EQ(added, 1u) << "each call logs one line";
        lastLine = added ? host::LogLines().back() : std::string();
        return result;
    }
    // On for runs with an injected fault.
    bool faulted = false;
    // The line the last run logged, "" for none.
    std::string lastLine;

    void RunCases(Action action, const char* file, const std::vector<ValueCase>& cases) {
        for (const ValueCase& c : cases) {
            SCOPED_TRACE(c.what);
            InstallApps();
            Choices choices = Default();
            c.choose(choices);
            EXPECT_EQ(RunDeferred(action, choices.Data()), 0u);
            EXPECT_EQ(RecordOf(file), c.record ? c.record->Bytes() : Bytes(ShippedRecord()));
        }
    }
};

TEST_F(PatchActionTest, EachActionPatchesItsOwnApplication) {
    for (const App& app : kApps) {
        SCOPED_TRACE(app.file);
        InstallApps();
        EXPECT_EQ(RunDeferred(app.action, Default().Data()), 0u);
        // USB scope 3001: its own id in layout 3, 3000 in layout 2, and
        // layout 1's 3000 corrected to 3200.
        const std::uint16_t code = app.layout == 3 ? 3001 : app.layout == 2 ? 3000 : 3200;
        EXPECT_EQ(RecordOf(app.file), (Expected{code, 0, 49, "AB123", 6017}.Bytes()));
        for (const App& other : kApps) {
            if (&other != &app) {
                EXPECT_EQ(host::ReadHostFile(Path(other.file)), shipped) << other.file;
            }
        }
    }
}

TEST_F(PatchActionTest, ConverterAndPort) {
    const std::vector<ValueCase> cases = {
        {"USB device: port 0, no port read", [](Choices& c) { c.comPort = c.parPort = "9"; },
         Expected{3001, 0, 49, "AB123", 6017}},
        {"serial device takes the COM port", [](Choices& c) { c.converter = "1"; },
         Expected{1, 3, 49, "AB123", 6017}},
        {"COM port 0 means port 1", [](Choices& c) { c.converter = "1", c.comPort = "0"; },
         Expected{1, 1, 49, "AB123", 6017}},
        {"empty COM port means port 1", [](Choices& c) { c.converter = "1", c.comPort = ""; },
         Expected{1, 1, 49, "AB123", 6017}},
        {"COM port text means port 1", [](Choices& c) { c.converter = "1", c.comPort = "COM3"; },
         Expected{1, 1, 49, "AB123", 6017}},
        {"COM port low 16 bits", [](Choices& c) { c.converter = "8", c.comPort = "65540"; },
         Expected{8, 4, 49, "AB123", 6017}},
        {"parallel device takes the LPT port", [](Choices& c) { c.converter = "10"; },
         Expected{10, 2, 49, "AB123", 6017}},
        {"empty LPT port means port 1", [](Choices& c) { c.converter = "212", c.parPort = ""; },
         Expected{212, 1, 49, "AB123", 6017}},
        {"network socket: port 0", [](Choices& c) { c.converter = "255"; },
         Expected{255, 0, 49, "AB123", 6017}},
        {"id with white space and sign", [](Choices& c) { c.converter = "  +2122x"; },
         Expected{2122, 2, 49, "AB123", 6017}},
        {"only the low 16 bits: 100 + 65536", [](Choices& c) { c.converter = "65636"; },
         Expected{100, 2, 49, "AB123", 6017}},
        {"empty converter", [](Choices& c) { c.converter = ""; }, std::nullopt},
        {"converter 0", [](Choices& c) { c.converter = "0"; }, std::nullopt},
        {"converter 65536 is 0", [](Choices& c) { c.converter = "65536"; }, std::nullopt},
        {"converter text", [](Choices& c) { c.converter = "abc"; }, std::nullopt},
        {"unknown converter", [](Choices& c) { c.converter = "7"; }, std::nullopt},
        {"negative converter", [](Choices& c) { c.converter = "-1"; }, std::nullopt},
        {"converter beyond 32 bits", [](Choices& c) { c.converter = "99999999999"; }, std::nullopt},
    };
    RunCases(RondoApplyPatchInfo, "rondo32.exe", cases);
}

TEST_F(PatchActionTest, LanguageAndCountryCode) {
    struct Country {
        const char* lcid;
        std::uint16_t code;
    } countries[] = {{"1029", 42}, {"1031", 49},  {"1033", 44}, {"1034", 34},
                     {"1036", 33}, {"1040", 39},  {"1041", 81}, {"1053", 46},
                     {"2067", 32}, {"2070", 351}, {"66569", 44} /* 1033 + 65536 */};
    std::vector<ValueCase> cases;
    for (const Country& country : countries)
        cases.push_back({country.lcid, [lcid = country.lcid](Choices& c) { c.language = lcid; },
                         Expected{3001, 0, country.code, "AB123", 6017}});
    for (const char* lcid : {"1030", "0", "", "German", "1032", "65536", "-1033"})
        cases.push_back({lcid, [lcid](Choices& c) { c.language = lcid; }, std::nullopt});
    RunCases(RondoApplyPatchInfoHarbor, "Solvane CMS.exe", cases);
}

TEST_F(PatchActionTest, VersionNumber) {
    struct Version {
        const char* text;
        std::optional<std::uint16_t> number;
    } versions[] = {
        {"6.1.7", 6017},
        {"6.10.3", 6103},
        {"70.0.0", 4464},
        {"alpha", 0},
        {"6.1", 6010},
        {"6", 6000},
        {"6.1.7.9", 6017},
        {"6.1.7beta", 6017},
        {" 6. 1. 7", 6017},
        {"0.0.1", 1},
        {"0.0.0", std::nullopt},
        {"x.y", std::nullopt},
        {"", std::nullopt},
        {"Alpha", std::nullopt},
        {"65.536.0", 4824},
        {"65.53.5", 0xFFFF},
        {"65.53.6", std::nullopt},
        // A number of more than ten digits keeps the value of its first
        // ten, and a sign counts as "%d" reads it.
        {"12345678901.0.0", 1104},
        {"-6.1.7", 59553},
    };
    std::vector<ValueCase> cases;
    for (const Version& v : versions) {
        std::optional<Expected> record;
        if (v.number)
            record = Expected{3200, 0, 49, "AB123", *v.number};
        cases.push_back({v.text, [text = v.text](Choices& c) { c.version = text; }, record});
    }
    RunCases(QuillApplyPatchInfo, "quill.exe", cases);
}

TEST_F(PatchActionTest, SerialNumber) {
    const std::vector<ValueCase> cases = {
        {"empty", [](Choices& c) { c.serial = ""; }, Expected{3001, 0, 49, "", 6017}},
        {"seven characters", [](Choices& c) { c.serial = "1234567"; },
         Expected{3001, 0, 49, "1234567", 6017}},
        {"eight characters, no terminator", [](Choices& c) { c.serial = "12345678"; },
         Expected{3001, 0, 49, "12345678", 6017}},
        {"longer: its first eight, the version intact",
         [](Choices& c) { c.serial = "123456789ABCDEF"; }, Expected{3001, 0, 49, "12345678", 6017}},
    };
    RunCases(RondoDemoApplyPatchInfo, "RONDOdemo.exe", cases);
}

TEST_F(PatchActionTest, LayoutCorrections) {
    auto demo = [](Choices& c) { c.converter = "99", c.serial = "ABCDEFGH"; };
    struct Case {
        const char* what;
        Action action;
        const char* file;
        std::function<void(Choices&)> choose;
        Expected record;
    } cases[] = {
        {"layout 1: 3001's 3000 becomes 3200",
         LarchApplyPatchInfo,
         "larch32.exe",
         [](Choices&) {},
         {3200, 0, 49, "AB123", 6017}},
        {"layout 1: 3000 is already 3200",
         LarchApplyPatchInfo,
         "larch32.exe",
         [](Choices& c) { c.converter = "3000"; },
         {3200, 0, 49, "AB123", 6017}},
        {"layout 1: demonstration source",
         TernApplyPatchInfo,
         "TERN32.exe",
         demo,
         {99, 0, 49, std::string("DEMO\0FGH", 8), 6017}},
        {"layout 1: demonstration source, empty serial",
         TernApplyPatchInfo,
         "TERN32.exe",
         [](Choices& c) { c.converter = "99", c.serial = ""; },
         {99, 0, 49, "DEMO", 6017}},
        {"layout 1: no code is written as 0",
         FathomApplyPatchInfo,
         "fathom.exe",
         [](Choices& c) { c.converter = "101"; },
         {0, 2, 49, "AB123", 6017}},
        {"layout 2: 3001 is 3000",
         SableApplyPatchInfo,
         "sable32.exe",
         [](Choices&) {},
         {3000, 0, 49, "AB123", 6017}},
        {"layout 2: demonstration source untouched",
         SableApplyPatchInfo,
         "sable32.exe",
         demo,
         {0, 0, 49, "ABCDEFGH", 6017}},
        {"layout 3: demonstration source untouched",
         RondoApplyPatchInfoMistral,
         "Corvid Vigilo.exe",
         demo,
         {99, 0, 49, "ABCDEFGH", 6017}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallApps();
        Choices choices = Default();
        c.choose(choices);
        EXPECT_EQ(RunDeferred(c.action, choices.Data()), 0u);
        EXPECT_EQ(RecordOf(c.file), c.record.Bytes());
    }
}

// A repair or reinstall writes back the choices of the first installation,
// cached by CacheProperties; language and version are this run's own.
TEST_F(PatchActionTest, MaintenanceRunUsesTheCache) {
    host::SetProperty("DEFAULT_CONVERTER", "1");
    host::SetProperty("DEFAULT_COM_PORT", "4");
    host::SetProperty("DEFAULT_PAR_PORT", "2");
    host::SetProperty("SERIAL_NUMBER", "FIRST");
    ASSERT_EQ(CacheProperties(session), 0u);

    Choices repair = Default();
    repair.converter = "10";
    repair.comPort = "7";
    repair.serial = "SECOND";
    repair.language = "1036";
    repair.version = "7.0.1";
    repair.reinstallMode = "omus";
    EXPECT_EQ(RunDeferred(RondoApplyPatchInfo, repair.Data()), 0u);
    EXPECT_EQ(RecordOf("rondo32.exe"), (Expected{1, 4, 33, "FIRST", 7001}.Bytes()));

    repair.reinstallMode = "";
    InstallApps();
    EXPECT_EQ(RunDeferred(RondoApplyPatchInfo, repair.Data()), 0u);
    EXPECT_EQ(RecordOf("rondo32.exe"), (Expected{10, 2, 33, "SECOND", 7001}.Bytes()))
        << "a first installation reads its own data";
}

TEST_F(PatchActionTest, MaintenanceRunWithoutCache) {
    Choices repair = Default();
    repair.reinstallMode = "e";
    EXPECT_EQ(RunDeferred(FathomApplyPatchInfo, repair.Data()), 0u);
    // Converter unreadable: id 100, a parallel device whose port cannot be read.
    EXPECT_EQ(RecordOf("fathom.exe"), (Expected{100, 0, 49, "", 6017}.Bytes()));

    host::SetRegString(kCacheKey, "DEFAULT_CONVERTER", "3001");
    host::SetRegString(kCacheKey, "SERIAL_NUMBER", "CACHED");
    InstallApps();
    EXPECT_EQ(RunDeferred(FathomApplyPatchInfo, repair.Data()), 0u);
    EXPECT_EQ(RecordOf("fathom.exe"), (Expected{3200, 0, 49, "CACHED", 6017}.Bytes()));
}

// A repair that finds no cache key still patches with its fallback, and its
// line says that the choices were not found; a key without the converter is
// found, and says nothing.
TEST_F(PatchActionTest, MaintenanceLineSaysTheCacheWasNotFound) {
    Choices repair = Default();
    repair.reinstallMode = "omus";
    EXPECT_EQ(RunDeferred(RondoApplyPatchInfo, repair.Data()), 0u);
    EXPECT_EQ(lastLine, "VantorCustomAction: " + repair.installDir +
                            "rondo32.exe patched: converter 100 (code 100), port 0, country 49, "
                            "serial \"\", version 6017; the choices were not found in the "
                            "registry cache (error 2)");
    host::SetRegString(kCacheKey, "SERIAL_NUMBER", "CACHED");
    EXPECT_EQ(RunDeferred(RondoApplyPatchInfo, repair.Data()), 0u);
    EXPECT_EQ(lastLine, "VantorCustomAction: " + repair.installDir +
                            "rondo32.exe patched: converter 100 (code 100), port 0, country 49, "
                            "serial \"CACHED\", version 6017");
}

TEST_F(PatchActionTest, MaintenanceFlag) {
    struct Case {
        const char* what;
        std::optional<std::string> data;
        bool failRead;
        bool maintenance;
    } cases[] = {
        {"first installation", "Xdir\\|X1|X6.1.7|X1|X1|X1033|X|X", false, false},
        {"reinstall", "Xdir\\|X1|X6.1.7|X1|X1|X1033|X|Xomus", false, true},
        {"data stops early", "Xdir\\|X1", false, false},
        {"unprefixed, empty fields vanish", "dir\\|1|6.1.7|||1033||", false, false},
        {"no data", std::nullopt, false, false},
        {"data unreadable", "Xdir\\|X1|X6.1.7|X1|X1|X1033|X|Xomus", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.data)
            host::SetProperty("CustomActionData", *c.data);
        else
            host::RemoveProperty("CustomActionData");
        if (c.failRead)
            host::FailCall("MsiGetPropertyA", 1);
        ExecutablePatcher patcher(session, "unused");
        host::ClearFaults();
        EXPECT_EQ(patcher.Maintenance(), c.maintenance);
        EXPECT_EQ(patcher.ConverterId(), 0) << "set only by CollectPatchValues";
        EXPECT_EQ(patcher.WritePatch(INVALID_HANDLE_VALUE), 1)
            << "no converter chosen: nothing to write";
    }
}

// Every one of these leaves the application exactly as shipped, answers 0,
// and says why in its one log line.
TEST_F(PatchActionTest, UnpatchedSaysWhy) {
    const Choices base = Default();
    const std::string dir = base.installDir;
    const std::string app = dir + "rondo32.exe not patched: ";
    const std::string app0 = "rondo32.exe not patched: ";
    const auto with = [&base](std::function<void(Choices&)> choose) {
        Choices c = base;
        choose(c);
        return c.Data();
    };
    struct Case {
        const char* what;
        std::optional<std::string> data;
        std::function<void()> arrange;
        std::string log; // the whole line after the template
    } cases[] = {
        {"no CustomActionData", std::nullopt, [] {},
         "rondo32.exe not patched: CustomActionData is empty: is the type-51 action that sets it "
         "missing?"},
        {"empty CustomActionData", "", [] {},
         "rondo32.exe not patched: CustomActionData is empty: is the type-51 action that sets it "
         "missing?"},
        {"empty INSTALLDIR", "X|X3001|X6.1.7|X2|X3|X1031|XAB123|X", [] {},
         "rondo32.exe not patched: INSTALLDIR is empty in CustomActionData"},
        {"INSTALLDIR without its separator",
         "X" + dir.substr(0, dir.size() - 1) + "|X3001|X6.1.7|X2|X3|X1031|XAB123|X", [] {},
         dir.substr(0, dir.size() - 1) +
             "rondo32.exe not patched: the file is missing (error 2); INSTALLDIR \"" +
             dir.substr(0, dir.size() - 1) + "\" does not end with \"\\\""},
        {"data stops after INSTALLDIR", "X" + dir, [] {},
         app + "no converter chosen (DEFAULT_CONVERTER is empty or 0)"},
        {"converter 0", with([](Choices& c) { c.converter = "0"; }), [] {},
         app + "no converter chosen (DEFAULT_CONVERTER is empty or 0)"},
        {"unknown converter", with([](Choices& c) { c.converter = "7"; }), [] {},
         app + "unknown converter id 7 (DEFAULT_CONVERTER)"},
        {"repair: cached converter 0", with([](Choices& c) { c.reinstallMode = "omus"; }),
         [] { host::SetRegString(kCacheKey, "DEFAULT_CONVERTER", "0"); },
         app + "no converter chosen (DEFAULT_CONVERTER in the registry cache is empty or 0)"},
        {"unprefixed with an empty field: the language reads the serial number",
         dir + "|3001|6.1.7||3|1031|AB123|", [] {},
         app + "no language (ProductLanguage \"AB123\" is no LCID)"},
        {"language without a country code", with([](Choices& c) { c.language = "1030"; }), [] {},
         app + "no country code for language 1030 (ProductLanguage)"},
        {"version 0", with([](Choices& c) { c.version = "0.0.0"; }), [] {},
         app + "ProductVersion \"0.0.0\" gives version 0"},
        {"CustomActionData unreadable", base.Data(), [] { host::FailCall("MsiGetPropertyA"); },
         "rondo32.exe not patched: CustomActionData cannot be read (error 1603)"},
        // Two engine reads per value: INSTALLDIR, ProductCode (the record of
        // the install folder), REINSTALLMODE, DEFAULT_CONVERTER (a USB device
        // reads no port), ProductLanguage, SERIAL_NUMBER, ProductVersion.
        {"language unreadable", base.Data(), [] { host::FailCall("MsiGetPropertyA", 9); },
         app + "ProductLanguage cannot be read (error 1603)"},
        {"version unreadable", base.Data(), [] { host::FailCall("MsiGetPropertyA", 13); },
         app + "ProductVersion cannot be read (error 1603)"},
        {"application read-only", base.Data(), [this] { host::SetReadOnly(Path("rondo32.exe")); },
         app + "the file cannot be opened for writing (error 5)"},
        {"application locked", base.Data(), [this] { host::LockFile(Path("rondo32.exe")); },
         app + "the file is in use (error 32)"},
        {"application missing", base.Data(), [this] { ::remove(Path("rondo32.exe").c_str()); },
         app + "the file is missing (error 2)"},
        {"application without a record", base.Data(),
         [this] { host::WriteHostFile(Path("rondo32.exe"), AppImage(3000, {})); },
         app + "no patch_info3 record found in the file"},
        {"application with only part of a record", base.Data(),
         [this] { host::WriteHostFile(Path("rondo32.exe"), shipped.substr(0, kRecordAt + 33)); },
         app + "no patch_info3 record found in the file"},
        {"application cannot be read", base.Data(),
         [] { host::FailCall("ReadFile", 1, ERROR_READ_FAULT); },
         app + "the file cannot be read (error 30)"},
        {"INSTALLDIR on a share", with([](Choices& c) { c.installDir = "\\\\host\\share\\"; }),
         [] {}, app0 + "INSTALLDIR is not a local absolute folder: \\\\host\\share\\ (error 13)"},
        {"INSTALLDIR relative", with([](Choices& c) { c.installDir = "apps\\"; }), [] {},
         app0 + "INSTALLDIR is not a local absolute folder: apps\\ (error 13)"},
        {"application is a link", base.Data(),
         [this] {
             host::WriteHostFile(Path("victim.exe"), shipped);
             ::remove(Path("rondo32.exe").c_str());
             host::PlantLink(Path("rondo32.exe"), Path("victim.exe"));
         },
         app + "it is a symbolic link or junction (error 13)"},
        {"application has a second name", base.Data(),
         [this] { host::PlantHardLink(Path("victim.exe"), Path("rondo32.exe")); },
         app + "it has 2 hard links (error 13)"},
        {"record cannot be written", base.Data(),
         [] { host::FailCall("WriteFile", 1, ERROR_DISK_FULL); },
         app + "the record cannot be written (error 112)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallApps();
        c.arrange();
        const bool exists = host::FileExists(Path("rondo32.exe"));
        const std::string before = exists ? host::ReadHostFile(Path("rondo32.exe")) : "";
        const std::uint64_t lastWrite = host::LastWriteTime(Path("rondo32.exe"));
        EXPECT_EQ(RunDeferred(RondoApplyPatchInfo, c.data), 0u);
        EXPECT_EQ(lastLine, "VantorCustomAction: " + c.log);
        host::ClearFaults();
        host::SetReadOnly(Path("rondo32.exe"), false);
        host::LockFile(Path("rondo32.exe"), false);
        EXPECT_EQ(host::FileExists(Path("rondo32.exe")), exists);
        EXPECT_TRUE(host::ReadHostFile(Path("rondo32.exe")) == before) << "contents changed";
        EXPECT_EQ(host::LastWriteTime(Path("rondo32.exe")), lastWrite);
        EXPECT_EQ(host::OpenHandles(), 0);
        if (host::IsLink(Path("rondo32.exe")))
            ::remove(Path("rondo32.exe").c_str());
        ::remove(Path("victim.exe").c_str());
    }
}

// A patched application: the line names it and the values written.
TEST_F(PatchActionTest, PatchedSaysWhatWasWritten) {
    struct Case {
        const char* what;
        Action action;
        const char* file;
        std::function<void(Choices&)> choose;
        std::function<void()> arrange;
        std::string values; // after "<path> patched: "
    } cases[] = {
        {"layout 3, USB device", RondoApplyPatchInfo, "rondo32.exe", [](Choices&) {}, [] {},
         "converter 3001 (code 3001), port 0, country 49, serial \"AB123\", version 6017"},
        {"layout 1, serial device", FathomApplyPatchInfo, "fathom.exe",
         [](Choices& c) { c.converter = "3000", c.serial = "12345678"; }, [] {},
         "converter 3000 (code 3200), port 0, country 49, serial \"12345678\", version 6017"},
        {"layout 1, demonstration source", TernApplyPatchInfo, "TERN32.exe",
         [](Choices& c) { c.converter = "99", c.language = "1033"; }, [] {},
         "converter 99 (code 99), port 0, country 44, serial \"DEMO\", version 6017"},
        {"layout 2, serial port", SableApplyPatchInfo, "sable32.exe",
         [](Choices& c) { c.converter = "1", c.version = "alpha"; }, [] {},
         "converter 1 (code 0), port 3, country 49, serial \"AB123\", version 0"},
        {"times cannot be set back", QuillApplyPatchInfo, "quill.exe", [](Choices&) {},
         [] { host::FailCall("SetFileTime", 1, ERROR_ACCESS_DENIED); },
         "converter 3001 (code 3200), port 0, country 49, serial \"AB123\", version 6017; its "
         "times not set back (error 5)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallApps();
        Choices choices = Default();
        c.choose(choices);
        c.arrange();
        EXPECT_EQ(RunDeferred(c.action, choices.Data()), 0u);
        host::ClearFaults();
        EXPECT_EQ(lastLine,
                  "VantorCustomAction: " + choices.installDir + c.file + " patched: " + c.values);
        EXPECT_NE(RecordOf(c.file), Bytes(ShippedRecord()));
    }
}

// A "|" inside a value shifts every later field: data with more fields than
// the layout's eight patches no application, and each action says so.
TEST_F(PatchActionTest, TooManyFieldsPatchNothing) {
    host::SetProperty("DEFAULT_CONVERTER", "1");
    host::SetProperty("SERIAL_NUMBER", "FIRST");
    ASSERT_EQ(CacheProperties(session), 0u);
    const struct {
        const char* what;
        std::function<void(Choices&)> choose;
        int fields;                     // 8 or fewer: patched as usual
        std::optional<Expected> record; // of rondo32.exe, when patched
    } cases[] = {
        {"eight fields", [](Choices&) {}, 8, Expected{3001, 0, 49, "AB123", 6017}},
        {"a run of bars is one separator", [](Choices& c) { c.serial = "AB1|"; }, 8,
         Expected{3001, 0, 49, "AB1", 6017}},
        {"fewer fields: the data stops after the serial number",
         [](Choices& c) { c.reinstallMode = "DROP"; }, 7, Expected{3001, 0, 49, "AB123", 6017}},
        {"nine fields: a bar in the serial number", [](Choices& c) { c.serial = "AB|X1"; }, 9,
         std::nullopt},
        {"a converter that carries the later fields, on a repair",
         [](Choices& c) {
             c.converter = "12|X9.9.9|X7|X9|X1033|XEVIL666|X";
             c.reinstallMode = "omus";
         },
         14, std::nullopt},
        {"a bar in the COM port", [](Choices& c) { c.comPort = "3|X7"; }, 9, std::nullopt},
        {"a bar in the install directory", [](Choices& c) { c.installDir += "|Xevil\\"; }, 9,
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Choices choices = Default();
        c.choose(choices);
        std::string data = choices.Data();
        if (choices.reinstallMode == "DROP")
            data = data.substr(0, data.rfind('|'));
        if (c.fields <= 8) {
            InstallApps();
            const std::size_t logged = host::LogLines().size();
            EXPECT_EQ(RunDeferred(RondoApplyPatchInfo, data), 0u);
            EXPECT_EQ(RecordOf("rondo32.exe"), c.record->Bytes());
            EXPECT_EQ(host::LogLines().size(), logged + 1);
            EXPECT_NE(lastLine.find(" patched: converter 3001 (code 3001)"), std::string::npos)
                << lastLine;
            continue;
        }
        for (const App& app : kApps) {
            InstallApps();
            const std::size_t logged = host::LogLines().size();
            EXPECT_EQ(RunDeferred(app.action, data), 0u) << app.file;
            for (const App& any : kApps)
                EXPECT_EQ(host::ReadHostFile(Path(any.file)), shipped) << app.file << any.file;
            ASSERT_EQ(host::LogLines().size(), logged + 1) << app.file;
            EXPECT_EQ(host::LogLines().back(), "VantorCustomAction: Malformed CustomActionData (" +
                                                   std::to_string(c.fields) +
                                                   " fields, at most 8): " + app.file +
                                                   " not patched (error 13)");
        }
    }
}

// Whichever platform call fails, the action answers 0, holds nothing open,
// and the application carries either its old record or the whole new one.
TEST_F(PatchActionTest, EveryFailingCall) {
    host::SetRegString(kCacheKey, "DEFAULT_CONVERTER", "3001");
    host::SetRegString(kCacheKey, "SERIAL_NUMBER", "AB123");
    for (const char* mode : {"", "omus"}) {
        Choices choices = Default();
        choices.reinstallMode = mode;
        InstallApps();
        host::ResetCallCount();
        ASSERT_EQ(RunDeferred(SableApplyPatchInfo, choices.Data()), 0u);
        const long calls = host::CallCount();
        ASSERT_EQ(RecordOf("sable32.exe"), (Expected{3000, 0, 49, "AB123", 6017}.Bytes()));
        for (long k = 1; k <= calls; ++k) {
            SCOPED_TRACE(std::string(mode) + " call " + std::to_string(k) + " fails");
            InstallApps();
            host::FailNthCall(k);
            faulted = true;
            EXPECT_EQ(RunDeferred(SableApplyPatchInfo, choices.Data()), 0u);
            faulted = false;
            host::ClearFaults();
            const std::string record = RecordOf("sable32.exe");
            // A value that could not be read may fall back (converter 100, an
            // empty serial number), but the record is never a mix of old and new.
            EXPECT_TRUE(record == Bytes(ShippedRecord()) || WholeNewRecord(record))
                << ::testing::PrintToString(record);
            EXPECT_EQ(host::ReadHostFile(Path("sable32.exe")).size(), shipped.size());
            EXPECT_EQ(host::OpenHandles(), 0);
        }
    }
}

// For the fault-injection sweep: a repair that finds no cache. Every value
// whose read can fail then already has its fallback in the clean run
// (converter 100, port 0, empty serial number), and a failed read of
// REINSTALLMODE makes it a first installation without a converter: the
// application ends either as shipped or as the clean run leaves it.
void RepairWithoutCache(SweepScene& scene, const char* file) {
    const std::string dir = host::MakeTempDir();
    const std::string app = dir + "/" + file;
    host::WriteHostFile(app, AppImage(3000, {kRecordAt}));
    scene.watchedFiles.push_back(app);
    host::SetProperty("ProductCode", kProductCode);
    host::SetProperty("CustomActionData",
                      "X" + host::WinPath(dir) + "\\|X|X6.1.7|X2|X3|X1031|XAB123|Xomus");
    host::SetDeferred(true);
}

#define PATCH_SWEEP(action, file)                                                                  \
    VANTOR_SWEEP(action, "repair without cache",                                                   \
                 [](SweepScene& scene) { RepairWithoutCache(scene, file); }, {})
PATCH_SWEEP(RondoApplyPatchInfo, "rondo32.exe");
PATCH_SWEEP(RondoDemoApplyPatchInfo, "RONDOdemo.exe");
PATCH_SWEEP(FathomApplyPatchInfo, "fathom.exe");
PATCH_SWEEP(QuillApplyPatchInfo, "quill.exe");
PATCH_SWEEP(LarchApplyPatchInfo, "larch32.exe");
PATCH_SWEEP(TernApplyPatchInfo, "TERN32.exe");
PATCH_SWEEP(RondoApplyPatchInfoHarbor, "Solvane CMS.exe");
PATCH_SWEEP(RondoApplyPatchInfoMistral, "Corvid Vigilo.exe");
PATCH_SWEEP(SableApplyPatchInfo, "sable32.exe");

TEST(PatchCorrectionTest, OnlyLayoutOneIsCorrected) {
    struct Case {
        int layout;
        std::uint16_t code, expectedCode;
        const char* expectedSerial; // 8 bytes
    } cases[] = {
        {1, 3000, 3200, "WXYZ1234"},
        {1, 99, 99,
         "DEMO\0"
         "234"},
        {1, 3200, 3200, "WXYZ1234"},
        {1, 100, 100, "WXYZ1234"},
        {2, 3000, 3000, "WXYZ1234"},
        {2, 99, 99, "WXYZ1234"},
        {3, 3000, 3000, "WXYZ1234"},
        {3, 99, 99, "WXYZ1234"},
    };
    for (const Case& c : cases) {
        PatchInfo record = EmptyPatchInfo();
        record.converterCode = c.code;
        std::memcpy(record.serialNumber, "WXYZ1234", 8);
        record.version = 0x4242;
        ApplyLayoutCorrections(record, c.layout);
        EXPECT_EQ(record.converterCode, c.expectedCode) << c.layout << "/" << c.code;
        EXPECT_EQ(std::string(record.serialNumber, 8), std::string(c.expectedSerial, 8))
            << c.layout << "/" << c.code;
        EXPECT_EQ(record.version, 0x4242);
    }
}

} // namespace
