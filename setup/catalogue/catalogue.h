// Every converter the library knows: measurement devices, device attachments
// and data sources, by their ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantor {

enum PortKind : std::int32_t {
    kSerialPort = 0,
    kParallelPort = 1,
    kUsbPort = 2,
    kNoLocalPort = 3,
};

// Devices of this interface class need the platform's USB support.
constexpr std::int32_t kUsbInterfaceClass = 4;

struct ConverterInfo {
    const char* displayName;  // text of the converter combo box row
    std::int32_t id;          // unique, never 0, below 65536
    std::int32_t layout2Code; // device code in records of layout 2; 0: none
    std::int32_t layout1Code; // device code in records of layout 1; 0: none
    std::int32_t portKind;    // PortKind
    std::int32_t interfaceClass;
    const char* feature; // installer feature holding the drivers; "" for none
};

extern const ConverterInfo ConverterCatalogue[];
extern const std::size_t ConverterCatalogueCount;

// The row of an id, or null (0, negative and unknown ids).
const ConverterInfo* FindConverter(std::int32_t id);

// The device code that a patch record of the layout version carries: 1 and 2
// their own codes, any other version the id itself.
std::int32_t ConverterCode(const ConverterInfo& row, int layoutVersion);

// The condition under which the engine itself installs a drivers feature: the
// chosen converter is one of those whose drivers it holds, ascending
// ("DEFAULT_CONVERTER=10 OR DEFAULT_CONVERTER=12 OR ..."); "" for a feature
// that no row names.
std::string DriversFeatureCondition(const std::string& feature);

} // namespace vantor
