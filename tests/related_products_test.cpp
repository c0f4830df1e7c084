#include "setup/exports.h"
#include "setup/upgrade/related_products.h"
#include "host_fixture.h"
#include "sweep.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace vantor;

namespace {

constexpr std::size_t kGuid = 38;

bool AllUpper(const std::string& code) {
    for (char c : code)
        if (std::islower(static_cast<unsigned char>(c)))
            return false;
    return true;
}
bool AllLower(const std::string& code) {
    for (char c : code)
        if (std::isupper(static_cast<unsigned char>(c)))
            return false;
    return true;
}
std::string Upper(std::string text) {
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
bool HasLetter(const std::string& code) {
    for (char c : code)
        if (std::isalpha(static_cast<unsigned char>(c)))
            return true;
    return false;
}

std::vector<std::string> Codes(const char* list) {
    std::vector<std::string> codes;
    const std::string text = list;
    for (std::size_t at = 0; at + kGuid < text.size(); at += kGuid + 1)
        codes.push_back(text.substr(at, kGuid));
    return codes;
}

// A product code that no table row holds.
std::string Product(int n) {
    char code[40];
    std::snprintf(code, sizeof code, "{00000000-0000-4000-8000-%012d}", n);
    return code;
}

TEST(RelatedProductTableShape, HoldsTheFamilysCodesInTheirForm) {
    ASSERT_EQ(RelatedProductTableCount, 34u);
    int upperCodes = 0, lowerCodes = 0;
    std::set<std::string> upgradeCodes, upgradeCodesAnyCase, productCodes;
    std::size_t totalProducts = 0;
    for (std::size_t i = 0; i < RelatedProductTableCount; ++i) {
        const RelatedProducts& row = RelatedProductTable[i];
        const std::string upgrade = row.upgradeCode;
        EXPECT_EQ(upgrade.size(), kGuid) << i;
        ASSERT_TRUE(HasLetter(upgrade)) << i;
        upperCodes += AllUpper(upgrade);
        lowerCodes += AllLower(upgrade);
        upgradeCodes.insert(upgrade);
        upgradeCodesAnyCase.insert(Upper(upgrade));

        const std::size_t length = std::strlen(row.productCodes);
        EXPECT_EQ(length % (kGuid + 1), 0u) << i;
        const std::vector<std::string> codes = Codes(row.productCodes);
        EXPECT_GE(codes.size(), 1u) << i;
        EXPECT_LE(codes.size(), 15u) << i;
        EXPECT_EQ(length, codes.size() * (kGuid + 1)) << i;
        for (std::size_t k = 0; k < codes.size(); ++k) {
            EXPECT_EQ(row.productCodes[k * (kGuid + 1) + kGuid], ';') << i;
            EXPECT_TRUE(AllUpper(codes[k]) || AllLower(codes[k])) << codes[k];
            productCodes.insert(Upper(codes[k]));
        }
        totalProducts += codes.size();
    }
    EXPECT_EQ(upperCodes, 33);
    EXPECT_EQ(lowerCodes, 1);
    EXPECT_EQ(upgradeCodes.size(), 34u);
    EXPECT_EQ(upgradeCodesAnyCase.size(), 34u) << "distinct even when case is ignored";
    EXPECT_EQ(totalProducts, 227u);
    EXPECT_EQ(productCodes.size(), 227u) << "no product code stands twice";
}

class FrobMajorUpgradeTest : public HostTest {
  protected:
    // Index of the first row with n product codes (or of any case form).
    static const RelatedProducts& RowWith(std::size_t codes) {
        for (std::size_t i = 0; i < RelatedProductTableCount; ++i)
            if (Codes(RelatedProductTable[i].productCodes).size() == codes)
                return RelatedProductTable[i];
        ADD_FAILURE() << "no row with " << codes << " codes";
        return RelatedProductTable[0];
    }
    static const RelatedProducts& LowerCaseRow() {
        for (std::size_t i = 0; i < RelatedProductTableCount; ++i)
            if (AllLower(RelatedProductTable[i].upgradeCode))
                return RelatedProductTable[i];
        ADD_FAILURE() << "no lower-case row";
        return RelatedProductTable[0];
    }
};

std::string Joined(const std::vector<std::string>& codes) {
    std::string list;
    for (const std::string& code : codes)
        list += code + ";";
    return list;
}

TEST_F(FrobMajorUpgradeTest, ListsTableCodesThenEngineProducts) {
    const RelatedProducts& three = RowWith(3);
    const RelatedProducts& lower = LowerCaseRow();
    const std::string unknown = "{0BADC0DE-0000-4000-8000-000000000001}";
    std::vector<std::string> hundredThirty;
    for (int i = 0; i < 130; ++i)
        hundredThirty.push_back(Product(i));
    const std::vector<std::string> first100(hundredThirty.begin(), hundredThirty.begin() + 100);
    const std::string alsoInTable = Codes(three.productCodes)[1];
    std::string lowered = three.upgradeCode;
    for (char& ch : lowered)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));

