// The actions of the product's lifecycle against the real engine: the
// refusal of CheckChoices as an external user interface receives it, the
// engine's answers about an installed and a removed product (the demo really
// installed and removed), the properties the actions leave in a real session
// and where CostFinalize then puts INSTALLDIR, and the feature requests of
// SelectDriversFeature after costing.
#include "engine_session.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace engine;

namespace {

const char kDemoProduct[] = "{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E01}";
// A product code of no package: the running product of the sessions below.
const char kNewProduct[] = "{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9EF1}";

std::string Key(const std::string& product) {
    return "SOFTWARE\\Vantor Technology\\" + product;
}

// What an external user interface receives while the object lives: error
// messages as "error: <text>", the actions' lines without their prefix.
struct Messages {
    Messages() {
        previous = MsiSetExternalUIA(Handler, INSTALLLOGMODE_ERROR | INSTALLLOGMODE_INFO, this);
    }
    ~Messages() { MsiSetExternalUIA(previous, 0, nullptr); }
    static int WINAPI Handler(LPVOID context, UINT type, LPCSTR message) {
        const std::string text = message ? message : "";
        const std::string ours = "VantorCustomAction: ";
        if ((type & 0xFF000000u) == INSTALLMESSAGE_ERROR)
            static_cast<Messages*>(context)->seen.push_back("error: " + text);
        else if (text.rfind(ours, 0) == 0)
            static_cast<Messages*>(context)->seen.push_back(text.substr(ours.size()));
        return 0; // not handled: the engine goes on as without a handler
    }
    std::vector<std::string> seen;
    INSTALLUI_HANDLERA previous = nullptr;
};

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library_.loaded()) << "cannot load " << library_.path();
        DeleteTree(Key(kNewProduct));
        ASSERT_NE(session_.handle(), 0u) << Env("VANTOR_PACKAGE") << ": " << session_.openResult();
    }
    void TearDown() override { DeleteTree(Key(kNewProduct)); }

    void Cost() {
        for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"})
            ASSERT_EQ(session_.DoAction(action), ERROR_SUCCESS) << action;
    }
    UINT Run(const char* action) { return library_.Call(action, session_.handle()); }

    ActionLibrary library_{"VantorSetup.dll"};
    Session session_;
};

// The demo offers 81 and 3000 (CONVERTER_LIST "81,3000,7") and patches
// applications.
TEST_F(Lifecycle, CheckChoicesRefusesWithOneErrorMessage) {
    ASSERT_EQ(session_.Set("DEFAULT_CONVERTER", "12345"), ERROR_SUCCESS);
    Messages messages;
    EXPECT_EQ(Run("CheckChoices"), 1603u);
    EXPECT_EQ(messages.seen,
              std::vector<std::string>{"error: DEFAULT_CONVERTER=12345 cannot be used: no such "
                                       "converter; this package offers 81, 3000 (CONVERTER_LIST)"});

    // A package offering one converter: it is chosen.
    ASSERT_EQ(session_.Set("DEFAULT_CONVERTER", ""), ERROR_SUCCESS);
    ASSERT_EQ(session_.Set("CONVERTER_LIST", "81"), ERROR_SUCCESS);
    messages.seen.clear();
    EXPECT_EQ(Run("CheckChoices"), 0u);
    EXPECT_EQ(session_.Get("DEFAULT_CONVERTER"), "81");
    EXPECT_EQ(messages.seen, std::vector<std::string>{"DEFAULT_CONVERTER chosen: 81, the only "
                                                      "converter this package offers "
                                                      "(CONVERTER_LIST)"});
}

// A maintenance run of a product whose cache records C:\Loggers\: the
// engine resolves the install folder there, whatever was given; the
// package's own profile is no choice, a converter given is one.
TEST_F(Lifecycle, RecallChoicesSetsTheEnginesPropertiesBeforeCosting) {
    const std::pair<const char*, const char*> cache[] = {
        {"INSTALLDIR", "C:\\Loggers\\"}, {"DEFAULT_CONVERTER", "81"},
        {"DEFAULT_PAR_PORT", ""},        {"DEFAULT_COM_PORT", "3"},
        {"SERIAL_NUMBER", "SN-1001"},    {"DEFAULT_HARBOR_CONFIG", "coastal.ini"},
    };
    for (const auto& value : cache)
        ASSERT_EQ(WriteString(Key(kNewProduct), value.first, value.second), ERROR_SUCCESS);
    ASSERT_EQ(session_.Set("ProductCode", kNewProduct), ERROR_SUCCESS);
    ASSERT_EQ(session_.Set("DEFAULT_CONVERTER", "3000"), ERROR_SUCCESS);
    ASSERT_EQ(session_.Set("INSTALLDIR", "C:\\evil\\"), ERROR_SUCCESS);
    ASSERT_EQ(session_.Get("DEFAULT_HARBOR_CONFIG"), "harbor.cfg.ini");
    Messages messages;

    EXPECT_EQ(Run("RecallChoices"), ERROR_SUCCESS);

    for (const auto& value : cache)
        EXPECT_EQ(session_.Get(value.first), value.second) << value.first;
    EXPECT_EQ(messages.seen,
              (std::vector<std::string>{
                  "INSTALLDIR=C:\\evil\\ given, the folder of the first installation C:\\Loggers\\ "
                  "is used",
                  "DEFAULT_CONVERTER=3000 given, the cached 81 is used: a repair keeps the first "
                  "installation's choices; VANTOR_CHANGE_CHOICES=1 changes them"}));
    Cost();
    char folder[MAX_PATH] = "";
    DWORD size = MAX_PATH;
    ASSERT_EQ(MsiGetTargetPathA(session_.handle(), "INSTALLDIR", folder, &size), ERROR_SUCCESS);
    EXPECT_STREQ(folder, "C:\\Loggers\\");
}

