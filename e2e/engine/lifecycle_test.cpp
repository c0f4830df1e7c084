// The actions of the product's lifecycle against the real engine: the
// refusal of CheckChoices as an external user interface receives it, the
// engine's own answers about installed and removed products (the demo
// really installed and removed), the properties RecallChoices and
// CarryOverChoices leave in a real session and where CostFinalize then puts
// INSTALLDIR, and the feature requests of SelectDriversFeature after costing.
#include "engine_session.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace engine;

namespace {

const std::string kCompany = "SOFTWARE\\Vantor Technology";
const char kDemoProduct[] = "{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E01}";
// A product code of no package: the running product of the sessions below.
const char kNewProduct[] = "{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9EF1}";

std::string Key(const std::string& product) {
    return kCompany + "\\" + product;
}

// Error messages and the actions' lines, as an external user interface
// receives them, for as long as the object lives.
class MessageCapture {
  public:
    MessageCapture() {
        previous_ = MsiSetExternalUIA(Handler, INSTALLLOGMODE_ERROR | INSTALLLOGMODE_INFO, this);
    }
    ~MessageCapture() { MsiSetExternalUIA(previous_, 0, nullptr); }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    const std::vector<std::string>& errors() const { return errors_; }
    // The lines of the actions, without their "VantorCustomAction: ".
    std::vector<std::string> lines() const {
        std::vector<std::string> ours;
        const std::string prefix = "VantorCustomAction: ";
        for (const std::string& line : info_)
            if (line.rfind(prefix, 0) == 0)
                ours.push_back(line.substr(prefix.size()));
        return ours;
    }

  private:
    static int WINAPI Handler(LPVOID context, UINT type, LPCSTR message) {
        auto* self = static_cast<MessageCapture*>(context);
        const UINT kind = type & 0xFF000000u;
        if (message && kind == INSTALLMESSAGE_ERROR)
            self->errors_.push_back(message);
        else if (message && kind == INSTALLMESSAGE_INFO)
            self->info_.push_back(message);
        return 0; // not handled: the engine goes on as without a handler
    }

    std::vector<std::string> errors_;
    std::vector<std::string> info_;
    INSTALLUI_HANDLERA previous_ = nullptr;
};

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library_.loaded()) << "cannot load " << library_.path();
        LONG cleared = DeleteTree(Key(kNewProduct));
        ASSERT_TRUE(cleared == ERROR_SUCCESS || cleared == ERROR_FILE_NOT_FOUND) << cleared;
    }
    void TearDown() override { DeleteTree(Key(kNewProduct)); }

    static void ExpectOpen(const Session& session) {
        ASSERT_NE(session.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session.openResult();
    }
    static void Cost(Session& session) {
        for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"})
            ASSERT_EQ(session.DoAction(action), ERROR_SUCCESS) << action;
    }
    UINT Run(const char* action, Session& session) {
        return library_.Call(action, session.handle());
    }

    ActionLibrary library_{"VantorSetup.dll"};
};

TEST_F(Lifecycle, ExportsTheFiveActionsByPlainName) {
    for (const char* action : {"RecallChoices", "CarryOverChoices", "CheckChoices",
                               "SelectDriversFeature", "ClearReplacedCaches"})
        EXPECT_TRUE(library_.Exports(action)) << action;
}

