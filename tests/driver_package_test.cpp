#include "drivers/driver_package.h"
#include "drivers/exports.h"
#include "host_fixture.h"

#include <filesystem>
#include <functional>
#include <utility>
#include <string>
#include <vector>

using namespace vantor;

namespace {

class DriverPackageTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        Prepare();
    }
    // A fresh machine for the next case of a table (its folders go too).
    void Fresh() {
        host::Reset();
        session = host::OpenSession();
        Prepare();
    }
    void Prepare() {
        root = host::MakeTempDir();
        // A blank in the path, as under "C:\Program Files".
        installDir = root + "/Program Files/Vantor";
        std::filesystem::create_directories(installDir + "/System");
        host::WriteHostFile(installDir + "/System/dpinst.exe", "MZ fixture");
        tool = host::WinPath(installDir) + "\\System\\dpinst.exe";
        host::SetDeferred(true);
        SetInstallDir(host::WinPath(installDir) + "\\");
    }

    // The deferred data as the package writes it: eight "X"-prefixed fields.
    void SetInstallDir(const std::string& dir) {
        host::SetProperty("CustomActionData", "X" + dir + "|X3|X2.1.0|X1|X2|X1031|XSN1|X");
    }

    std::string root;
    std::string installDir;
    std::string tool;
};

const std::string kCalling = "VantorCustomAction: Calling DPInst.exe with command line: ";
const std::string kReturned = "VantorCustomAction: DPInst.exe return code: ";

TEST_F(DriverPackageTest, CommandLinesOfTheThreeActions) {
    struct Case {
        const char* what;
        UINT(WINAPI* action)(MSIHANDLE);
        const char* tail;
    } cases[] = {
        {"DIFxInstall", DIFxInstall, " /SA /A /D /SW"},
        {"WinUsbUninstall", WinUsbUninstall, " /u  vantorwinusb.inf"},
        {"VantorppUninstall", VantorppUninstall, " /u  vantorpp.inf"},
    };
    for (const Case& c : cases) {
        Fresh();

        EXPECT_EQ(c.action(session), 0u) << c.what;
        const std::string commandLine = tool + c.tail;
        ASSERT_EQ(host::Launches().size(), 1u) << c.what;
        const host::Launch& launch = host::Launches()[0];
        EXPECT_EQ(launch.commandLine, commandLine) << c.what;
        // The program is named on its own, so that nothing else can start.
        EXPECT_EQ(launch.applicationName, std::optional<std::string>(tool)) << c.what;
        EXPECT_FALSE(launch.inheritHandles);
        EXPECT_EQ(launch.creationFlags, 0u);
        EXPECT_TRUE(launch.environmentNull);
        EXPECT_EQ(launch.currentDirectory,
                  std::optional<std::string>(host::WinPath(installDir) + "\\System\\"))
            << c.what << ": the tool runs in its own folder";
        EXPECT_EQ(launch.startupInfoSize, DWORD(sizeof(STARTUPINFOA)));
        EXPECT_EQ(launch.startupFlags, 0u);
        EXPECT_EQ(host::LogLines(),
                  (std::vector<std::string>{kCalling + commandLine, kReturned + "0x0"}))
            << c.what;
        EXPECT_TRUE(host::ForbiddenPropertyAccesses().empty()) << c.what;
    }
}

