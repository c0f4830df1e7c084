#include "setup/catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <string>

using namespace vantor;

namespace {

// The device data every package and application relies on, row by row:
// id, layout2Code, layout1Code, portKind, interfaceClass, feature group
// ('1'..'4' for the shared groups, 'o' own feature, '-' none).
struct ExpectedRow {
    int id, layout2, layout1, portKind, interfaceClass;
    char group;
};
constexpr ExpectedRow kExpected[] = {
    {1, 0, 0, 0, 0, 'o'},          {2, 0, 2, 0, 0, 'o'},          {3, 0, 3, 0, 0, 'o'},
    {8, 0, 8, 0, 0, 'o'},          {10, 10, 10, 1, 7, '1'},       {11, 11, 11, 1, 7, '2'},
    {12, 12, 12, 1, 7, '1'},       {16, 0, 16, 0, 0, 'o'},        {22, 22, 22, 1, 7, '2'},
    {40, 40, 40, 1, 7, '1'},       {42, 42, 42, 1, 7, '1'},       {70, 70, 70, 1, 7, 'o'},
    {81, 0, 81, 2, 4, 'o'},        {99, 0, 99, 3, 0, '-'},        {100, 100, 100, 1, 7, '3'},
    {101, 101, 0, 1, 7, '3'},      {104, 0, 104, 0, 0, 'o'},      {111, 111, 111, 2, 4, 'o'},
    {200, 200, 200, 1, 14, '4'},   {212, 212, 212, 1, 14, '4'},   {2121, 212, 212, 1, 14, '4'},
    {2122, 212, 212, 1, 14, '4'},  {216, 216, 216, 1, 14, '4'},   {255, 0, 255, 3, 0, '-'},
    {900, 0, 900, 2, 4, 'o'},      {2000, 2000, 2000, 2, 4, 'o'}, {3000, 3000, 3200, 2, 4, 'o'},
    {3001, 3000, 3000, 2, 4, 'o'}, {20, 0, 5000, 2, 4, 'o'},      {5000, 0, 0, 2, 4, 'o'},
    {4000, 0, 0, 2, 4, 'o'},       {4001, 0, 0, 2, 4, 'o'},       {1000, 111, 1000, 2, 4, 'o'},
    {6000, 0, 0, 2, 4, 'o'},       {1104, 0, 1104, 2, 4, 'o'},    {256, 0, 256, 2, 4, 'o'},
};

TEST(CatalogueTest, RowsInTableOrder) {
    ASSERT_EQ(ConverterCatalogueCount, sizeof kExpected / sizeof kExpected[0]);
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i) {
        const ConverterInfo& row = ConverterCatalogue[i];
        const ExpectedRow& want = kExpected[i];
        SCOPED_TRACE("row " + std::to_string(i));
        EXPECT_EQ(row.id, want.id);
        EXPECT_EQ(row.layout2Code, want.layout2);
        EXPECT_EQ(row.layout1Code, want.layout1);
        EXPECT_EQ(row.portKind, want.portKind);
        EXPECT_EQ(row.interfaceClass, want.interfaceClass);
        ASSERT_NE(row.displayName, nullptr);
        ASSERT_NE(row.feature, nullptr);
        EXPECT_STRNE(row.displayName, "");
        EXPECT_EQ(*row.feature == '\0', want.group == '-');
    }
}

TEST(CatalogueTest, FeatureGroups) {
    std::map<char, std::set<std::string>> byGroup;
    std::map<std::string, int> uses;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i) {
        const std::string feature = ConverterCatalogue[i].feature;
        byGroup[kExpected[i].group].insert(feature);
        if (!feature.empty())
            ++uses[feature];
    }
    EXPECT_EQ(uses.size(), 25u) << "distinct non-empty drivers features";
    const std::pair<char, int> groupSizes[] = {{'1', 4}, {'2', 2}, {'3', 2}, {'4', 5}};
    for (const auto& [group, rows] : groupSizes) {
        ASSERT_EQ(byGroup[group].size(), 1u) << "group " << group << " shares one feature";
        EXPECT_EQ(uses[*byGroup[group].begin()], rows) << "group " << group;
    }
    EXPECT_EQ(byGroup['o'].size(), 21u);
    for (const std::string& feature : byGroup['o'])
        EXPECT_EQ(uses[feature], 1) << feature << " belongs to one row only";
    EXPECT_STREQ(ConverterCatalogue[0].feature, ConverterCatalogue[0].displayName);
    EXPECT_STREQ(ConverterCatalogue[13].feature, "");
    EXPECT_STREQ(ConverterCatalogue[23].feature, "");
}

TEST(CatalogueTest, UsbInterfaceClassExactlyForUsbPorts) {
    int usb = 0;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i) {
        const ConverterInfo& row = ConverterCatalogue[i];
        EXPECT_EQ(row.portKind == kUsbPort, row.interfaceClass == kUsbInterfaceClass) << row.id;
        usb += row.portKind == kUsbPort;
    }
    EXPECT_EQ(usb, 14);
}

TEST(CatalogueTest, FindConverter) {
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
        EXPECT_EQ(FindConverter(ConverterCatalogue[i].id), &ConverterCatalogue[i]);
    EXPECT_EQ(FindConverter(20), &ConverterCatalogue[28]) << "out of numeric order";
    // No id beyond the table, whatever the number: 0, unknown, negative, huge.
    for (int id : {0, 7, -1, -3001, 65536, 65536 + 100, 3002, INT_MAX, INT_MIN})
        EXPECT_EQ(FindConverter(id), nullptr) << id;
}

TEST(CatalogueTest, ConverterCodeByLayout) {
    struct Case {
        int id, layout, code;
    } cases[] = {
        {101, 1, 0},     {101, 2, 101},   {101, 3, 101},   {2122, 1, 212},  {2122, 2, 212},
        {2122, 3, 2122}, {3000, 1, 3200}, {3000, 2, 3000}, {3001, 1, 3000}, {3001, 2, 3000},
        {3001, 3, 3001}, {20, 1, 5000},   {20, 2, 0},      {20, 3, 20},     {1000, 2, 111},
        {99, 1, 99},     {99, 2, 0},      {5000, 1, 0},    {2121, 4, 2121}, {2121, 0, 2121},
    };
    for (const Case& c : cases) {
        const ConverterInfo* row = FindConverter(c.id);
        ASSERT_NE(row, nullptr) << c.id;
        EXPECT_EQ(ConverterCode(*row, c.layout), c.code) << "id " << c.id << " layout " << c.layout;
    }
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
        for (int layout : {1, 2, 3})
            EXPECT_LE(ConverterCode(ConverterCatalogue[i], layout), 65535) << "fits 16 bits";
}

} // namespace
