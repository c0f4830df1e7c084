#include "common/property.h"
#include "host_fixture.h"
#include "setup/exports.h"
#include "sweep.h"

#include <string>
#include <utility>

using namespace vantor;

namespace {

constexpr const char* kProduct = "{11111111-2222-3333-4444-555555555555}";
constexpr const char* kOther = "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}";
const std::string kCompany = "SOFTWARE\\Vantor Technology";
const std::string kProductKey = kCompany + "\\" + kProduct;

class CacheTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        host::SetProperty("ProductCode", kProduct);
    }
    std::string Cached(const char* name) {
        auto value = host::GetRegValue(kProductKey, name);
        return value ? value->Text() : "<missing>";
    }
};

TEST_F(CacheTest, CachePropertiesStoresTheFourChoices) {
    host::SetProperty("DEFAULT_CONVERTER", "3001");
    host::SetProperty("DEFAULT_PAR_PORT", "1");
    host::SetProperty("DEFAULT_COM_PORT", "3");
    host::SetProperty("SERIAL_NUMBER", "AB123");
    host::SetProperty("UNRELATED", "never cached");
    EXPECT_EQ(CacheProperties(session), 0u);
    EXPECT_EQ(Cached("DEFAULT_CONVERTER"), "3001");
    EXPECT_EQ(Cached("DEFAULT_PAR_PORT"), "1");
    EXPECT_EQ(Cached("DEFAULT_COM_PORT"), "3");
    EXPECT_EQ(Cached("SERIAL_NUMBER"), "AB123");
    auto value = host::GetRegValue(kProductKey, "DEFAULT_CONVERTER");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, DWORD(REG_SZ));
    EXPECT_EQ(value->data.size(), 5u) << "the text with its terminator";
    EXPECT_FALSE(host::GetRegValue(kProductKey, "UNRELATED"));
}

// The profile too, and the install folder in the one form later runs compare:
// with its trailing separator.
TEST_F(CacheTest, CachePropertiesStoresTheProfileAndTheInstallFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Program Files\\Demo\\", "C:\\Program Files\\Demo\\"},
        {"D:\\Loggers", "D:\\Loggers\\"},
        {"", ""},
    };
    for (const auto& c : cases) {
        host::SetProperty("DEFAULT_HARBOR_CONFIG", "coastal.ini");
        host::SetProperty("INSTALLDIR", c.first);
        EXPECT_EQ(CacheProperties(session), 0u) << c.first;
        EXPECT_EQ(Cached("INSTALLDIR"), c.second) << c.first;
        EXPECT_EQ(Cached("DEFAULT_HARBOR_CONFIG"), "coastal.ini") << c.first;
    }
    EXPECT_TRUE(host::LogLines().empty());
}

TEST_F(CacheTest, EmptyChoiceIsCachedAsOneByteText) {
    EXPECT_EQ(CacheProperties(session), 0u);
    auto value = host::GetRegValue(kProductKey, "SERIAL_NUMBER");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, DWORD(REG_SZ));
    EXPECT_EQ(value->data, std::vector<BYTE>{0});
}

TEST_F(CacheTest, CacheOverwritesAnEarlierRun) {
    host::SetProperty("DEFAULT_COM_PORT", "3");
    CacheProperties(session);
    host::SetProperty("DEFAULT_COM_PORT", "7");
    CacheProperties(session);
    EXPECT_EQ(Cached("DEFAULT_COM_PORT"), "7");
}

TEST_F(CacheTest, RegistryPropertyReadsBackWhatWasCached) {
    host::SetProperty("DEFAULT_COM_PORT", "4");
    CacheProperties(session);
    RegistryProperty property(session, "DEFAULT_COM_PORT");
    EXPECT_EQ(property.Read(), 0u);
    EXPECT_STREQ(FetchValue(property).get(), "4");

    RegistryProperty never(session, "NEVER_CACHED");
    EXPECT_EQ(never.Read(), 1603u);
    DWORD size = 7;
    never.GetValue(nullptr, &size);
    EXPECT_EQ(size, 0u);
}

TEST_F(CacheTest, RegistryPropertyReadsDataWithoutTerminator) {
    host::SetRegValue(kProductKey, "SERIAL_NUMBER", REG_BINARY, {'A', 'B', 'C'});
    RegistryProperty property(session, "SERIAL_NUMBER");
    ASSERT_EQ(property.Read(), 0u);
    EXPECT_STREQ(FetchValue(property).get(), "ABC");
}

TEST_F(CacheTest, CacheSkipsWhatCannotBeReadOrWritten) {
    host::SetProperty("DEFAULT_CONVERTER", "3001");
    host::SetProperty("DEFAULT_PAR_PORT", "2");
    host::SetProperty("DEFAULT_COM_PORT", "3");
    // The first property read fails: cached as empty. The second value's
    // write fails: skipped. The rest still goes on.
    host::FailCall("MsiGetPropertyA", 1);
    host::FailCall("RegSetValueExA", 2);
    EXPECT_EQ(CacheProperties(session), 0u);
    EXPECT_EQ(Cached("DEFAULT_CONVERTER"), "");
    EXPECT_EQ(Cached("DEFAULT_PAR_PORT"), "<missing>");
    EXPECT_EQ(Cached("DEFAULT_COM_PORT"), "3");
    EXPECT_EQ(Cached("SERIAL_NUMBER"), "");
    EXPECT_EQ(host::LogLines(),
              (std::vector<std::string>{"VantorCustomAction: DEFAULT_CONVERTER cached as empty: "
                                        "the property cannot be read (error 1603)",
                                        "VantorCustomAction: DEFAULT_PAR_PORT not cached: the "
                                        "registry value cannot be written (error 5)"}));
}

