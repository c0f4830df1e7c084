// Reading numbers out of property text.
#pragma once

#include <cstdint>

namespace vantor {

// A decimal prefix: leading white space, an optional sign, then digits up to
// the first other character. Text without digits gives 0; a value beyond the
// 32-bit range gives the nearest 32-bit limit. A null text gives 0.
std::int32_t ParseDecimal(const char* text);

} // namespace vantor
