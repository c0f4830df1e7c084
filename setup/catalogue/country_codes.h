// The international dialling code that a patch record carries for an
// installation language (LCID).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantor {

struct CountryCode {
    std::uint16_t lcid;
    std::uint16_t code;
};
extern const CountryCode CountryCodeTable[];
extern const std::size_t CountryCodeTableCount;

// The code of a language, or 0 when it has none (a record is then not written).
std::uint16_t FindCountryCode(std::int32_t lcid);

} // namespace vantor