// The demo offers 81 and 3000 (CONVERTER_LIST "81,3000,7"), patches
// applications and has the profiles harbor.cfg.ini and coastal.ini.
TEST_F(Lifecycle, CheckChoicesRefusesWithOneErrorMessage) {
    const std::string offers = "this package offers 81, 3000 (CONVERTER_LIST)";
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, const char*>> properties;
        UINT result;
        std::string error;     // "": none
        std::string converter; // DEFAULT_CONVERTER afterwards
    } cases[] = {
        {"a valid choice", {{"DEFAULT_HARBOR_CONFIG", "Coastal.INI"}}, 0, "", "81"},
        {"no converter",
         {{"DEFAULT_CONVERTER", ""}},
         1603,
         "DEFAULT_CONVERTER= cannot be used: no converter chosen, and this package patches "
         "applications; " +
             offers,
         ""},
        {"an unknown converter",
         {{"DEFAULT_CONVERTER", "12345"}},
         1603,
         "DEFAULT_CONVERTER=12345 cannot be used: no such converter; " + offers,
         "12345"},
        {"a converter not offered",
         {{"DEFAULT_CONVERTER", "3001"}},
         1603,
         "DEFAULT_CONVERTER=3001 cannot be used: this package does not offer it; " + offers,
         "3001"},
        {"a port by name",
         {{"DEFAULT_COM_PORT", "COM3"}},
         1603,
         "DEFAULT_COM_PORT=COM3 cannot be used: a port is a whole number from 0 to 65535, or "
         "empty",
         "81"},
        {"a long serial number",
         {{"SERIAL_NUMBER", "ABCDEFGHIJK"}},
         1603,
         "SERIAL_NUMBER=ABCDEFGHIJK cannot be used: at most 8 characters fit the record",
         "81"},
        {"a profile that is no file of the package",
         {{"DEFAULT_HARBOR_CONFIG", "evil.ini"}},
         1603,
         "DEFAULT_HARBOR_CONFIG=evil.ini cannot be used: no such file of component rondoconfig; "
         "allowed: harbor.cfg.ini, coastal.ini, or empty",
         "81"},
        {"a bar in a value",
         {{"SERIAL_NUMBER", "AB|X7"}},
         1603,
         "SERIAL_NUMBER=AB|X7 cannot be used: \"|\" separates the fields of the deferred actions' "
         "data and cannot be part of a value",
         "81"},
        {"the one converter offered is chosen",
         {{"CONVERTER_LIST", "81"}, {"DEFAULT_CONVERTER", ""}},
         0,
         "",
         "81"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Session session;
        ExpectOpen(session);
        ASSERT_EQ(session.Set("DEFAULT_CONVERTER", "81"), ERROR_SUCCESS);
        for (const auto& property : c.properties)
            ASSERT_EQ(session.Set(property.first, property.second), ERROR_SUCCESS);
        MessageCapture messages;
        EXPECT_EQ(Run("CheckChoices", session), c.result);
        EXPECT_EQ(messages.errors(),
                  c.error.empty() ? std::vector<std::string>() : std::vector<std::string>{c.error});
        EXPECT_EQ(session.Get("DEFAULT_CONVERTER"), c.converter);
    }
}

// A maintenance run of a product whose cache records C:\Loggers\: the
// engine then resolves the install folder there, whatever was given.
TEST_F(Lifecycle, RecallChoicesSetsTheEnginesPropertiesBeforeCosting) {
    ASSERT_EQ(WriteString(Key(kNewProduct), "INSTALLDIR", "C:\\Loggers\\"), ERROR_SUCCESS);
    const std::pair<const char*, const char*> cache[] = {
        {"DEFAULT_CONVERTER", "81"},
        {"DEFAULT_PAR_PORT", ""},
        {"DEFAULT_COM_PORT", "3"},
        {"SERIAL_NUMBER", "SN-1001"},
        {"DEFAULT_HARBOR_CONFIG", "coastal.ini"},
    };
    for (const auto& value : cache)
        ASSERT_EQ(WriteString(Key(kNewProduct), value.first, value.second), ERROR_SUCCESS);
    Session session;
    ExpectOpen(session);
    ASSERT_EQ(session.Set("ProductCode", kNewProduct), ERROR_SUCCESS);
    // Given: a converter and a folder. Not given: the package's own profile.
    ASSERT_EQ(session.Set("DEFAULT_CONVERTER", "3000"), ERROR_SUCCESS);
    ASSERT_EQ(session.Set("INSTALLDIR", "C:\\evil\\"), ERROR_SUCCESS);
    ASSERT_EQ(session.Get("DEFAULT_HARBOR_CONFIG"), "harbor.cfg.ini");

    MessageCapture messages;
    EXPECT_EQ(Run("RecallChoices", session), ERROR_SUCCESS);

    for (const auto& value : cache)
        EXPECT_EQ(session.Get(value.first), value.second) << value.first;
    EXPECT_EQ(messages.lines(),
              (std::vector<std::string>{
                  "INSTALLDIR=C:\\evil\\ given, the folder of the first installation C:\\Loggers\\ "
                  "is used",
                  "DEFAULT_CONVERTER=3000 given, the cached 81 is used: a repair keeps the first "
                  "installation's choices; VANTOR_CHANGE_CHOICES=1 changes them"}));
    Cost(session);
    char folder[MAX_PATH] = "";
    DWORD size = MAX_PATH;
    ASSERT_EQ(MsiGetTargetPathA(session.handle(), "INSTALLDIR", folder, &size), ERROR_SUCCESS);
    EXPECT_STREQ(folder, "C:\\Loggers\\");
}

