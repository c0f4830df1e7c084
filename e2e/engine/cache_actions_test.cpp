// CacheProperties and ClearPropertiesCache in a real installer session: the
// checks read back what the registry holds, never what the action reports.
#include "engine_session.h"

#include <gtest/gtest.h>

#include <string>

using namespace engine;

namespace {

const std::string kCompany = "SOFTWARE\\Vantor Technology";
const std::string kProduct = "{0C8A4E51-2B6D-4F0E-9A37-5D1C2E3F4A01}";
const std::string kOtherProduct = "{0C8A4E51-2B6D-4F0E-9A37-5D1C2E3F4A02}";

std::string ProductKey(const std::string& productCode) {
    return kCompany + "\\" + productCode;
}

// The stored form of a cached choice: REG_SZ with its terminator.
std::string Stored(const std::string& text) {
    return text + std::string(1, '\0');
}

struct Choice {
    const char* name;
    const char* value;
};

constexpr Choice kChoices[] = {
    {"DEFAULT_CONVERTER", "3001"},
    {"DEFAULT_PAR_PORT", "1"},
    {"DEFAULT_COM_PORT", "3"},
    {"SERIAL_NUMBER", "AB123"},
};

class CacheActions : public ::testing::Test {
  protected:
    void SetUp() override {
        // Each test starts without any cache; the prefix belongs to this tier.
        LONG cleared = DeleteTree(kCompany);
        ASSERT_TRUE(cleared == ERROR_SUCCESS || cleared == ERROR_FILE_NOT_FOUND) << cleared;
        ASSERT_TRUE(library_.loaded()) << "cannot load " << library_.path();
        ASSERT_NE(session_.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session_.openResult();
        ASSERT_EQ(session_.Set("ProductCode", kProduct), ERROR_SUCCESS);
    }
    void TearDown() override { DeleteTree(kCompany); }

    void SetChoices(const Choice* first, const Choice* last) {
        for (const Choice* choice = first; choice != last; ++choice)
            ASSERT_EQ(session_.Set(choice->name, choice->value), ERROR_SUCCESS) << choice->name;
    }
    UINT Run(const char* action) { return library_.Call(action, session_.handle()); }

    // Caches the four choices of kChoices for a product, through the action.
    void CacheFor(const std::string& productCode) {
        ASSERT_EQ(session_.Set("ProductCode", productCode), ERROR_SUCCESS);
        SetChoices(std::begin(kChoices), std::end(kChoices));
        ASSERT_EQ(Run("CacheProperties"), ERROR_SUCCESS);
        ASSERT_TRUE(KeyExists(ProductKey(productCode))) << productCode;
    }

    Session session_;
    ActionLibrary library_{"VantorSetup.dll"};
};

TEST_F(CacheActions, ExportsBothActionsByPlainName) {
    EXPECT_TRUE(library_.Exports("CacheProperties"));
    EXPECT_TRUE(library_.Exports("ClearPropertiesCache"));
}

TEST_F(CacheActions, CachesTheFourChoicesAsStringsUnderTheProductKey) {
    SetChoices(std::begin(kChoices), std::end(kChoices));

    ASSERT_EQ(Run("CacheProperties"), ERROR_SUCCESS);

    for (const Choice& choice : kChoices) {
        StoredValue stored = ReadValue(ProductKey(kProduct), choice.name);
        ASSERT_EQ(stored.result, ERROR_SUCCESS) << choice.name;
        EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ)) << choice.name;
        EXPECT_EQ(stored.bytes, Stored(choice.value)) << choice.name;
    }
}

TEST_F(CacheActions, CachesAnEmptySerialNumberAsTheTerminatorAlone) {
    SetChoices(std::begin(kChoices), std::end(kChoices) - 1);
    ASSERT_EQ(session_.Set("SERIAL_NUMBER", ""), ERROR_SUCCESS);

    ASSERT_EQ(Run("CacheProperties"), ERROR_SUCCESS);

    StoredValue serial = ReadValue(ProductKey(kProduct), "SERIAL_NUMBER");
    ASSERT_EQ(serial.result, ERROR_SUCCESS);
    EXPECT_EQ(serial.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(serial.bytes, Stored(""));
    EXPECT_EQ(ReadValue(ProductKey(kProduct), "DEFAULT_COM_PORT").bytes, Stored("3"));
}

TEST_F(CacheActions, CachesChoicesThatWereNeverMadeAsEmptyStrings) {
    ASSERT_EQ(Run("CacheProperties"), ERROR_SUCCESS);

    for (const Choice& choice : kChoices) {
        StoredValue stored = ReadValue(ProductKey(kProduct), choice.name);
        ASSERT_EQ(stored.result, ERROR_SUCCESS) << choice.name;
        EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ)) << choice.name;
        EXPECT_EQ(stored.bytes, Stored("")) << choice.name;
    }
}