// After CostFinalize: the chosen converter's drivers feature is requested,
// another that something had turned on is not installed.
TEST_F(Lifecycle, SelectDriversFeatureRequestsAfterCosting) {
    Cost();
    ASSERT_EQ(MsiSetFeatureStateA(session_.handle(), "Drivers_UL81", INSTALLSTATE_LOCAL), 0u);
    ASSERT_EQ(session_.Set("DEFAULT_CONVERTER", "3000"), ERROR_SUCCESS);
    Messages messages;
    EXPECT_EQ(Run("SelectDriversFeature"), ERROR_SUCCESS);
    for (const auto& expected : {std::make_pair("Drivers_US3000", INSTALLSTATE_LOCAL),
                                 std::make_pair("Drivers_UL81", INSTALLSTATE_ABSENT)}) {
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
        ASSERT_EQ(MsiGetFeatureStateA(session_.handle(), expected.first, &installed, &action), 0u);
        EXPECT_EQ(action, expected.second) << expected.first;
    }
    EXPECT_EQ(messages.seen, std::vector<std::string>{"Drivers feature Drivers_US3000 selected "
                                                      "for converter 3000; not installed: "
                                                      "Drivers_UL81"});
}

// The demo really installed with choices, then really removed.
TEST_F(Lifecycle, InstalledAndRemovedProductsAsTheEngineReportsThem) {
    struct Removal { // whatever fails, the demo does not stay for the other tests
        ~Removal() {
            MsiConfigureProductA(kDemoProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
        }
    } removal;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    ASSERT_EQ(MsiInstallProductA(Env("VANTOR_PACKAGE").c_str(),
                                 "DEFAULT_CONVERTER=81 DEFAULT_COM_PORT=3 SERIAL_NUMBER=SN-1001"),
              ERROR_SUCCESS);
    const auto answers = [](INSTALLSTATE state, UINT infoResult, const std::string& version) {
        EXPECT_EQ(MsiQueryProductStateA(kDemoProduct), state);
        char text[64] = "";
        DWORD size = sizeof text;
        EXPECT_EQ(MsiGetProductInfoA(kDemoProduct, "VersionString", text, &size), infoResult);
        EXPECT_EQ(std::string(text), version);
    };
    answers(INSTALLSTATE_DEFAULT, ERROR_SUCCESS, "1.0.0");
    const StoredValue recorded = ReadValue(Key(kDemoProduct), "INSTALLDIR");
    const std::string folder = recorded.bytes.substr(0, recorded.bytes.find('\0'));
    ASSERT_FALSE(folder.empty()) << "no folder recorded (" << recorded.result << ")";
    EXPECT_EQ(folder.back(), '\\') << folder;

    // A new product replacing the demo takes its choices, and leaves its
    // cache alone while it is installed.
    ASSERT_EQ(session_.Set("ProductCode", kNewProduct), ERROR_SUCCESS);
    ASSERT_EQ(session_.Set("ACTIONPROPERTY", std::string(kDemoProduct) + ";" + kNewProduct),
              ERROR_SUCCESS);
    Messages messages;
    EXPECT_EQ(Run("CarryOverChoices"), ERROR_SUCCESS);
    EXPECT_EQ(Run("ClearReplacedCaches"), ERROR_SUCCESS);
    EXPECT_EQ(session_.Get("INSTALLDIR"), folder);
    const std::string demo = kDemoProduct;
    EXPECT_EQ(messages.seen,
              (std::vector<std::string>{
                  "Choices carried over from " + demo +
                      " (1.0.0): DEFAULT_CONVERTER=81, DEFAULT_COM_PORT=3, SERIAL_NUMBER=SN-1001, "
                      "DEFAULT_HARBOR_CONFIG=harbor.cfg.ini, INSTALLDIR=" +
                      folder,
                  "Cache of " + demo + " kept: the product is still installed"}));

    // Removed, its key left behind: it goes, never the running product's own.
    ASSERT_EQ(MsiConfigureProductA(kDemoProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), 0u);
    answers(INSTALLSTATE_UNKNOWN, ERROR_UNKNOWN_PRODUCT, "");
    ASSERT_EQ(WriteString(Key(kDemoProduct), "DEFAULT_CONVERTER", "81"), ERROR_SUCCESS);
    ASSERT_EQ(WriteString(Key(kNewProduct), "DEFAULT_CONVERTER", "81"), ERROR_SUCCESS);
    messages.seen.clear();
    EXPECT_EQ(Run("ClearReplacedCaches"), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(Key(kDemoProduct)));
    EXPECT_TRUE(KeyExists(Key(kNewProduct)));
    EXPECT_EQ(messages.seen,
              std::vector<std::string>{"Cache of replaced product " + demo + " deleted"});
    DeleteTree(Key(kDemoProduct));
}

} // namespace