    struct Case {
        const char* what;
        std::optional<std::string> upgradeCode;
        std::vector<std::string> engine; // products the engine reports
        std::optional<std::string> expected;
    } cases[] = {
        {"engine only", unknown, {Product(1), Product(2)}, Joined({Product(1), Product(2)})},
        {"table only", three.upgradeCode, {}, std::string(three.productCodes)},
        {"table, then engine",
         three.upgradeCode,
         {Product(7), alsoInTable},
         three.productCodes + Joined({Product(7), alsoInTable})},
        {"lower-case row", lower.upgradeCode, {}, std::string(lower.productCodes)},
        {"case differs from a row", Upper(lower.upgradeCode), {}, std::nullopt},
        {"lower-cased upper row", lowered, {}, std::nullopt},
        {"prefix of a row", std::string(three.upgradeCode).substr(0, 37), {}, std::nullopt},
        {"row code with more after it", std::string(three.upgradeCode) + " ", {}, std::nullopt},
        {"only 100 indexes are asked", unknown, hundredThirty, Joined(first100)},
        {"neither", unknown, {}, std::nullopt},
        {"empty upgrade code", std::string(), {}, std::nullopt},
        {"no upgrade code", std::nullopt, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        host::Reset();
        session = host::OpenSession();
        if (c.upgradeCode)
            host::SetProperty("UpgradeCode", *c.upgradeCode);
        host::SetProperty("ACTIONPROPERTY", "stale");
        for (const std::string& product : c.engine)
            host::AddRelatedProduct(*c.upgradeCode, product);
        EXPECT_EQ(FrobMajorUpgrade(session), 0u) << c.what;
        EXPECT_EQ(host::GetProperty("ACTIONPROPERTY"), c.expected) << c.what;
    }
}

TEST_F(FrobMajorUpgradeTest, ThreeCodeRowGives117Characters) {
    const RelatedProducts& three = RowWith(3);
    host::SetProperty("UpgradeCode", three.upgradeCode);
    EXPECT_EQ(FrobMajorUpgrade(session), 0u);
    ASSERT_TRUE(host::GetProperty("ACTIONPROPERTY"));
    EXPECT_EQ(host::GetProperty("ACTIONPROPERTY")->size(), 117u);
}

TEST_F(FrobMajorUpgradeTest, EngineFailuresKeepWhatWasListed) {
    const RelatedProducts& row = RowWith(3);
    struct Case {
        const char* what;
        const char* failedCall;
        int nth;
        std::optional<std::string> expected;
    } cases[] = {
        {"enumeration fails at index 2", "MsiEnumRelatedProductsA", 3,
         row.productCodes + Joined({Product(0), Product(1)})},
        {"enumeration fails at once", "MsiEnumRelatedProductsA", 1, std::string(row.productCodes)},
        {"upgrade code unreadable", "MsiGetPropertyA", 1, std::nullopt},
        {"list not written", "MsiSetPropertyA", 1, std::string("stale")},
    };
    for (const Case& c : cases) {
        host::Reset();
        session = host::OpenSession();
        host::SetProperty("UpgradeCode", row.upgradeCode);
        host::SetProperty("ACTIONPROPERTY", "stale");
        for (int i = 0; i < 4; ++i)
            host::AddRelatedProduct(row.upgradeCode, Product(i));
        host::FailCall(c.failedCall, c.nth);
        EXPECT_EQ(FrobMajorUpgrade(session), 0u) << c.what;
        EXPECT_EQ(host::GetProperty("ACTIONPROPERTY"), c.expected) << c.what;
    }
}

} // namespace

namespace {

VANTOR_SWEEP(FrobMajorUpgrade, "table row and engine products",
             [](SweepScene&) {
                 host::SetProperty("UpgradeCode", RelatedProductTable[0].upgradeCode);
                 host::AddRelatedProduct(RelatedProductTable[0].upgradeCode, Product(1));
                 host::AddRelatedProduct(RelatedProductTable[0].upgradeCode, Product(2));
             },
             {0});

} // namespace
