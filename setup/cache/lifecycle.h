// What the actions of the product's lifecycle share: installation properties
// as texts, queries on the package's own tables, "given" against the
// package's defaults, the products an installation replaces, and their
// caches and versions.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

namespace vantor {

// A property of the installation; "" when it is not set. A read that fails
// answers "" too, with its code in *result when asked for.
std::string PropertyText(MSIHANDLE installation, LPCSTR name, UINT* result = nullptr);
// Sets a property; "" removes it, as the engine does. The engine's code.
UINT SetPropertyText(MSIHANDLE installation, LPCSTR name, const std::string& value);

// The rows of a query on the active database, each as the texts of its
// first `columns` fields (an integer field as its decimal text). Answers 0
// after the last row, 1615 when a table of the query is not in the package,
// or the engine's code of the call that stopped the scan.
using TextRows = std::vector<std::vector<std::string>>;
UINT QueryTexts(MSIHANDLE database, const std::string& query, UINT columns, TextRows& rows);

// The package's own value of a property, from its Property table; "" when
// the table has no row for it.
std::string PackageDefault(MSIHANDLE database, LPCSTR name);

// A value counts as given (on the command line, in a dialog) when it is not
// empty and not the package's own default.
inline bool Given(const std::string& value, const std::string& packageDefault) {
    return !value.empty() && value != packageDefault;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with hexadecimal digits: the only
// form that may name a key of the registry cache.
bool IsProductCode(const std::string& text);
bool SameProductCode(const std::string& a, const std::string& b);

// The products that this installation replaces: the codes in the values of
// the action properties of the package's Upgrade rows that are not
// detection-only, split at ";", in order, each once, never the running
// product (ownCode) and never a text that is no product code. *result: the
// query's code (1615 without an Upgrade table counts as no row).
std::vector<std::string> ReplacedProducts(MSIHANDLE installation, MSIHANDLE database,
                                          const std::string& ownCode, UINT* result = nullptr);

// RegOpenKeyExA's code for the product's key in the registry cache: 0 when
// it is there, 2 when not.
LONG OpenCacheKey(const std::string& productCode);

// The engine's "VersionString" of an installed product; "" when the engine
// does not know it.
std::string InstalledVersion(const std::string& productCode);
// Versions "a.b.c" compared number by number (a missing number is 0); an
// unknown ("") version is lower than every known one. <0, 0 or >0.
int CompareVersions(const std::string& a, const std::string& b);

// Names joined with ", ", for the log.
std::string JoinNames(const std::vector<std::string>& names);

} // namespace vantor
