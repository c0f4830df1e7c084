#include "setup/catalogue/country_codes.h"

namespace vantor {

// The record holds the international dialling code of the installation
// language's country. English (United States) carries the United Kingdom's
// 44 and Czech the old 42: the applications expect exactly these.
// Declared extern in the header, so it keeps external linkage.
constexpr CountryCode CountryCodeTable[] = {
    {1029, 42},  // Czech
    {1031, 49},  // German, Germany
    {1033, 44},  // English, United States
    {1034, 34},  // Spanish, Spain
    {1036, 33},  // French, France
    {1040, 39},  // Italian, Italy
    {1041, 81},  // Japanese
    {1053, 46},  // Swedish, Sweden
    {2067, 32},  // Dutch, Belgium
    {2070, 351}, // Portuguese, Portugal
};
const std::size_t CountryCodeTableCount = sizeof CountryCodeTable / sizeof CountryCodeTable[0];

std::uint16_t FindCountryCode(std::int32_t lcid) {
    for (const CountryCode& row : CountryCodeTable)
        if (row.lcid == lcid)
            return row.code;
    return 0;
}

} // namespace vantor
