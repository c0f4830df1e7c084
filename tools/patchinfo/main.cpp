// patchinfo: shows and rewrites the PatchInfo records inside application
// executables, for support engineers. Rewriting goes through the very code
// the installer's patch actions use, so a stamped file is what an
// installation would have produced.
#include "common/handles.h"
#include "setup/patch/patch_file.h"

#ifndef _WIN32
#include "platform/host/control.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace vantor;

namespace {

enum Exit { kFound = 0, kNoRecord = 1, kBadUsage = 2 };

const char kUsage[] =
    "usage: patchinfo show FILE...\n"
    "       patchinfo stamp FILE --converter N --port N --country N --serial TEXT --version N\n"
    "       patchinfo --help\n"
    "\n"
    "show   lists every PatchInfo record in each FILE: its offset and decoded fields.\n"
    "stamp  rewrites the first record in FILE, keeping the file's times, exactly as\n"
    "       the installer's patch actions do. N is 0 to 65535; TEXT is at most 8\n"
    "       characters.\n"
    "\n"
    "exit status: 0 record found or written, 1 a file holds no record,\n"
    "             2 bad usage or a file that cannot be read or written.\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "patchinfo: %s\n\n%s", problem, kUsage);
    return kBadUsage;
}

// The serial number as text: up to its terminator or all 8 bytes, bytes that
// are not printable shown as \xNN.
std::string SerialText(const PatchInfo& record) {
    std::string text;
    for (char c : record.serialNumber) {
        if (c == '\0')
            break;
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X",
                          unsigned(static_cast<unsigned char>(c)));
            text += escaped;
        }
    }
    return text;
}

FileHandle OpenForReading(const char* path) {
    return FileHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

int Show(const char* path) {
    FileHandle file = OpenForReading(path);
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size)) {
        std::fprintf(stderr, "patchinfo: %s: cannot be read (error %lu)\n", path,
                     static_cast<unsigned long>(GetLastError()));
        return kBadUsage;
    }
    int records = 0;
    LONGLONG at = 0;
    PatchInfo record;
    for (LONGLONG from = 0; FindPatchRecord(file.get(), size.QuadPart, from, &at, &record);
         from = at + 1) {
        if (records++ == 0)
            std::printf("%s:\n", path);
        std::printf("  offset %lld: converter %u, port %u, country %u, serial \"%s\", version %u\n",
                    static_cast<long long>(at), record.converterCode, record.port,
                    record.countryCode, SerialText(record).c_str(), record.version);
    }
    if (records == 0) {
        std::printf("%s: no record\n", path);
        return kNoRecord;
    }
    return kFound;
}

bool ParseNumber(const char* text, std::uint16_t* value) {
    if (!text || *text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(text, &end, 10);
    if (errno || *end || number > 65535)
        return false;
    *value = static_cast<std::uint16_t>(number);
    return true;
}

int Stamp(int argc, char** argv) {
    if (argc < 3)
        return Usage("stamp needs a file");
    const char* path = argv[2];
    PatchInfo record = EmptyPatchInfo();
    struct Field {
        const char* option;
        std::uint16_t* value;
        bool seen;
    } fields[] = {
        {"--converter", &record.converterCode, false},
        {"--port", &record.port, false},
        {"--country", &record.countryCode, false},
        {"--version", &record.version, false},
    };
    bool serialSeen = false;
    for (int i = 3; i < argc; i += 2) {
        const char* option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value)
            return Usage((std::string(option) + " needs a value").c_str());
        if (std::strcmp(option, "--serial") == 0) {
            const std::size_t length = std::strlen(value);
            if (length > sizeof record.serialNumber)
                return Usage("--serial takes at most 8 characters");
            // As the patch actions store it: a terminator when there is room.
            std::memcpy(record.serialNumber, value,
                        length < sizeof record.serialNumber ? length + 1 : length);
            serialSeen = true;
            continue;
        }
        Field* field = nullptr;
        for (Field& f : fields)
            if (std::strcmp(option, f.option) == 0)
                field = &f;
        if (!field)
            return Usage((std::string("unknown option ") + option).c_str());
        if (!ParseNumber(value, field->value))
            return Usage((std::string(option) + " takes a number from 0 to 65535").c_str());
        field->seen = true;
    }
    for (const Field& f : fields)
        if (!f.seen)
            return Usage((std::string("stamp needs ") + f.option).c_str());
    if (!serialSeen)
        return Usage("stamp needs --serial");

    LONGLONG at = 0;
    {
        FileHandle file = OpenForReading(path);
        LARGE_INTEGER size;
        if (!file || !GetFileSizeEx(file.get(), &size)) {
            std::fprintf(stderr, "patchinfo: %s: cannot be read (error %lu)\n", path,
                         static_cast<unsigned long>(GetLastError()));
            return kBadUsage;
        }
        if (!FindPatchRecord(file.get(), size.QuadPart, 0, &at)) {
            std::printf("%s: no record, nothing written\n", path);
            return kNoRecord;
        }
    }
    if (!WritePatchRecord(path, record)) {
        std::fprintf(stderr, "patchinfo: %s: the record could not be written (error %lu)\n", path,
                     static_cast<unsigned long>(GetLastError()));
        return kBadUsage;
    }
    std::printf("%s: record at offset %lld written: converter %u, port %u, country %u, serial "
                "\"%s\", version %u\n",
                path, static_cast<long long>(at), record.converterCode, record.port,
                record.countryCode, SerialText(record).c_str(), record.version);
    return kFound;
}

} // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    // On Linux the file calls go through the platform stand-in; its call log
    // would grow with every window of a big file.
    host::KeepCallLog(false);
#endif
    if (argc < 2)
        return Usage("no command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return kFound;
    }
    if (command == "show") {
        if (argc < 3)
            return Usage("show needs at least one file");
        int result = kFound;
        for (int i = 2; i < argc; ++i) {
            const int one = Show(argv[i]);
            if (one > result)
                result = one;
        }
        return result;
    }
    if (command == "stamp")
        return Stamp(argc, argv);
    return Usage(("unknown command " + command).c_str());
}
