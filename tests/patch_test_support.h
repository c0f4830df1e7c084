// Application images for the patch tests: pseudo-random bytes (never a
// marker by chance) with PatchInfo records placed where a case wants them.
#pragma once

#include "setup/patch/patch_file.h"

#include <cstring>
#include <string>
#include <vector>

namespace patchtest {

// A record as an application ships it: marker and recognisable old values.
inline vantor::PatchInfo ShippedRecord() {
    vantor::PatchInfo record = vantor::EmptyPatchInfo();
    record.converterCode = 0xEEEE;
    record.port = 0xEEEE;
    record.countryCode = 0xEEEE;
    std::memcpy(record.serialNumber, "OLDOLDOL", 8);
    record.version = 0xEEEE;
    return record;
}

inline std::string Bytes(const vantor::PatchInfo& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

inline std::string AppImage(std::size_t size, const std::vector<std::size_t>& recordsAt) {
    std::string data(size, '\0');
    std::uint32_t state = 0x2545F491u + std::uint32_t(size);
    for (char& c : data) {
        state = state * 1664525u + 1013904223u;
        c = char(state >> 24);
    }
    for (std::size_t at : recordsAt)
        data.replace(
            at, sizeof(vantor::PatchInfo),
            Bytes(ShippedRecord()).substr(0, std::min(sizeof(vantor::PatchInfo), size - at)));
    return data;
}

inline vantor::PatchInfo RecordAt(const std::string& data, std::size_t at) {
    vantor::PatchInfo record;
    std::memcpy(&record, data.data() + at, sizeof record);
    return record;
}

} // namespace patchtest
