#include "common/property.h"
#include "common/text.h"
#include "host_fixture.h"

#include <climits>
#include <string>

using namespace vantor;

namespace {

// Reads a property through the two-call rule, as every caller does.
std::string Fetch(IProperty& property) {
    return FetchValue(property).get();
}

// Copies out what the object holds now, without reading the store again.
std::string Held(IProperty& property) {
    DWORD size = 0;
    property.GetValue(nullptr, &size);
    std::string value(size, '\0');
    property.GetValue(value.data(), &size);
    return value.c_str();
}

class PropertyTest : public HostTest {};

TEST_F(PropertyTest, MsiPropertyReadsUndefinedAndEmptyAsEmptyText) {
    MsiProperty missing(session, "NOT_THERE");
    EXPECT_EQ(missing.Read(), 0u);
    DWORD size = 0;
    missing.GetValue(nullptr, &size);
    EXPECT_EQ(size, 1u) << "the empty text still needs its terminator";
}

TEST_F(PropertyTest, MsiPropertyReadsValueWhole) {
    const std::string longValue(5000, 'v');
    host::SetProperty("LONG", longValue);
    MsiProperty property(session, "LONG");
    ASSERT_EQ(property.Read(), 0u);
    DWORD size = 0;
    property.GetValue(nullptr, &size);
    EXPECT_EQ(size, 5001u);
    EXPECT_EQ(Fetch(property), longValue) << "values are copied out whole, never cut";
}

TEST_F(PropertyTest, MsiPropertyReadFailureLeavesNoValue) {
    host::SetProperty("P", "value");
    struct Case {
        const char* what;
        int nth;
    } cases[] = {{"length query fails", 1}, {"copy fails", 2}};
    for (const Case& c : cases) {
        host::ClearFaults();
        host::FailCall("MsiGetPropertyA", c.nth);
        MsiProperty property(session, "P");
        EXPECT_EQ(property.Read(), 1603u) << c.what;
        DWORD size = 99;
        property.GetValue(nullptr, &size);
        EXPECT_EQ(size, 0u) << c.what;
    }
}

TEST_F(PropertyTest, GetValueTwoCallRule) {
    host::SetProperty("P", "abc");
    MsiProperty property(session, "P");
    ASSERT_EQ(property.Read(), 0u);

    char buffer[8] = "zzzzzzz";
    DWORD size = 3; // too small, with a buffer: nothing is copied
    property.GetValue(buffer, &size);
    EXPECT_EQ(size, 4u);
    EXPECT_STREQ(buffer, "zzzzzzz");

    size = 8; // enough room, no buffer: nothing changes
    property.GetValue(nullptr, &size);
    EXPECT_EQ(size, 8u);

    property.GetValue(buffer, &size);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(size, 8u) << "a successful copy leaves the size as it was";
}

TEST_F(PropertyTest, SetValueAndWrite) {
    MsiProperty property(session, "TARGET");
    property.SetValue("abcdef", 3);
    EXPECT_EQ(Held(property), "abc");
    EXPECT_EQ(property.Write(), 0u);
    EXPECT_EQ(host::GetProperty("TARGET"), std::optional<std::string>("abc"));

    MsiProperty empty(session, "TARGET");
    EXPECT_EQ(empty.Write(), 0u) << "an object without a value removes the property";
    EXPECT_FALSE(host::GetProperty("TARGET").has_value());
}

TEST_F(PropertyTest, WritePassesTheEngineCodeThrough) {
    host::FailCall("MsiSetPropertyA", 0, 1627);
    MsiProperty property(session, "TARGET");
    property.SetValue("x", 1);
    EXPECT_EQ(property.Write(), 1627u);
}

TEST_F(PropertyTest, LogActionFormatsTheTemplate) {
    EXPECT_EQ(LogAction(session, "hello [2] world"), 0u);
    ASSERT_EQ(host::LogLines().size(), 1u);
    EXPECT_EQ(host::LogLines()[0], "VantorCustomAction: hello [2] world");
}

TEST_F(PropertyTest, LogActionNeverFails) {
    host::FailCall("MsiCreateRecord");
    EXPECT_EQ(LogAction(session, "dropped"), 0u);
    EXPECT_TRUE(host::LogLines().empty());
    host::ClearFaults();
    host::FailCall("MsiProcessMessage");
    EXPECT_EQ(LogAction(session, "dropped"), 0u);
}

struct DeferredCase {
    const char* data; // null: CustomActionData undefined
    const char* name;
    const char* expected;
};

TEST_F(PropertyTest, DeferredPropertyPicksItsField) {
    const DeferredCase cases[] = {
        {"Xa|X|Xc", "INSTALLDIR", "a"},
        {"Xa|X|Xc", "DEFAULT_CONVERTER", ""},
        {"Xa|X|Xc", "ProductVersion", "c"},
        {"Xa|X|Xc", "DEFAULT_PAR_PORT", ""},
        // Without the "X" an empty field vanishes and later fields move up.
        {"a||c", "DEFAULT_CONVERTER", "c"},
        {"a||c", "ProductVersion", ""},
        // A value that begins with X but was written without the prefix loses it.
        {"Xylophone", "INSTALLDIR", "ylophone"},
        {"", "SERIAL_NUMBER", ""},
        {nullptr, "INSTALLDIR", ""},
        {"|||", "INSTALLDIR", ""},
        {"|Xfirst|", "INSTALLDIR", "first"},
        // Names outside the list, or differing only in case, read field 0.
        {"Xa|Xb", "installdir", "a"},
        {"Xa|Xb", "DEFAULT_CONVERTER_X", "a"},
        {"Xa|Xb", "UNKNOWN", "a"},
        {"XC:\\App\\|X3001|X6.1.7|X1|X3|X1031|XAB123|Xomus", "REINSTALLMODE", "omus"},
        {"XC:\\App\\|X3001|X6.1.7|X1|X3|X1031|XAB123|Xomus", "ProductLanguage", "1031"},
        {"XC:\\App\\|X3001|X6.1.7|X1|X3|X1031|XAB123", "REINSTALLMODE", ""},
    };
    for (const DeferredCase& c : cases) {
        host::Reset();
        session = host::OpenSession();
        host::SetDeferred(true);
        if (c.data)
            host::SetProperty("CustomActionData", c.data);
        DeferredProperty property(session, c.name);
        EXPECT_EQ(property.Read(), 0u) << c.data << " / " << c.name;
        EXPECT_EQ(Fetch(property), c.expected) << (c.data ? c.data : "(none)") << " / " << c.name;
        EXPECT_TRUE(host::ForbiddenPropertyAccesses().empty());
    }
}

// Fields are counted as the split finds them; more than the layout's eight
// means a value held a "|".
TEST_F(PropertyTest, DeferredPropertyCountsFields) {
    const struct {
        const char* data;
        int fields;
    } cases[] = {
        {"", 0},
        {"|||", 0},
        {"Xa", 1},
        {"a||c|", 2},
        {"XC:\\App\\|X3001|X6.1.7|X1|X3|X1031|XAB123", 7},
        {"XC:\\App\\|X3001|X6.1.7|X1|X3|X1031|XAB123|Xomus", 8},
        {"XC:\\App\\|X3001||X6.1.7|X1|X3|X1031|XAB123|Xomus|", 8},
        {"XC:\\App\\|X3001|X6.1.7|X1|X3|X1031|XAB|X1|Xomus", 9},
        {"XC:\\App\\|X12|X9.9.9|X7|X9|X1033|XEVIL666|X|X6.1.7|X1|X3|X1031|XAB123|Xomus", 14},
    };
    for (const auto& c : cases) {
        host::SetProperty("CustomActionData", c.data);
        // The count does not depend on the field asked for.
        for (const char* name : {"INSTALLDIR", "REINSTALLMODE", "UNKNOWN"}) {
            DeferredProperty property(session, name);
            ASSERT_EQ(property.Read(), 0u) << c.data;
            EXPECT_EQ(property.FieldCount(), c.fields) << c.data << " / " << name;
            EXPECT_EQ(property.Malformed(), c.fields > 8) << c.data << " / " << name;
        }
    }
    host::FailCall("MsiGetPropertyA");
    DeferredProperty unreadable(session, "INSTALLDIR");
    EXPECT_EQ(unreadable.Read(), 1603u);
    EXPECT_EQ(unreadable.FieldCount(), 0);
}

TEST_F(PropertyTest, DeferredPropertyKeepsLongDataWhole) {
    // Fields far past the first kilobyte still arrive, and arrive whole.
    const std::string dir(3000, 'd');
    const std::string serial(1500, 's');
    host::SetProperty("CustomActionData", "X" + dir + "|X1|X2|X3|X4|X5|X" + serial + "|X");
    DeferredProperty installDir(session, "INSTALLDIR");
    EXPECT_EQ(installDir.Read(), 0u);
    EXPECT_EQ(Fetch(installDir), dir);
    DeferredProperty serialNumber(session, "SERIAL_NUMBER");
    EXPECT_EQ(serialNumber.Read(), 0u);
    EXPECT_EQ(Fetch(serialNumber), serial);
}

TEST_F(PropertyTest, DeferredPropertyIsReadOnly) {
    host::SetProperty("CustomActionData", "Xvalue");
    DeferredProperty property(session, "INSTALLDIR");
    ASSERT_EQ(property.Read(), 0u);
    property.SetValue("other", 5);
    EXPECT_EQ(Held(property), "value");
    EXPECT_EQ(property.Write(), 0u);
    EXPECT_EQ(host::GetProperty("CustomActionData"), std::optional<std::string>("Xvalue"));
}

TEST_F(PropertyTest, DeferredPropertyUnreadableData) {
    host::SetProperty("CustomActionData", "Xvalue");
    host::FailCall("MsiGetPropertyA");
    DeferredProperty property(session, "INSTALLDIR");
    EXPECT_EQ(property.Read(), 1603u);
    DWORD size = 5;
    property.GetValue(nullptr, &size);
    EXPECT_EQ(size, 0u);
}

TEST(ParseDecimal, ReadsADecimalPrefix) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"3001", 3001},
        {"  42", 42},
        {"\t+7", 7},
        {"-5", -5},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {nullptr, 0},
        {"- 5", 0},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN},
        {"1,2", 1},
        {"18446744073709551617", INT_MAX}, // 2^64 + 1: no wrap to 1
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseDecimal(c.text), c.expected) << (c.text ? c.text : "(null)");
}

} // namespace
