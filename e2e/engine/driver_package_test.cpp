// The driver package runner with a fixture dpinst.exe that records its
// command line and exits with the code the test writes beside it, under an
// install folder with a blank in its path.
#include "engine_session.h"
#include "scratch.h"

#include <gtest/gtest.h>

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

} // namespace
