#include "setup/catalogue/catalogue.h"

#include <algorithm>
#include <vector>

namespace vantor {

namespace {

// Drivers features shared by families of parallel-port devices.
constexpr const char kParallelFamilyA[] = "Drivers_ParA";
constexpr const char kParallelFamilyB[] = "Drivers_ParB";
constexpr const char kParallelFamilyC[] = "Drivers_ParC";
constexpr const char kKappaFamily[] = "Drivers_Kappa";

} // namespace

// Declared extern in the header, so it keeps external linkage.
constexpr ConverterInfo ConverterCatalogue[] = {
    // displayName, id, layout2Code, layout1Code, portKind, interfaceClass, feature
    {"VantorSerialLogger1", 1, 0, 0, kSerialPort, 0, "VantorSerialLogger1"},
    {"Vantor Serial Logger 2", 2, 0, 2, kSerialPort, 0, "Drivers_SL2"},
    {"Vantor Serial Logger 3", 3, 0, 3, kSerialPort, 0, "Drivers_SL3"},
    {"Vantor Serial Logger 8", 8, 0, 8, kSerialPort, 0, "Drivers_SL8"},
    {"Vantor Parallel Scope 10", 10, 10, 10, kParallelPort, 7, kParallelFamilyA},
    {"Vantor Parallel Logger 11", 11, 11, 11, kParallelPort, 7, kParallelFamilyB},
    {"Vantor Parallel Scope 12", 12, 12, 12, kParallelPort, 7, kParallelFamilyA},
    {"Vantor Serial Converter 16", 16, 0, 16, kSerialPort, 0, "Drivers_SC16"},
    {"Vantor Parallel Logger 22", 22, 22, 22, kParallelPort, 7, kParallelFamilyB},
    {"Vantor Parallel Scope 40", 40, 40, 40, kParallelPort, 7, kParallelFamilyA},
    {"Vantor Parallel Scope 42", 42, 42, 42, kParallelPort, 7, kParallelFamilyA},
    {"Vantor Parallel Converter 70", 70, 70, 70, kParallelPort, 7, "Drivers_PC70"},
    {"Vantor USB Logger 81", 81, 0, 81, kUsbPort, 4, "Drivers_UL81"},
    {"Vantor Demonstration Source", 99, 0, 99, kNoLocalPort, 0, ""},
    {"Vantor Parallel Scope 100", 100, 100, 100, kParallelPort, 7, kParallelFamilyC},
    {"Vantor Parallel Scope 101", 101, 101, 0, kParallelPort, 7, kParallelFamilyC},
    {"Vantor Serial Scope 104", 104, 0, 104, kSerialPort, 0, "Drivers_SS104"},
    {"Vantor USB Scope 111", 111, 111, 111, kUsbPort, 4, "Drivers_US111"},
    {"Vantor Kappa Scope 200", 200, 200, 200, kParallelPort, 14, kKappaFamily},
    {"Vantor Kappa Scope 212", 212, 212, 212, kParallelPort, 14, kKappaFamily},
    {"Vantor Kappa Scope 212 (port A)", 2121, 212, 212, kParallelPort, 14, kKappaFamily},
    {"Vantor Kappa Scope 212 (port B)", 2122, 212, 212, kParallelPort, 14, kKappaFamily},
    {"Vantor Kappa Scope 216", 216, 216, 216, kParallelPort, 14, kKappaFamily},
    {"Vantor Network Socket Connection", 255, 0, 255, kNoLocalPort, 0, ""},
    {"Vantor USB Converter 900", 900, 0, 900, kUsbPort, 4, "Drivers_UC900"},
    {"Vantor USB Scope 2000", 2000, 2000, 2000, kUsbPort, 4, "Drivers_US2000"},
    {"Vantor USB Scope 3000", 3000, 3000, 3200, kUsbPort, 4, "Drivers_US3000"},
    {"Vantor USB Scope 3001", 3001, 3000, 3000, kUsbPort, 4, "Drivers_US3001"},
    {"Vantor USB Logger 20", 20, 0, 5000, kUsbPort, 4, "Drivers_UL20"},
    {"Vantor USB Scope 5000", 5000, 0, 0, kUsbPort, 4, "Drivers_US5000"},
    {"Vantor USB Logger 4000", 4000, 0, 0, kUsbPort, 4, "Drivers_UL4000"},
    {"Vantor USB Logger 4001", 4001, 0, 0, kUsbPort, 4, "Drivers_UL4001"},
    {"Vantor USB Scope 1000", 1000, 111, 1000, kUsbPort, 4, "Drivers_US1000"},
    {"Vantor USB Converter 6000", 6000, 0, 0, kUsbPort, 4, "Drivers_UC6000"},
    {"Vantor USB Converter 1104", 1104, 0, 1104, kUsbPort, 4, "Drivers_UC1104"},
    {"Vantor USB Logger 256", 256, 0, 256, kUsbPort, 4, "Drivers_UL256"},
};

namespace {

constexpr std::size_t kCount = sizeof ConverterCatalogue / sizeof ConverterCatalogue[0];
static_assert(kCount == 36, "the catalogue has 36 rows");

constexpr bool IdsUniqueAndValid() {
    for (std::size_t i = 0; i < kCount; ++i) {
        if (ConverterCatalogue[i].id <= 0 || ConverterCatalogue[i].id > 65535)
            return false;
        for (std::size_t j = i + 1; j < kCount; ++j)
            if (ConverterCatalogue[i].id == ConverterCatalogue[j].id)
                return false;
    }
    return true;
}
static_assert(IdsUniqueAndValid(), "ids are unique, positive and fit 16 bits");

constexpr bool UsbClassMatchesUsbPort() {
    for (std::size_t i = 0; i < kCount; ++i)
        if ((ConverterCatalogue[i].portKind == kUsbPort) !=
            (ConverterCatalogue[i].interfaceClass == 4))
            return false;
    return true;
}
static_assert(UsbClassMatchesUsbPort(), "exactly the USB devices have interface class 4");

} // namespace

const std::size_t ConverterCatalogueCount = kCount;

const ConverterInfo* FindConverter(std::int32_t id) {
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i) {
        if (ConverterCatalogue[i].id == id)
            return &ConverterCatalogue[i];
    }
    return nullptr;
}

std::int32_t ConverterCode(const ConverterInfo& row, int layoutVersion) {
    switch (layoutVersion) {
    case 1:
        return row.layout1Code;
    case 2:
        return row.layout2Code;
    default:
        return row.id;
    }
}

std::string DriversFeatureCondition(const std::string& feature) {
    std::vector<std::int32_t> ids;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
        if (!feature.empty() && feature == ConverterCatalogue[i].feature)
            ids.push_back(ConverterCatalogue[i].id);
    std::sort(ids.begin(), ids.end());
    std::string condition;
    for (std::int32_t id : ids)
        condition += (condition.empty() ? "" : " OR ") + std::string("DEFAULT_CONVERTER=") +
                     std::to_string(id);
    return condition;
}

} // namespace vantor