// After CostFinalize the chosen converter's drivers feature is requested,
// another one that something had turned on is not installed.
TEST_F(Lifecycle, SelectDriversFeatureRequestsAfterCosting) {
    struct Case {
        const char* converter;
        const char* chosen;
        const char* other;
    } cases[] = {
        {"3000", "Drivers_US3000", "Drivers_UL81"},
        {"81", "Drivers_UL81", "Drivers_US3000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.converter);
        Session session;
        ExpectOpen(session);
        Cost(session);
        ASSERT_EQ(MsiSetFeatureStateA(session.handle(), c.other, INSTALLSTATE_LOCAL),
                  ERROR_SUCCESS);
        ASSERT_EQ(session.Set("DEFAULT_CONVERTER", c.converter), ERROR_SUCCESS);
        MessageCapture messages;
        EXPECT_EQ(Run("SelectDriversFeature", session), ERROR_SUCCESS);
        for (const auto& expected : {std::make_pair(c.chosen, INSTALLSTATE_LOCAL),
                                     std::make_pair(c.other, INSTALLSTATE_ABSENT)}) {
            INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
            ASSERT_EQ(MsiGetFeatureStateA(session.handle(), expected.first, &installed, &action),
                      ERROR_SUCCESS);
            EXPECT_EQ(action, expected.second) << expected.first;
        }
        EXPECT_EQ(messages.lines(),
                  std::vector<std::string>{std::string("Drivers feature ") + c.chosen +
                                           " selected for converter " + c.converter +
                                           "; not installed: " + c.other});
    }
}

// The demo really installed with choices, then really removed: what the
// engine answers about it, and what the actions do with those answers.
TEST_F(Lifecycle, InstalledAndRemovedProductsAsTheEngineReportsThem) {
    // Whatever fails below, the demo does not stay for the other tests.
    struct Removal {
        ~Removal() {
            if (MsiQueryProductStateA(kDemoProduct) == INSTALLSTATE_DEFAULT)
                MsiConfigureProductA(kDemoProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
        }
    } removal;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ASSERT_EQ(MsiInstallProductA(Env("VANTOR_PACKAGE").c_str(),
                                 "DEFAULT_CONVERTER=81 DEFAULT_COM_PORT=3 SERIAL_NUMBER=SN-1001"),
              ERROR_SUCCESS);
    struct Phase {
        const char* what;
        INSTALLSTATE state;
        UINT infoResult;
        std::string version;
    };
    const auto answers = [](const Phase& phase) {
        SCOPED_TRACE(phase.what);
        EXPECT_EQ(MsiQueryProductStateA(kDemoProduct), phase.state);
        char version[64] = "";
        DWORD size = sizeof version;
        EXPECT_EQ(MsiGetProductInfoA(kDemoProduct, "VersionString", version, &size),
                  phase.infoResult);
        EXPECT_EQ(std::string(version), phase.version);
    };
    answers({"installed", INSTALLSTATE_DEFAULT, ERROR_SUCCESS, "1.0.0"});
    const StoredValue recorded = ReadValue(Key(kDemoProduct), "INSTALLDIR");
    ASSERT_EQ(recorded.result, ERROR_SUCCESS) << "the installation recorded no folder";
    const std::string folder = recorded.bytes.substr(0, recorded.bytes.find('\0'));
    EXPECT_EQ(folder.back(), '\\') << folder;

    {
        // A new product replacing the installed demo takes its choices.
        Session session;
        ExpectOpen(session);
        ASSERT_EQ(session.Set("ProductCode", kNewProduct), ERROR_SUCCESS);
        ASSERT_EQ(session.Set("ACTIONPROPERTY", std::string(kDemoProduct) + ";"), ERROR_SUCCESS);
        MessageCapture messages;
        EXPECT_EQ(Run("CarryOverChoices", session), ERROR_SUCCESS);
        EXPECT_EQ(session.Get("DEFAULT_CONVERTER"), "81");
        EXPECT_EQ(session.Get("SERIAL_NUMBER"), "SN-1001");
        EXPECT_EQ(session.Get("INSTALLDIR"), folder);
        EXPECT_EQ(messages.lines(),
                  std::vector<std::string>{
                      std::string("Choices carried over from ") + kDemoProduct +
                      " (1.0.0): DEFAULT_CONVERTER=81, DEFAULT_COM_PORT=3, SERIAL_NUMBER=SN-1001, "
                      "DEFAULT_HARBOR_CONFIG=harbor.cfg.ini, INSTALLDIR=" +
                      folder});
    }
    {
        // While the demo is installed its cache stays.
        Session session;
        ExpectOpen(session);
        ASSERT_EQ(session.Set("ProductCode", kNewProduct), ERROR_SUCCESS);
        ASSERT_EQ(session.Set("ACTIONPROPERTY", std::string(kDemoProduct) + ";"), ERROR_SUCCESS);
        MessageCapture messages;
        EXPECT_EQ(Run("ClearReplacedCaches", session), ERROR_SUCCESS);
        EXPECT_TRUE(KeyExists(Key(kDemoProduct)));
        EXPECT_EQ(messages.lines(),
                  std::vector<std::string>{std::string("Cache of ") + kDemoProduct +
                                           " kept: the product is still installed"});
    }

    ASSERT_EQ(MsiConfigureProductA(kDemoProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT),
              ERROR_SUCCESS);
    answers({"removed", INSTALLSTATE_UNKNOWN, ERROR_UNKNOWN_PRODUCT, ""});
    {
        // A cache left behind by the removed product goes.
        ASSERT_EQ(WriteString(Key(kDemoProduct), "DEFAULT_CONVERTER", "81"), ERROR_SUCCESS);
        ASSERT_EQ(WriteString(Key(kNewProduct), "DEFAULT_CONVERTER", "3000"), ERROR_SUCCESS);
        Session session;
        ExpectOpen(session);
        ASSERT_EQ(session.Set("ProductCode", kNewProduct), ERROR_SUCCESS);
        ASSERT_EQ(
            session.Set("ACTIONPROPERTY", std::string(kDemoProduct) + ";" + kNewProduct + ";"),
            ERROR_SUCCESS);
        MessageCapture messages;
        EXPECT_EQ(Run("ClearReplacedCaches", session), ERROR_SUCCESS);
        EXPECT_FALSE(KeyExists(Key(kDemoProduct)));
        EXPECT_TRUE(KeyExists(Key(kNewProduct))) << "never the running product's own";
        EXPECT_EQ(messages.lines(),
                  std::vector<std::string>{std::string("Cache of replaced product ") +
                                           kDemoProduct + " deleted"});
    }
    DeleteTree(Key(kDemoProduct));
}

} // namespace
