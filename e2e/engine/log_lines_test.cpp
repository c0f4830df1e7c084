// Actions that leave their work undone say why in the installation log: the
// lines as the real engine delivers them to an external UI handler.
#include "engine_session.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <string>

using namespace engine;

namespace {

TEST(LogLines, ActionsThatDoNothingSayWhy) {
    ActionLibrary library("VantorSetup.dll");
    ASSERT_TRUE(library.loaded()) << "cannot load " << library.path();
    ScratchDir dir("vantor-log-lines");
    const std::string folder = dir.Make("App") + "\\";
    struct Case {
        const char* action;
        std::string data; // CustomActionData
        UINT result;
        std::string line; // the last line, after "VantorCustomAction: "
    } cases[] = {
        {"RondoApplyPatchInfo", "X" + folder + "|X|X6.1.7|X2|X3|X1031|XAB123|X", 0,
         folder + "rondo32.exe not patched: no converter chosen (DEFAULT_CONVERTER is empty or 0)"},
        {"FathomApplyPatchInfo", "", 0,
         "fathom.exe not patched: CustomActionData is empty: is the type-51 action that sets it "
         "missing?"},
        {"SetConfigLanguage", folder + "Rondo.exe.config|1042", 13,
         folder + "Rondo.exe.config not changed: unknown LCID \"1042\" (error 13)"},
        {"ConfigureHarbor", "", 2,
         "tessel.ini not replaced: CustomActionData is empty: is the type-51 action that sets it "
         "missing? (error 2)"},
        {"StartVantorAutoLauchService", "", 1603,
         "Vantor Auto Launch Service not started: it is not installed: is the package's "
         "ServiceInstall row missing? (error 1060)"},
    };
    for (const Case& c : cases) {
        Session session;
        ASSERT_NE(session.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session.openResult();
        ASSERT_EQ(session.Set("CustomActionData", c.data), 0u) << c.action;
        LogCapture log;
        EXPECT_EQ(library.Call(c.action, session.handle()), c.result) << c.action;
        ASSERT_FALSE(log.lines().empty()) << c.action << ": nothing logged";
        EXPECT_EQ(log.lines().back(), "VantorCustomAction: " + c.line) << c.action;
    }
}

} // namespace
