#include "common/text.h"

#include <climits>

namespace vantor {

std::int32_t ParseDecimal(const char* text) {
    if (!text)
        return 0;
    const char* p = text;
    // The C locale's white space, as the runtime's own conversion skips it.
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    // Accumulate in 64 bits and stop growing once past the 32-bit range.
    std::int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= std::int64_t(INT32_MAX) + 1)
            magnitude = magnitude * 10 + (*p - '0');
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

} // namespace vantor
