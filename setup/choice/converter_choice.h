// The converter combo box: the converters the package offers that this
// Windows can serve, and the choice of a single offered converter.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantor {

// The ids of CONVERTER_LIST, in their order; never more than the catalogue
// has rows.
struct ConverterList {
    static constexpr std::size_t kCapacity = 36;
    std::int32_t ids[kCapacity] = {};
    std::size_t count = 0;
};

// Fills the list from CONVERTER_LIST and writes its count into
// CONVERTER_LIST_COUNT.
void ReadConverterList(MSIHANDLE installation, ConverterList& list);

// An engine version property (VersionNT, Version9X) as a number; 0 when the
// property is empty, as the one that does not apply to this Windows is.
std::int32_t ReadPlatformVersion(MSIHANDLE installation, LPCSTR name);

// Makes id the chosen converter and asks for its drivers feature; true when
// that feature is or will be installed locally.
bool SelectOnlyConverter(MSIHANDLE installation, std::int32_t id);

// The rows of both combo boxes go in as temporary rows, through a view on
// the ComboBox table that is opened and never executed. The engine's code
// of the open: 1615 when the package has no ComboBox table.
UINT OpenComboBoxView(MSIHANDLE database, MSIHANDLE* view);
// One row of the combo box of property; the engine's code of the insert.
UINT AddComboBoxRow(MSIHANDLE view, LPCSTR property, int order, LPCSTR value, LPCSTR text);
// Why rows of a combo box cannot be added when the view does not open
// (answer opened), with the code, for the log.
std::string ComboBoxRefusal(UINT opened);

} // namespace vantor
