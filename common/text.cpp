#include "common/text.h"

#include <climits>

namespace vantor {

DigitRun ReadDigits(const char*& p, std::uint64_t cut) {
    DigitRun run;
    for (; *p >= '0' && *p <= '9'; ++p, ++run.count) {
        if (run.value < cut)
            run.value = run.value * 10 + static_cast<unsigned>(*p - '0');
    }
    return run;
}

bool ReadSpaceAndSign(const char*& p) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    if (*p != '+' && *p != '-')
        return false;
    return *p++ == '-';
}

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::int32_t ParseDecimal(const char* text) {
    if (!text)
        return 0;
    const char* p = text;
    const bool negative = ReadSpaceAndSign(p);
    // Past 2^31 the value only needs to stay beyond the 32-bit range.
    const std::int64_t magnitude =
        static_cast<std::int64_t>(ReadDigits(p, std::uint64_t(INT32_MAX) + 2).value);
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

} // namespace vantor
