// The driver package runner with a fixture dpinst.exe that records its
// command line and exits with the code the test writes beside it, under an
// install folder with a blank in its path. The runner checks who can change
// the tool: Wine reports a file's or folder's Unix mode as its access list,
// owned by the Wine account (the action's own), with "other" as Everyone.
#include "engine_session.h"
#include "scratch.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

using namespace engine;

namespace {

class DriverPackage : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library_.loaded()) << "cannot load " << library_.path();
        ASSERT_NE(session_.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session_.openResult();
        const std::string fixture = FixturePath("dpinst.exe");
        ASSERT_TRUE(Exists(fixture)) << fixture;
        installDir_ = dir_.Make("Program Files\\Vantor Demo") + "\\";
        tool_ = dir_.Make("Program Files\\Vantor Demo\\System") + "\\dpinst.exe";
        ASSERT_TRUE(CopyFileA(fixture.c_str(), tool_.c_str(), FALSE));
        // Where an unquoted command line would start instead.
        ASSERT_TRUE(CopyFileA(fixture.c_str(), (dir_.path() + "\\Program.exe").c_str(), FALSE));
        SetInstallDir(installDir_);
    }
    void SetInstallDir(const std::string& dir) {
        ASSERT_EQ(session_.Set("CustomActionData", "X" + dir + "|X3|X2.5.1|X1|X3|X1031|XAB1|X"),
                  0u);
    }
    void ExitWith(const char* code) {
        ASSERT_TRUE(WriteText(installDir_ + "System\\dpinst-exit.txt", code));
    }
    std::string Recorded() { return ReadText(installDir_ + "System\\dpinst.log"); }
    UINT Run(const char* action) { return library_.Call(action, session_.handle()); }

    Session session_;
    ActionLibrary library_{"VantorDrivers.dll"};
    ScratchDir dir_{"vantor-dpinst"};
    std::string installDir_;
    std::string tool_;
};

TEST_F(DriverPackage, CommandLinesOfTheThreeActions) {
    struct Case {
        const char* action;
        const char* tail;
    } cases[] = {
        {"DIFxInstall", " /SA /A /D /SW"},
        {"WinUsbUninstall", " /u  vantorwinusb.inf"},
        {"VantorppUninstall", " /u  vantorpp.inf"},
    };
    std::string expected;
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.action), 0u) << c.action;
        expected += tool_ + c.tail + "\r\n";
    }
    EXPECT_EQ(Recorded(), expected);
    EXPECT_FALSE(Exists(dir_.path() + "\\dpinst.log")) << "no other program was started";
}

TEST_F(DriverPackage, ExitCodeMap) {
    struct Case {
        const char* code;
        UINT result;
    } cases[] = {
        {"0", 0}, {"3", 0}, {"0x40000001", 3010}, {"0x80000000", 1603}, {"0xC0000000", 1603},
    };
    for (const Case& c : cases) {
        ExitWith(c.code);
        EXPECT_EQ(Run("DIFxInstall"), c.result) << c.code;
    }
}

TEST_F(DriverPackage, ToolThatCannotRun) {
    SetInstallDir(installDir_.substr(0, installDir_.size() - 1));
    EXPECT_EQ(Run("DIFxInstall"), 1603u) << "no separator after the install folder";
    SetInstallDir("");
    EXPECT_EQ(Run("DIFxInstall"), 1603u) << "no install folder";
    SetInstallDir(installDir_);
    ASSERT_TRUE(DeleteFileA(tool_.c_str()));
    EXPECT_EQ(Run("WinUsbUninstall"), 1603u) << "dpinst.exe missing";
    EXPECT_FALSE(Exists(dir_.path() + "\\dpinst.log")) << "nothing started in its place";
    EXPECT_EQ(Recorded(), "<missing>");
}

// Gives a folder the access list that Wine reports for a Unix mode: SYSTEM
// and the Wine account full control, Everyone the rights given (0x1200a9 for
// read and execute, 0x1301ff for mode o+w). Wine keeps it as the mode bits.
bool SetUnixLikeAccess(const std::string& folder, const char* everyone) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    char buffer[256];
    DWORD size = 0;
    const BOOL read = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    LPSTR user = nullptr;
    if (!read || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user))
        return false;
    const std::string sddl =
        std::string("D:(A;;FA;;;SY)(A;;FA;;;") + user + ")(A;;" + everyone + ";;;WD)";
    LocalFree(user);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    const BOOL set = SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return set != FALSE;
}

// A folder that everyone can change, on the tool's path, stops it; Wine's
// default folders (every folder of the scratch path) let it start.
TEST_F(DriverPackage, StartsOnlyWhatOnlyTheTrustedCanChange) {
    const std::string notStarted = "VantorCustomAction: " + tool_ + " not started: ";
    struct Case {
        const char* what;
        std::string openFolder; // given mode o+w; "" for none
        UINT result;
        std::string line; // the last line logged
    } cases[] = {
        {"default folders", "", 0, "VantorCustomAction: DPInst.exe return code: 0x0"},
        {"the tool's folder in mode o+w", installDir_ + "System", 1603,
         notStarted + installDir_ +
             "System\\ can be changed by Everyone (add file, add folder, delete child, delete) "
             "(error 5)"},
        {"the install folder in mode o+w", installDir_.substr(0, installDir_.size() - 1), 1603,
         notStarted + installDir_ + " can be changed by Everyone (delete child, delete) (error 5)"},
    };
    for (const Case& c : cases) {
        DeleteFileA((installDir_ + "System\\dpinst.log").c_str());
        if (!c.openFolder.empty()) {
            ASSERT_TRUE(SetUnixLikeAccess(c.openFolder, "0x1301ff")) << c.what;
        }
        LogCapture log;
        EXPECT_EQ(Run("DIFxInstall"), c.result) << c.what;
        ASSERT_FALSE(log.lines().empty()) << c.what;
        EXPECT_EQ(log.lines().back(), c.line) << c.what;
        EXPECT_EQ(Recorded(), c.result ? "<missing>" : tool_ + " /SA /A /D /SW\r\n")
            << c.what << ": started only where nobody else can change it";
        if (!c.openFolder.empty()) {
            ASSERT_TRUE(SetUnixLikeAccess(c.openFolder, "0x1200a9")) << c.what;
        }
    }
}

} // namespace