// The tool runs as LocalSystem: only from a folder on a local drive, and in
// that folder, so that the removals' INF names are the package's own files.
TEST_F(DriverPackageTest, StartsToolsOnlyFromALocalFolder) {
    const std::string local = host::WinPath(installDir) + "\\";
    const std::string bare = local.substr(2); // without its drive
    struct Case {
        std::string dir;
        bool started;
    } cases[] = {
        {local, true},
        {"c" + local.substr(1), true},
        {"\\\\host\\share\\Vantor\\", false},
        {"\\\\?\\" + local, false},
        {"\\\\.\\" + local, false},
        {"\\\\?\\UNC\\host\\share\\", false},
        {"//host/share/", false},
        {bare, false},                      // rooted, no drive
        {"C:" + bare.substr(1), false},     // relative to C:'s current folder
        {"Program Files\\Vantor\\", false}, // relative
        {"C:/" + bare.substr(1), false},
    };
    const std::pair<UINT(WINAPI*)(MSIHANDLE), const char*> actions[] = {
        {DIFxInstall, " /SA /A /D /SW"},
        {WinUsbUninstall, " /u  vantorwinusb.inf"},
        {VantorppUninstall, " /u  vantorpp.inf"},
    };
    for (const Case& c : cases) {
        for (const auto& action : actions) {
            SetInstallDir(c.dir);
            const std::size_t logged = host::LogLines().size();
            const std::size_t launched = host::Launches().size();
            const UINT result = action.first(session);
            if (c.started) {
                EXPECT_EQ(result, 0u) << c.dir;
                ASSERT_EQ(host::Launches().size(), launched + 1) << c.dir;
                const host::Launch& launch = host::Launches().back();
                EXPECT_EQ(launch.commandLine, c.dir + "System\\dpinst.exe" + action.second);
                EXPECT_EQ(launch.currentDirectory, std::optional<std::string>(c.dir + "System\\"));
                continue;
            }
            EXPECT_EQ(result, 1603u) << c.dir;
            EXPECT_EQ(host::Launches().size(), launched) << c.dir << ": nothing started";
            ASSERT_EQ(host::LogLines().size(), logged + 1) << c.dir;
            EXPECT_EQ(host::LogLines().back(),
                      "VantorCustomAction: DPInst.exe not started, INSTALLDIR is not a local "
                      "absolute folder: " +
                          c.dir + " (error 13)");
        }
    }
}

TEST_F(DriverPackageTest, ExitCodeMap) {
    struct Case {
        DWORD exitCode;
        UINT result;
        const char* logged;
    } cases[] = {
        {0x00000000, 0, "0x0"},           {0x00000003, 0, "0x3"},
        {0x3FFFFFFF, 0, "0x3FFFFFFF"},    {0x40000001, 3010, "0x40000001"},
        {0x4000FF00, 3010, "0x4000FF00"}, {0x80000000, 1603, "0x80000000"},
        {0xC0000000, 1603, "0xC0000000"}, {0xC0000005, 1603, "0xC0000005"}, // the tool crashed
    };
    for (const Case& c : cases) {
        host::SetExitCode(c.exitCode);
        const std::size_t before = host::LogLines().size();
        EXPECT_EQ(DIFxInstall(session), c.result) << c.logged;
        ASSERT_EQ(host::LogLines().size(), before + 2) << c.logged;
        EXPECT_EQ(host::LogLines().back(), kReturned + c.logged);
        EXPECT_EQ(DriverPackageResult(c.exitCode), c.result) << c.logged;
    }
}

TEST_F(DriverPackageTest, EmptyInstallDirStartsNothing) {
    struct Case {
        const char* what;
        std::string data;
        bool unreadable;
    } cases[] = {
        {"empty field", "X|X3", false},
        {"no data", "", false},
        {"data unreadable", "X/x/|X3", true},
    };
    for (const Case& c : cases) {
        Fresh();
        host::SetProperty("CustomActionData", c.data);
        if (c.unreadable)
            host::FailCall("MsiGetPropertyA");
        EXPECT_EQ(WinUsbUninstall(session), 1603u) << c.what;
        EXPECT_EQ(
            host::LogLines(),
            std::vector<std::string>{"VantorCustomAction: Empty Path return from DeferredProperty"})
            << c.what;
        EXPECT_TRUE(host::Launches().empty()) << c.what;
    }
}

