#include "setup/cache/lifecycle.h"

#include "common/handles.h"
#include "common/property.h"
#include "common/text.h"

#include <cctype>
#include <cstring>

namespace vantor {

namespace {

// The action properties of the Upgrade rows and their attributes.
constexpr const char kUpgradeQuery[] = "SELECT `ActionProperty`, `Attributes` FROM `Upgrade`";
enum UpgradeColumn : UINT { kActionProperty = 1, kAttributes = 2 };
// Rows that only detect a product remove nothing.
constexpr std::int32_t kOnlyDetect = 0x2;

// Field of a record as text; false when it cannot be read.
bool FieldText(MSIHANDLE record, UINT field, std::string& text, UINT* result) {
    DWORD length = 0;
    char empty[1] = "";
    UINT got = MsiRecordGetStringA(record, field, empty, &length);
    if (got == ERROR_SUCCESS) {
        text.clear();
        return true;
    }
    if (got != ERROR_MORE_DATA) {
        *result = got;
        return false;
    }
    std::string value(length + 1, '\0');
    DWORD size = length + 1;
    got = MsiRecordGetStringA(record, field, &value[0], &size);
    if (got != ERROR_SUCCESS) {
        *result = got;
        return false;
    }
    value.resize(std::strlen(value.c_str()));
    text = std::move(value);
    return true;
}

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The numbers of "a.b.c", as many as there are. The engine's version
// strings are digits and dots: no white space or sign is read, a part
// without digits is 0, and a long part keeps the value its leading digits
// had on reaching 10^9, as the patch record's version does.
std::vector<std::uint64_t> VersionParts(const std::string& version) {
    std::vector<std::uint64_t> parts;
    const char* p = version.c_str();
    while (*p) {
        parts.push_back(ReadDigits(p, 1000000000).value);
        if (*p != '.')
            break;
        ++p;
    }
    return parts;
}

} // namespace

std::string PropertyText(MSIHANDLE installation, LPCSTR name, UINT* result) {
    MsiProperty property(installation, name);
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> value = FetchValue(property, &readResult);
    if (result)
        *result = readResult;
    return readResult == ERROR_SUCCESS ? std::string(value.get()) : std::string();
}

UINT SetPropertyText(MSIHANDLE installation, LPCSTR name, const std::string& value) {
    MsiProperty property(installation, name);
    property.SetValue(value.c_str(), static_cast<DWORD>(value.size()));
    return property.Write();
}

UINT QueryTexts(MSIHANDLE database, const std::string& query, UINT columns, TextRows& rows) {
    rows.clear();
    MsiHandle view;
    UINT result = MsiDatabaseOpenViewA(database, query.c_str(), view.put());
    if (result == ERROR_SUCCESS)
        result = MsiViewExecute(view.get(), 0);
    while (result == ERROR_SUCCESS) {
        MsiHandle record;
        result = MsiViewFetch(view.get(), record.put());
        if (result != ERROR_SUCCESS)
            break;
        std::vector<std::string> row(columns);
        for (UINT i = 0; i < columns && result == ERROR_SUCCESS; ++i)
            FieldText(record.get(), i + 1, row[i], &result);
        if (result == ERROR_SUCCESS)
            rows.push_back(std::move(row));
    }
    if (view)
        MsiViewClose(view.get());
    if (result == ERROR_NO_MORE_ITEMS)
        return ERROR_SUCCESS;
    // A view on a table the package does not have: the engine refuses the
    // query itself.
    if (result == ERROR_BAD_QUERY_SYNTAX)
        rows.clear();
    return result;
}

std::string PackageDefault(MSIHANDLE database, LPCSTR name) {
    TextRows rows;
    // The names are the actions' own constants: no quote can be in them.
    QueryTexts(database,
               std::string("SELECT `Value` FROM `Property` WHERE `Property` = '") + name + "'", 1,
               rows);
    return rows.empty() ? std::string() : rows.front().front();
}

bool IsProductCode(const std::string& text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != '-' : !IsHex(text[i]))
            return false;
    }
    return true;
}

bool SameProductCode(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::vector<std::string> ReplacedProducts(MSIHANDLE installation, MSIHANDLE database,
                                          const std::string& ownCode, UINT* result) {
    std::vector<std::string> codes;
    TextRows rows;
    UINT queried = QueryTexts(database, kUpgradeQuery, 2, rows);
    if (queried == ERROR_BAD_QUERY_SYNTAX)
        queried = ERROR_SUCCESS; // no Upgrade table: nothing is replaced
    if (result)
        *result = queried;
    for (const auto& row : rows) {
        if (ParseDecimal(row[kAttributes - 1].c_str()) & kOnlyDetect)
            continue;
        const std::string& name = row[kActionProperty - 1];
        if (name.empty())
            continue;
        // ACTIONPROPERTY: "{A};{B};", as FindRelatedProducts and
        // FrobMajorUpgrade write it.
        const std::string list = PropertyText(installation, name.c_str());
        for (std::size_t start = 0; start < list.size();) {
            std::size_t end = list.find(';', start);
            if (end == std::string::npos)
                end = list.size();
            const std::string code = list.substr(start, end - start);
            start = end + 1;
            if (!IsProductCode(code) || SameProductCode(code, ownCode))
                continue;
            bool listed = false;
            for (const std::string& known : codes)
                listed = listed || SameProductCode(known, code);
            if (!listed)
                codes.push_back(code);
        }
    }
    return codes;
}

LONG OpenCacheKey(const std::string& productCode) {
    RegistryProperty cache = RegistryProperty::OfProduct(productCode.c_str());
    if (!cache.KeyPath())
        return ERROR_FILE_NOT_FOUND;
    RegKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, cache.KeyPath(), 0, KEY_QUERY_VALUE, key.put());
}

std::string InstalledVersion(const std::string& productCode) {
    char version[64] = "";
    DWORD size = sizeof version;
    UINT result = MsiGetProductInfoA(productCode.c_str(), "VersionString", version, &size);
    if (result == ERROR_MORE_DATA) {
        std::string longer(size + 1, '\0');
        size = static_cast<DWORD>(longer.size());
        result = MsiGetProductInfoA(productCode.c_str(), "VersionString", &longer[0], &size);
        if (result == ERROR_SUCCESS)
            return std::string(longer.c_str());
    }
    return result == ERROR_SUCCESS ? std::string(version) : std::string();
}

int CompareVersions(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty())
        return a.empty() == b.empty() ? 0 : a.empty() ? -1 : 1;
    const std::vector<std::uint64_t> left = VersionParts(a);
    const std::vector<std::uint64_t> right = VersionParts(b);
    for (std::size_t i = 0; i < left.size() || i < right.size(); ++i) {
        const std::uint64_t x = i < left.size() ? left[i] : 0;
        const std::uint64_t y = i < right.size() ? right[i] : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

} // namespace vantor