TEST_F(CacheTest, NoProductCodeTouchesNoKey) {
    host::RemoveProperty("ProductCode");
    host::SetProperty("DEFAULT_CONVERTER", "3001");
    host::CreateKey(kCompany + "\\" + kOther);
    EXPECT_EQ(CacheProperties(session), 0u);
    EXPECT_EQ(host::LogLines(),
              std::vector<std::string>{"VantorCustomAction: Choices not cached: ProductCode is "
                                       "empty or cannot be read, and the cache key is named by it "
                                       "(error 1603)"});
    EXPECT_EQ(host::SubKeys(kCompany), std::vector<std::string>{kOther});
    EXPECT_FALSE(host::GetRegValue(kCompany, "DEFAULT_CONVERTER"));

    RegistryProperty property(session, "DEFAULT_CONVERTER");
    EXPECT_EQ(property.KeyPath(), nullptr);
    EXPECT_EQ(property.Read(), 1603u);
    property.SetValue("1", 1);
    EXPECT_NE(property.Write(), 0u);
    EXPECT_NE(ClearPropertiesCache(session), 0u);
    EXPECT_TRUE(host::KeyExists(kCompany + "\\" + kOther));
}

TEST_F(CacheTest, UnreadableProductCodeTouchesNoKey) {
    for (int nth : {1, 2}) {
        host::ClearFaults();
        host::FailCall("MsiGetPropertyA", nth);
        RegistryProperty property(session, "DEFAULT_CONVERTER");
        EXPECT_EQ(property.KeyPath(), nullptr) << "failing call " << nth;
    }
}

struct ClearCase {
    const char* what;
    bool productCached;
    bool otherCached;
    bool companyRemains;
};

TEST_F(CacheTest, ClearPropertiesCacheRemovesOnlyWhatIsOurs) {
    const ClearCase cases[] = {
        {"only product cached", true, false, false},
        {"two products cached", true, true, true},
        {"product key already gone", false, true, true},
        {"nothing cached at all", false, false, false},
    };
    for (const ClearCase& c : cases) {
        host::Reset();
        session = host::OpenSession();
        host::SetProperty("ProductCode", kProduct);
        if (c.productCached)
            host::SetRegString(kProductKey, "DEFAULT_CONVERTER", "3001");
        if (c.otherCached)
            host::SetRegString(kCompany + "\\" + kOther, "DEFAULT_CONVERTER", "1");
        EXPECT_EQ(ClearPropertiesCache(session), 0u) << c.what;
        EXPECT_FALSE(host::KeyExists(kProductKey)) << c.what;
        EXPECT_EQ(host::KeyExists(kCompany), c.companyRemains) << c.what;
        EXPECT_EQ(host::KeyExists(kCompany + "\\" + kOther), c.otherCached) << c.what;
        EXPECT_TRUE(host::KeyExists("SOFTWARE")) << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

TEST_F(CacheTest, ClearPropertiesCacheReportsAProductKeyThatStays) {
    host::SetRegString(kProductKey, "DEFAULT_CONVERTER", "3001");
    // A subkey nobody expected keeps the product key from being deleted.
    host::CreateKey(kProductKey + "\\Extra");
    EXPECT_EQ(ClearPropertiesCache(session), UINT(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(host::KeyExists(kProductKey));

    host::FailCall("RegDeleteKeyA", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ClearPropertiesCache(session), UINT(ERROR_ACCESS_DENIED));
}

TEST_F(CacheTest, DeleteKeyWalkEndsOnTheRefusedDeletion) {
    host::SetRegString(kProductKey, "DEFAULT_CONVERTER", "3001");
    host::SetRegString(kCompany + "\\" + kOther, "DEFAULT_CONVERTER", "1");
    {
        RegistryProperty cache(session);
        LONG first = -1;
        EXPECT_EQ(cache.DeleteKey(&first), LONG(ERROR_ACCESS_DENIED)) << "company key refuses";
        EXPECT_EQ(first, 0);
    }
    host::SetProperty("ProductCode", kOther);
    RegistryProperty last(session);
    EXPECT_EQ(last.DeleteKey(), LONG(ERROR_ACCESS_DENIED)) << "SOFTWARE refuses";
    EXPECT_FALSE(host::KeyExists(kCompany));
}

} // namespace

namespace {

void CachedChoices(SweepScene&) {
    host::SetProperty("ProductCode", kProduct);
    host::SetProperty("DEFAULT_CONVERTER", "3001");
    host::SetProperty("DEFAULT_COM_PORT", "3");
    host::SetProperty("SERIAL_NUMBER", "AB123");
}

VANTOR_SWEEP(CacheProperties, "four choices", CachedChoices, {0});
VANTOR_SWEEP(ClearPropertiesCache, "one product cached",
             [](SweepScene& scene) {
                 CachedChoices(scene);
                 host::SetRegString(kProductKey, "DEFAULT_CONVERTER", "3001");
             },
             {ERROR_INSTALL_FAILURE, ERROR_ACCESS_DENIED});
VANTOR_SWEEP(ClearPropertiesCache, "two products cached",
             [](SweepScene& scene) {
                 CachedChoices(scene);
                 host::SetRegString(kProductKey, "DEFAULT_CONVERTER", "3001");
                 host::SetRegString(kCompany + "\\" + kOther, "DEFAULT_CONVERTER", "1");
             },
             {ERROR_INSTALL_FAILURE, ERROR_ACCESS_DENIED});

} // namespace