TEST_F(CacheActions, KeysTheCacheByTheProductCodeOfTheSession) {
    ASSERT_EQ(session_.Set("ProductCode", kOtherProduct), ERROR_SUCCESS);
    SetChoices(std::begin(kChoices), std::end(kChoices));

    ASSERT_EQ(Run("CacheProperties"), ERROR_SUCCESS);

    EXPECT_TRUE(KeyExists(ProductKey(kOtherProduct)));
    EXPECT_FALSE(KeyExists(ProductKey(kProduct)));
}

TEST_F(CacheActions, ALaterRunOverwritesTheCachedChoices) {
    CacheFor(kProduct);
    ASSERT_EQ(session_.Set("DEFAULT_CONVERTER", "12"), ERROR_SUCCESS);
    ASSERT_EQ(session_.Set("DEFAULT_COM_PORT", "4"), ERROR_SUCCESS);

    ASSERT_EQ(Run("CacheProperties"), ERROR_SUCCESS);

    EXPECT_EQ(ReadValue(ProductKey(kProduct), "DEFAULT_CONVERTER").bytes, Stored("12"));
    EXPECT_EQ(ReadValue(ProductKey(kProduct), "DEFAULT_COM_PORT").bytes, Stored("4"));
    EXPECT_EQ(ReadValue(ProductKey(kProduct), "SERIAL_NUMBER").bytes, Stored("AB123"));
}

TEST_F(CacheActions, ClearingTheOnlyCachedProductRemovesTheCompanyKeyToo) {
    CacheFor(kProduct);
    ASSERT_EQ(session_.Set("ProductCode", kProduct), ERROR_SUCCESS);

    EXPECT_EQ(Run("ClearPropertiesCache"), ERROR_SUCCESS);

    EXPECT_FALSE(KeyExists(ProductKey(kProduct)));
    EXPECT_FALSE(KeyExists(kCompany));
    EXPECT_TRUE(KeyExists("SOFTWARE"));
}

TEST_F(CacheActions, ClearingOneOfTwoProductsKeepsTheOther) {
    CacheFor(kOtherProduct);
    CacheFor(kProduct);

    EXPECT_EQ(Run("ClearPropertiesCache"), ERROR_SUCCESS);

    EXPECT_FALSE(KeyExists(ProductKey(kProduct)));
    EXPECT_TRUE(KeyExists(kCompany));
    for (const Choice& choice : kChoices)
        EXPECT_EQ(ReadValue(ProductKey(kOtherProduct), choice.name).bytes, Stored(choice.value))
            << choice.name;
}

TEST_F(CacheActions, ClearingAProductThatWasNeverCachedSucceedsAndKeepsOthers) {
    CacheFor(kOtherProduct);
    ASSERT_EQ(session_.Set("ProductCode", kProduct), ERROR_SUCCESS);

    EXPECT_EQ(Run("ClearPropertiesCache"), ERROR_SUCCESS);

    EXPECT_TRUE(KeyExists(ProductKey(kOtherProduct)));
    EXPECT_EQ(ReadValue(ProductKey(kOtherProduct), "SERIAL_NUMBER").bytes, Stored("AB123"));
}

TEST_F(CacheActions, ClearingWithoutAnyCacheSucceeds) {
    ASSERT_FALSE(KeyExists(kCompany));

    EXPECT_EQ(Run("ClearPropertiesCache"), ERROR_SUCCESS);

    EXPECT_FALSE(KeyExists(kCompany));
}

TEST_F(CacheActions, AProductKeyThatCannotBeDeletedAnswersTheRegistryCode) {
    CacheFor(kProduct);
    // A key with a subkey is refused by RegDeleteKey.
    ASSERT_EQ(CreateKey(ProductKey(kProduct) + "\\Pinned"), ERROR_SUCCESS);

    EXPECT_EQ(Run("ClearPropertiesCache"), static_cast<UINT>(ERROR_ACCESS_DENIED));

    EXPECT_TRUE(KeyExists(ProductKey(kProduct)));
    EXPECT_EQ(ReadValue(ProductKey(kProduct), "DEFAULT_CONVERTER").bytes, Stored("3001"));
}

} // namespace
