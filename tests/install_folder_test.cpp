// The deferred actions that take INSTALLDIR from their data act only on the
// install folder recorded at the first installation: a patch action patches
// nothing elsewhere (0, one line), the driver package runner starts nothing
// (1603, one line). Without a record the path checks alone decide.
#include "drivers/exports.h"
#include "host_fixture.h"
#include "patch_test_support.h"
#include "setup/exports.h"

#include <cctype>
#include <filesystem>
#include <string>

namespace {

constexpr const char* kKey = "SOFTWARE\\Vantor Technology\\{6F1A3C52-7B0E-4D8A-9C21-5E3B7A90D412}";

TEST(RecordedFolder, OnlyTheRecordedFolderIsUsed) {
    struct Case {
        const char* what;
        // "-": none; "=": the folder itself; "=lower": that without "\", in lower case
        const char* record;
        bool faultRead;
        std::string why; // "": used
    } cases[] = {
        {"no record", "-", false, ""},
        {"an empty record", "", false, ""},
        {"the recorded folder", "=", false, ""},
        {"the recorded folder in another form", "=lower", false, ""},
        {"another folder", "C:\\Loggers\\", false,
         " is not the folder of the first installation C:\\Loggers\\ (error 13)"},
        {"a record that cannot be read", "=", true,
         "the install folder of the first installation cannot be read from the registry cache "
         "(error 5)"},
    };
    for (const Case& c : cases) {
        for (bool runner : {false, true}) {
            const std::string what = std::string(c.what) + (runner ? " (runner)" : " (patch)");
            host::Reset();
            const MSIHANDLE session = host::OpenSession();
            host::SetProperty("ProductCode", "{6F1A3C52-7B0E-4D8A-9C21-5E3B7A90D412}");
            const std::string dir = host::MakeTempDir();
            std::filesystem::create_directories(dir + "/System");
            host::WriteHostFile(dir + "/System/dpinst.exe", "MZ fixture");
            host::WriteHostFile(dir + "/rondo32.exe", patchtest::AppImage(3000, {700}));
            const std::string folder = host::WinPath(dir) + "\\";
            std::string record = c.record;
            if (record == "=")
                record = folder;
            if (record == "=lower") {
                record = folder.substr(0, folder.size() - 1);
                for (char& ch : record)
                    ch = char(std::tolower(static_cast<unsigned char>(ch)));
            }
            host::CreateKey(kKey);
            if (record != "-")
                host::SetRegString(kKey, "INSTALLDIR", record);
            host::SetProperty("CustomActionData", "X" + folder + "|X81|X6.1.7|X1|X2|X1031|XSN1|X");
            host::SetDeferred(true);
            if (c.faultRead)
                host::FailCall("RegQueryValueExA", 1, ERROR_ACCESS_DENIED);
            const std::string before = host::ReadHostFile(dir + "/rondo32.exe");

            const UINT result = runner ? DIFxInstall(session) : RondoApplyPatchInfo(session);

            const bool used = c.why.empty();
            EXPECT_EQ(result, runner && !used ? 1603u : 0u) << what;
            EXPECT_EQ(runner ? host::Launches().size() == 1
                             : host::ReadHostFile(dir + "/rondo32.exe") != before,
                      used)
                << what;
            EXPECT_TRUE(host::ForbiddenPropertyAccesses().empty()) << what;
            if (used)
                continue;
            const std::string refused =
                runner ? "DPInst.exe not started, " : "rondo32.exe not patched: ";
            EXPECT_EQ(host::LogLines(),
                      std::vector<std::string>{"VantorCustomAction: " + refused +
                                               (c.faultRead ? "" : "INSTALLDIR " + folder) + c.why})
                << what;
            EXPECT_EQ(host::OpenHandles(), 0) << what;
        }
    }
    host::Reset();
}

} // namespace
