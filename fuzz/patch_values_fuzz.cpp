// A patch action on arbitrary product versions and device choices. Input:
// the ProductVersion text, then after a byte 0xFF the DEFAULT_CONVERTER
// text, then after another the DEFAULT_COM_PORT text. Checked on every input:
// the action answers 0; the file keeps its size and every byte outside its
// first record; the record is either untouched or a whole new record with
// the marker; and for plain versions the version field is exactly the
// number that major * 1000 + minor * 10 + build gives.
#include "platform/host/control.h"
#include "scratch.h"
#include "setup/exports.h"
#include "setup/patch/patch_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

namespace {

std::string Field(std::string& rest) {
    std::size_t bar = rest.find('\xFF');
    std::string field = rest.substr(0, bar);
    rest = bar == std::string::npos ? "" : rest.substr(bar + 1);
    // Values of the data string hold no "|" and, being texts, no NUL.
    field = field.c_str();
    field.erase(std::remove(field.begin(), field.end(), '|'), field.end());
    return field;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string rest(reinterpret_cast<const char*>(bytes), size);
    const std::string version = Field(rest);
    const std::string converter = rest.empty() ? "3001" : Field(rest);
    const std::string port = rest.empty() ? "3" : Field(rest);

    host::Reset();
    host::KeepCallLog(false);
    const std::string& dir = fuzz::ScratchDir();
    const std::string exe = dir + "/rondo32.exe";
    std::string before = std::string(100, 'a') + std::string(vantor::kPatchMarker, 12) +
                         std::string(22, '\x55') + std::string(50, 'z');
    host::WriteHostFile(exe, before);

    MSIHANDLE session = host::OpenSession();
    host::SetDeferred(true);
    host::SetProperty("ProductCode", "{11111111-2222-3333-4444-555555555555}");
    host::SetProperty("CustomActionData", "X" + host::WinPath(dir) + "\\|X" + converter + "|X" +
                                              version + "|X1|X" + port + "|X1031|XAB123|X");
    if (RondoApplyPatchInfo(session) != 0)
        std::abort();
    const std::string after = host::ReadHostFile(exe);
    if (after.size() != before.size() || after.compare(0, 100, before, 0, 100) != 0 ||
        after.compare(134, std::string::npos, before, 134, std::string::npos) != 0 ||
        after.compare(100, 12, before, 100, 12) != 0)
        std::abort();
    // Made once: building a regex per input would cost more than the action.
    static const std::regex kSmallVersion("[1-9][0-9]{0,3}\\.[0-9]\\.[0-9]");
    if (after != before) {
        vantor::PatchInfo record;
        std::memcpy(&record, after.data() + 100, sizeof record);
        if (record.reserved1 || record.reserved2 || record.reserved3 || record.countryCode != 49)
            std::abort();
        static const std::regex plain("([0-9]{1,9})\\.([0-9]{1,9})\\.([0-9]{1,9})");
        std::smatch m;
        if (std::regex_match(version, m, plain)) {
            const long long number =
                std::stoll(m[1]) * 1000 + std::stoll(m[2]) * 10 + std::stoll(m[3]);
            if (record.version != std::uint16_t(number) || record.version == 0)
                std::abort();
        }
        if (version == "alpha" && record.version != 0)
            std::abort();
    } else if (std::regex_match(version, kSmallVersion) && converter == "3001") {
        std::abort(); // a plain version and a known device must be written
    }
    if (host::OpenHandles() != 0 || !host::ForbiddenPropertyAccesses().empty())
        std::abort();
    return 0;
}
