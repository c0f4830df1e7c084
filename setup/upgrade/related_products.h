// The product codes of earlier releases, per upgrade code of the product
// family, that a major upgrade removes.
#pragma once

#include <cstddef>

namespace vantor {

struct RelatedProducts {
    // A GUID in braces, 38 characters, matched exactly (case included).
    const char* upgradeCode;
    // 1 to 15 product codes, each a braced GUID followed by ";", nothing
    // between them: "{...};{...};".
    const char* productCodes;
};

extern const RelatedProducts RelatedProductTable[];
extern const std::size_t RelatedProductTableCount;

} // namespace vantor
