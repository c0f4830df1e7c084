// FrobMajorUpgrade in a real installer session: the demo package (1.0) is
// really installed into the prefix first, so that the engine reports it under
// the demo's upgrade code, which the related-products table also lists.
#include "engine_session.h"

#include <gtest/gtest.h>

#include <string>

using namespace engine;

namespace {

const char kDemoProduct[] = "{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E01}";
const char kDemoUpgradeCode[] = "{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E02}";
const char kCompanionUpgradeCode[] = "{5A0E2D61-7C3B-4F4B-9D2E-1B6A7C8D9E12}";
// The table's earlier releases for the demo's upgrade code, and for a family
// row with a single earlier release: as the table stores them.
const char kDemoTableCodes[] =
    "{CA3957A3-8CBC-4989-A6AB-B69E20994A9B};{CC8FBE80-A51C-4AF0-A527-6BC3A5C8B760};";
const char kSingleRowUpgradeCode[] = "{EE938D9E-3399-40B7-B746-AF6717476DDF}";
const char kSingleRowCodes[] = "{0680BBE9-C941-4C0F-BD24-2B6BAA7032C9};";

class MajorUpgrade : public ::testing::Test {
  protected:
    // One real installation for the whole suite: about a second under Wine.
    static void SetUpTestSuite() {
        MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        // The demo patches applications: an installation without a converter
        // is refused before anything is installed.
        installResult_ = MsiInstallProductA(Env("VANTOR_PACKAGE").c_str(), "DEFAULT_CONVERTER=81");
    }
    static void TearDownTestSuite() {
        if (installResult_ == ERROR_SUCCESS)
            MsiConfigureProductA(kDemoProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
    }
    void SetUp() override {
        ASSERT_EQ(installResult_, ERROR_SUCCESS) << "cannot install " << Env("VANTOR_PACKAGE");
        ASSERT_TRUE(library_.loaded()) << "cannot load " << library_.path();
    }

    static UINT installResult_;
    ActionLibrary library_{"VantorSetup.dll"};
};

UINT MajorUpgrade::installResult_ = ERROR_INSTALL_FAILURE;

TEST_F(MajorUpgrade, TheEngineReportsTheInstalledDemoUnderItsUpgradeCode) {
    char product[39] = "";
    ASSERT_EQ(MsiEnumRelatedProductsA(kDemoUpgradeCode, 0, 0, product), ERROR_SUCCESS);
    EXPECT_STREQ(product, kDemoProduct);
    EXPECT_EQ(MsiEnumRelatedProductsA(kDemoUpgradeCode, 0, 1, product),
              static_cast<UINT>(ERROR_NO_MORE_ITEMS));
}

TEST_F(MajorUpgrade, ActionPropertyListsTheTableCodesThenTheInstalledProducts) {
    struct Case {
        const char* what;
        const char* upgradeCode;
        std::string expected; // "" : the property is removed
    } cases[] = {
        {"the demo: table row and installed 1.0", kDemoUpgradeCode,
         std::string(kDemoTableCodes) + kDemoProduct + ";"},
        {"a table row with nothing installed", kSingleRowUpgradeCode, kSingleRowCodes},
        {"neither in the table nor installed", kCompanionUpgradeCode, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Session session;
        ASSERT_NE(session.handle(), 0u) << session.openResult();
        ASSERT_EQ(session.Set("UpgradeCode", c.upgradeCode), ERROR_SUCCESS);
        // A value left from before must not survive an empty list.
        ASSERT_EQ(session.Set("ACTIONPROPERTY", "{stale}"), ERROR_SUCCESS);

        EXPECT_EQ(library_.Call("FrobMajorUpgrade", session.handle()), ERROR_SUCCESS);

        EXPECT_EQ(session.Get("ACTIONPROPERTY"), c.expected);
    }
}

} // namespace
