// The converter combo box on arbitrary converter lists and version texts.
// Input: two bytes choosing VersionNT and Version9X texts, then the list.
// Checked against an independent reading: the count, the rows with their
// order and texts, the single-converter choice and its feature request.
#include "platform/host/control.h"
#include "setup/catalogue/catalogue.h"
#include "setup/exports.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kVersions[] = {"", "400", "500", "501", "410", " 499abc", "-5", "99999999999"};
constexpr const char* kDefault = "untouched";

long Number(const std::string& text) {
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2)
        return 0;
    const std::string nt = kVersions[bytes[0] % 8];
    const std::string w9x = kVersions[bytes[1] % 8];
    std::string list(reinterpret_cast<const char*>(bytes + 2), size - 2);
    list = list.c_str();

    host::Reset();
    MSIHANDLE session = host::OpenSession();
    host::AddTable("ComboBox", {"Property", "Order", "Value", "Text"}, 2);
    for (std::size_t i = 0; i < vantor::ConverterCatalogueCount; ++i) {
        const char* feature = vantor::ConverterCatalogue[i].feature;
        if (*feature)
            host::AddFeature(feature, i % 3 == 0 ? INSTALLSTATE_LOCAL : INSTALLSTATE_ABSENT);
    }
    host::SetProperty("CONVERTER_LIST", list);
    host::SetProperty("VersionNT", nt);
    host::SetProperty("Version9X", w9x);
    host::SetProperty("DEFAULT_CONVERTER", kDefault);
    if (AppendComboBox(session) != 0)
        std::abort();

    // The independent reading.
    std::vector<long> ids;
    std::string piece;
    for (char c : list + ",") {
        if (c != ',') {
            piece += c;
        } else if (!piece.empty()) {
            if (ids.size() < 36)
                ids.push_back(Number(piece));
            piece.clear();
        }
    }
    const long ntVersion = Number(nt), w9xVersion = Number(w9x);
    std::vector<host::Row> rows;
    long lastAdded = 0;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const vantor::ConverterInfo* row = vantor::FindConverter(std::int32_t(ids[i]));
        if (!row)
            continue;
        if (row->interfaceClass == 4 &&
            ((ntVersion != 0 && ntVersion < 500) || (w9xVersion != 0 && w9xVersion < 410)))
            continue;
        rows.push_back({host::Field::Text("DEFAULT_CONVERTER"), host::Field::Int(int(i)),
                        host::Field::Text(std::to_string(row->id)),
                        host::Field::Text(row->displayName)});
        lastAdded = row->id;
    }

    std::vector<host::Row> got;
    for (const host::TableRow& row : host::TableRows("ComboBox")) {
        if (!row.temporary)
            std::abort();
        got.push_back(row.fields);
    }
    if (got != rows)
        std::abort();
    if (host::GetProperty("CONVERTER_LIST_COUNT").value_or("") != std::to_string(ids.size()))
        std::abort();
    const std::string chosen = host::GetProperty("DEFAULT_CONVERTER").value_or("");
    if (ids.size() == 1) {
        if (chosen != std::to_string(lastAdded) || host::InstallLevel() != 0)
            std::abort();
        const vantor::ConverterInfo* row = vantor::FindConverter(std::int32_t(lastAdded));
        if (row && *row->feature) {
            auto request = host::FeatureRequest(row->feature);
            INSTALLSTATE installed = INSTALLSTATE_ABSENT, action = INSTALLSTATE_UNKNOWN;
            MsiGetFeatureStateA(session, row->feature, &installed, &action);
            if (installed != INSTALLSTATE_LOCAL && request != INSTALLSTATE_LOCAL)
                std::abort();
            if (installed == INSTALLSTATE_LOCAL && request.has_value())
                std::abort();
        }
    } else if (chosen != kDefault || host::InstallLevel().has_value()) {
        std::abort();
    }
    if (host::OpenHandles() != 0)
        std::abort();
    return 0;
}