// The tool cannot run: the command line is logged, then the tool's path and
// the platform's code; the result is 1603.
TEST_F(DriverPackageTest, ToolThatCannotStart) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string commandLine;
        std::string why; // after the tool's path
    } cases[] = {
        // The folder named runs onto the last folder name and does not exist.
        {"install directory without its separator",
         [&] { SetInstallDir(host::WinPath(installDir)); },
         host::WinPath(installDir) + "System\\dpinst.exe /SA /A /D /SW",
         " could not be started (error 267)"},
        {"dpinst.exe missing", [&] { std::filesystem::remove(installDir + "/System/dpinst.exe"); },
         tool + " /SA /A /D /SW", " could not be started (error 2)"},
        {"dpinst.exe missing, and a program at the path's first blank",
         [&] {
             std::filesystem::remove(installDir + "/System/dpinst.exe");
             host::WriteHostFile(root + "/Program", "MZ planted");
         },
         tool + " /SA /A /D /SW", " could not be started (error 2)"},
        {"dpinst.exe not a program",
         [&] { host::WriteHostFile(installDir + "/System/dpinst.exe", ""); },
         tool + " /SA /A /D /SW", " could not be started (error 193)"},
    };
    for (const Case& c : cases) {
        host::WriteHostFile(installDir + "/System/dpinst.exe", "MZ fixture");
        SetInstallDir(host::WinPath(installDir) + "\\");
        const std::size_t logged = host::LogLines().size();
        const std::size_t launched = host::Launches().size();
        c.arrange();
        EXPECT_EQ(DIFxInstall(session), 1603u) << c.what;
        ASSERT_EQ(host::LogLines().size(), logged + 2) << c.what;
        EXPECT_EQ(host::LogLines()[logged], kCalling + c.commandLine) << c.what;
        const std::string program = c.commandLine.substr(0, c.commandLine.find(" /"));
        EXPECT_EQ(host::LogLines().back(), "VantorCustomAction: " + program + c.why) << c.what;
        ASSERT_EQ(host::Launches().size(), launched + 1) << c.what;
        EXPECT_EQ(host::Launches().back().commandLine, c.commandLine) << c.what;
    }
}

TEST_F(DriverPackageTest, WaitOrExitCodeFailures) {
    for (const char* api : {"WaitForSingleObject", "GetExitCodeProcess"}) {
        host::ClearFaults();
        host::FailCall(api);
        const std::size_t logged = host::LogLines().size();
        EXPECT_EQ(DIFxInstall(session), 1603u) << api;
        ASSERT_EQ(host::LogLines().size(), logged + 2) << api << ": no return-code line";
        EXPECT_EQ(host::LogLines().back().find("VantorCustomAction: DPInst.exe return code"),
                  std::string::npos)
            << api;
        EXPECT_NE(host::LogLines().back().find(": its outcome is unknown (error "),
                  std::string::npos)
            << api << ": " << host::LogLines().back();
        EXPECT_EQ(host::OpenProcessHandles(), 0) << api;
    }
}

TEST_F(DriverPackageTest, HeapFailures) {
    struct Case {
        const char* what;
        int nth;
        UINT result;
        std::size_t launches;
        std::vector<std::string> log;
    } cases[] = {
        {"no command-line buffer: nothing starts",
         1,
         1603,
         0,
         {"VantorCustomAction: @ not started: no memory for its command line (error 8)"}},
        {"no buffer for the command-line log line: the run goes on",
         2,
         3010,
         1,
         {kReturned + "0x40000001"}},
        {"no buffer for the return-code line: the result still counts",
         3,
         3010,
         1,
         {kCalling + "@"}},
    };
    for (const Case& c : cases) {
        Fresh();
        host::SetExitCode(0x40000001);
        host::FailCall("HeapAlloc", c.nth);

        EXPECT_EQ(DIFxInstall(session), c.result) << c.what;
        EXPECT_EQ(host::Launches().size(), c.launches) << c.what;
        std::vector<std::string> log = c.log;
        for (std::string& line : log) {
            if (line == kCalling + "@")
                line = kCalling + tool + " /SA /A /D /SW";
            else if (line.find("@") != std::string::npos)
                line.replace(line.find("@"), 1, tool);
        }
        EXPECT_EQ(host::LogLines(), log) << c.what;
    }
}

} // namespace

#include "sweep.h"

namespace {

void ToolInstalled(SweepScene& scene) {
    const std::string dir = host::MakeTempDir() + "/Program Files/Vantor";
    std::filesystem::create_directories(dir + "/System");
    host::WriteHostFile(dir + "/System/dpinst.exe", "MZ fixture");
    host::SetProperty("CustomActionData", "X" + host::WinPath(dir) + "\\|X3|X2.1.0");
    host::SetDeferred(true);
    host::SetExitCode(0x40000001);
    scene.watchedFiles = {dir + "/System/dpinst.exe"};
}

VANTOR_SWEEP(DIFxInstall, "restart asked", ToolInstalled, {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(WinUsbUninstall, "restart asked", ToolInstalled, {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(VantorppUninstall, "restart asked", ToolInstalled, {ERROR_INSTALL_FAILURE});

} // namespace
