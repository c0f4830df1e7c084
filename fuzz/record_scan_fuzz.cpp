// The record scan and rewrite on arbitrary files. The input is a file, with
// two numbers in front of it that pad it with zeros (so that files reach past
// the read pieces and window edges cheaply) and plant a marker somewhere.
// Checked on every input: the file never grows; when a whole record lies in
// the file, only its 34 bytes change, to exactly the new record, at the first
// such place; otherwise nothing changes.
#include "platform/host/control.h"
#include "setup/patch/patch_file.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::uint32_t Number(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::string Build(const std::uint8_t* bytes, std::size_t size) {
    if (size < 8)
        return std::string(reinterpret_cast<const char*>(bytes), size);
    std::string file(Number(bytes + 4) % 300000, '\0');
    file.append(reinterpret_cast<const char*>(bytes + 8), size - 8);
    const std::size_t plant = Number(bytes) % (file.size() + 13);
    if (!file.empty() && (Number(bytes) & 0x80000000u)) {
        // A marker, possibly cut short by the end of the file.
        for (std::size_t i = 0; i < 12 && plant + i < file.size(); ++i)
            file[plant + i] = vantor::kPatchMarker[i];
    }
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string before = Build(bytes, size);
    host::Reset();
    host::KeepCallLog(false);
    const std::string path = host::MakeTempDir() + "/app.exe";
    host::WriteHostFile(path, before);

    vantor::PatchInfo record = vantor::EmptyPatchInfo();
    record.converterCode = 0xA1B2;
    record.port = 0xC3D4;
    record.countryCode = 0xE5F6;
    std::memcpy(record.serialNumber, "FUZZ1234", 8);
    record.version = 0x0708;

    const bool written = vantor::WritePatchRecord(host::WinPath(path).c_str(), record);
    const std::string after = host::ReadHostFile(path);

    // The first position whose whole record lies in the file.
    std::size_t first = std::string::npos;
    for (std::size_t i = 0; i + sizeof record <= before.size(); ++i) {
        if (std::memcmp(before.data() + i, vantor::kPatchMarker, 12) == 0) {
            first = i;
            break;
        }
    }
    std::string expected = before;
    if (first != std::string::npos)
        std::memcpy(&expected[first], &record, sizeof record);
    if (after.size() != before.size() || after != expected ||
        written != (first != std::string::npos))
        std::abort();
    if (host::OpenHandles() != 0)
        std::abort();
    return 0;
}
