// The record scan and rewrite on arbitrary files. The input is a file, with
// two numbers in front of it that pad it with zeros (so that files reach past
// the read pieces and window edges cheaply) and plant a marker somewhere.
// Checked on every input: the file never grows; when a whole record lies in
// the file, only its 34 bytes change, to exactly the new record, at the first
// such place; otherwise nothing changes.
#include "platform/host/control.h"
#include "scratch.h"
#include "setup/patch/patch_file.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::uint32_t Number(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// The file, in a buffer kept across inputs: files of some 100 KiB, allocated
// afresh for each input, cost the sanitizer's allocator more than the scan.
const std::string& Build(const std::uint8_t* bytes, std::size_t size) {
    static std::string file;
    if (size < 8) {
        file.assign(reinterpret_cast<const char*>(bytes), size);
        return file;
    }
    file.assign(Number(bytes + 4) % 300000, '\0');
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
    const std::string& before = Build(bytes, size);
    host::Reset();
    host::KeepCallLog(false);
    const std::string path = fuzz::ScratchDir() + "/app.exe";
    fuzz::Rewrite(path, before);

    vantor::PatchInfo record = vantor::EmptyPatchInfo();
    record.converterCode = 0xA1B2;
    record.port = 0xC3D4;
    record.countryCode = 0xE5F6;
    std::memcpy(record.serialNumber, "FUZZ1234", 8);
    record.version = 0x0708;

    const bool written = vantor::WritePatchRecord(host::WinPath(path).c_str(), record);
    const std::string& after = fuzz::ReadBack(path);

    // The first position whose whole record lies in the file. Candidates by
    // memchr, then byte by byte: the fuzzer traces every memcmp call and
    // every comparison in this file, which at each position of a file of some
    // 100 KiB would cost more than all the rest of the input.
    std::size_t first = std::string::npos;
    const char* const data = before.data();
    const std::size_t last = before.size() >= sizeof record ? before.size() - sizeof record : 0;
    for (const char* p = data; before.size() >= sizeof record && first == std::string::npos;) {
        p = static_cast<const char*>(std::memchr(p, 'p', std::size_t(data + last + 1 - p)));
        if (!p)
            break;
        std::size_t same = 1;
        while (same < 12 && p[same] == vantor::kPatchMarker[same])
            ++same;
        if (same == 12)
            first = std::size_t(p - data);
        ++p;
    }
    // Unchanged but for the record's 34 bytes at the first place, if any.
    const std::size_t at = first != std::string::npos ? first : before.size();
    const std::size_t end = first != std::string::npos ? first + sizeof record : before.size();
    if (after.size() != before.size() || after.compare(0, at, before, 0, at) != 0 ||
        after.compare(at, end - at, reinterpret_cast<const char*>(&record), end - at) != 0 ||
        after.compare(end, std::string::npos, before, end, std::string::npos) != 0 ||
        written != (first != std::string::npos))
        std::abort();
    if (host::OpenHandles() != 0)
        std::abort();
    return 0;
}
