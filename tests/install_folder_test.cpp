// The deferred actions that take INSTALLDIR from their data act only on the
// install folder recorded at the first installation: a patch action patches
// nothing elsewhere (0, one line), the driver package runner starts nothing
// (1603, one line). Without a record the path checks alone decide.
#include "common/install_folder.h"
#include "drivers/exports.h"
#include "host_fixture.h"
#include "patch_test_support.h"
#include "setup/exports.h"

#include <cctype>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace {

constexpr const char* kProduct = "{6F1A3C52-7B0E-4D8A-9C21-5E3B7A90D412}";
const std::string kKey = std::string("SOFTWARE\\Vantor Technology\\") + kProduct;

class RecordedFolderTest : public HostTest {
  protected:
    // The product's folder with one application and the driver tool.
    void Scene() {
        host::Reset();
        session = host::OpenSession();
        host::SetProperty("ProductCode", kProduct);
        dir = host::MakeTempDir();
        std::filesystem::create_directories(dir + "/System");
        host::WriteHostFile(dir + "/System/dpinst.exe", "MZ fixture");
        host::WriteHostFile(dir + "/rondo32.exe", patchtest::AppImage(3000, {700}));
        folder = host::WinPath(dir) + "\\";
    }
    std::string dir;
    std::string folder; // as the data names it, with its separator
};

TEST_F(RecordedFolderTest, OnlyTheRecordedFolder) {
    struct Case {
        const char* what;
        std::function<std::optional<std::string>(const std::string&)> record; // none: no value
        bool faultRead;
        bool used;
        std::string why; // after the action's own prefix
    } cases[] = {
        {"no record", [](const std::string&) { return std::nullopt; }, false, true, ""},
        {"an empty record", [](const std::string&) { return std::string(); }, false, true, ""},
        {"the recorded folder", [](const std::string& f) { return f; }, false, true, ""},
        {"in upper case and without its separator",
         [](const std::string& f) {
             std::string upper = f.substr(0, f.size() - 1);
             for (char& c : upper)
                 c = char(std::toupper(static_cast<unsigned char>(c)));
             return upper;
         },
         false, true, ""},
        {"another folder", [](const std::string&) { return std::string("C:\\Loggers\\"); }, false,
         false, "the folder of the first installation C:\\Loggers\\ (error 13)"},
        {"a folder below the recorded one",
         [](const std::string& f) { return f.substr(0, f.rfind('\\', f.size() - 2) + 1); }, false,
         false, "the folder of the first installation"},
        {"a record that cannot be read", [](const std::string& f) { return f; }, true, false,
         "the install folder of the first installation cannot be read from the registry cache "
         "(error 5)"},
    };
    for (const Case& c : cases) {
        for (bool runner : {false, true}) {
            const std::string what = std::string(c.what) + (runner ? " (runner)" : " (patch)");
            Scene();
            host::CreateKey(kKey);
            if (const auto record = c.record(folder))
                host::SetRegString(kKey, "INSTALLDIR", *record);
            host::SetProperty("CustomActionData", "X" + folder + "|X81|X6.1.7|X1|X2|X1031|XSN1|X");
            host::SetDeferred(true);
            if (c.faultRead)
                host::FailCall("RegQueryValueExA", 1, ERROR_ACCESS_DENIED);
            const std::string before = host::ReadHostFile(dir + "/rondo32.exe");
            const UINT result = runner ? DIFxInstall(session) : RondoApplyPatchInfo(session);
            EXPECT_EQ(result, runner && !c.used ? 1603u : 0u) << what;
            EXPECT_TRUE(host::ForbiddenPropertyAccesses().empty()) << what;
            if (runner) {
                EXPECT_EQ(host::Launches().size(), c.used ? 1u : 0u) << what;
            } else {
                EXPECT_EQ(host::ReadHostFile(dir + "/rondo32.exe") != before, c.used) << what;
            }
            ASSERT_FALSE(host::LogLines().empty()) << what;
            const std::string& line = host::LogLines().front();
            if (c.used) {
                EXPECT_EQ(line.find("not "), std::string::npos) << what << ": " << line;
                continue;
            }
            ASSERT_EQ(host::LogLines().size(), 1u) << what;
            const std::string prefix = runner ? "VantorCustomAction: DPInst.exe not started, "
                                              : "VantorCustomAction: rondo32.exe not patched: ";
            EXPECT_EQ(line.rfind(prefix, 0), 0u) << what << ": " << line;
            EXPECT_NE(line.find(c.why), std::string::npos) << what << ": " << line;
            if (!c.faultRead) {
                EXPECT_NE(line.find("INSTALLDIR " + folder + " is not "), std::string::npos)
                    << what << ": " << line;
            }
        }
    }
}

TEST(SameFolder, CaseAndSeparators) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"C:\\Loggers\\", "C:\\Loggers\\", true},
        {"C:\\Loggers\\", "c:\\LOGGERS", true},
        {"C:\\Loggers\\\\", "C:\\Loggers", true},
        {"C:\\Loggers\\", "C:\\Loggers2\\", false},
        {"C:\\Loggers\\", "C:\\Logger\\", false},
        {"C:\\Loggers\\", "D:\\Loggers\\", false},
        {"C:\\", "C:", true},
        {"", "C:\\", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vantor::SameFolder(c.a, c.b), c.same) << c.a << " / " << c.b;
        EXPECT_EQ(vantor::SameFolder(c.b, c.a), c.same) << c.b << " / " << c.a;
    }
}

} // namespace
