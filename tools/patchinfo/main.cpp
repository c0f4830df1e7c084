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
#include <vector>

#ifdef _WIN32
// The MinGW runtime expands wildcards in the command line (patchinfo show
// C:\dir\*.exe) before main when this is non-zero; cmd.exe leaves that to
// the program.
extern "C" {
int _dowildcard = -1;
}
#endif

using namespace vantor;

namespace {

enum Exit { kFound = 0, kNoRecord = 1, kBadUsage = 2 };

const char kShowUsage[] =
    "usage: patchinfo show FILE...\n"
    "\n"
    "Lists every PatchInfo record in each FILE: its offset and decoded fields.\n";

const char kStampUsage[] =
    "usage: patchinfo stamp FILE... --converter N --port N --country N --serial TEXT --version N\n"
    "\n"
    "Rewrites the first record in each FILE, keeping the file's times, exactly as\n"
    "the installer's patch actions do. N is 0 to 65535; TEXT is at most 8\n"
    "characters. Options and files may come in any order; after -- every\n"
    "argument is a file.\n";

const char kToolUsage[] =
    "usage: patchinfo show FILE...\n"
    "       patchinfo stamp FILE... --converter N --port N --country N --serial TEXT --version N\n"
    "       patchinfo [COMMAND] --help\n"
    "\n"
    "show   lists every PatchInfo record in each FILE: its offset and decoded fields.\n"
    "stamp  rewrites the first record in each FILE, keeping the file's times, exactly\n"
    "       as the installer's patch actions do. N is 0 to 65535; TEXT is at most 8\n"
    "       characters.\n"
    "\n"
    "exit status: 0 record found or written in every file, 1 a file holds no record,\n"
    "             2 bad usage or a file that cannot be read or written.\n";

int Usage(const char* problem, const char* usage = kToolUsage) {
    std::fprintf(stderr, "patchinfo: %s\n\n%s", problem, usage);
    return kBadUsage;
}

bool IsHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

// The text of the Windows codes that the file calls here can answer, the same
// on both builds (a table of our own, not the system's message tables, so that
// the Linux build says what Windows says).
struct ErrorText {
    unsigned long code;
    const char* text;
};
constexpr ErrorText kErrorTexts[] = {
    {2, "The system cannot find the file specified"},
    {3, "The system cannot find the path specified"},
    {5, "Access is denied"},
    {6, "The handle is invalid"},
    {8, "Not enough memory resources are available to process this command"},
    {13, "The data is invalid"},
    {14, "Not enough memory resources are available to complete this operation"},
    {29, "The system cannot write to the specified device"},
    {30, "The system cannot read from the specified device"},
    {32, "The process cannot access the file because it is being used by another process"},
    {33, "The process cannot access the file because another process has locked a portion of "
         "the file"},
    {38, "Reached the end of the file"},
    {80, "The file exists"},
    {87, "The parameter is incorrect"},
    {112, "There is not enough space on the disk"},
    {123, "The filename, directory name, or volume label syntax is incorrect"},
};

// "2 (The system cannot find the file specified)"
std::string CodeWithText(unsigned long code) {
    std::string text;
    for (const ErrorText& row : kErrorTexts)
        if (row.code == code)
            text = row.text;
#ifdef _WIN32
    if (text.empty()) {
        char buffer[512];
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, sizeof buffer, nullptr);
        text.assign(buffer, length);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '.' ||
                                 text.back() == ' '))
            text.pop_back();
    }
#endif
    if (text.empty())
        text = "unknown error";
    return std::to_string(code) + " (" + text + ")";
}

int CannotOpen(const char* path) {
    const unsigned long code = GetLastError();
    std::fprintf(stderr, "patchinfo: cannot open %s: %s\n", path, CodeWithText(code).c_str());
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

// A folder cannot be opened as a file: Windows answers 5 for it, and so does
// the Linux build's file layer.
FileHandle OpenForReading(const char* path) {
    return FileHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

int Show(const char* path) {
    FileHandle file = OpenForReading(path);
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size))
        return CannotOpen(path);
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

int StampOne(const char* path, const PatchInfo& record) {
    LONGLONG at = 0;
    {
        FileHandle file = OpenForReading(path);
        LARGE_INTEGER size;
        if (!file || !GetFileSizeEx(file.get(), &size))
            return CannotOpen(path);
        if (!FindPatchRecord(file.get(), size.QuadPart, 0, &at)) {
            std::printf("%s: no record, nothing written\n", path);
            return kNoRecord;
        }
    }
    if (!WritePatchRecord(path, record)) {
        const unsigned long code = GetLastError();
        std::fprintf(stderr, "patchinfo: cannot write the record into %s: %s\n", path,
                     CodeWithText(code).c_str());
        return kBadUsage;
    }
    std::printf("%s: record at offset %lld written: converter %u, port %u, country %u, serial "
                "\"%s\", version %u\n",
                path, static_cast<long long>(at), record.converterCode, record.port,
                record.countryCode, SerialText(record).c_str(), record.version);
    return kFound;
}

// The files of a command line: every argument that is not an option, and
// every argument after "--".
int Show(int argc, char** argv) {
    std::vector<const char*> files;
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsEnd && IsHelp(arg)) {
            std::fputs(kShowUsage, stdout);
            return kFound;
        }
        if (!optionsEnd && std::strcmp(arg, "--") == 0) {
            optionsEnd = true;
        } else if (!optionsEnd && arg[0] == '-' && arg[1] != '\0') {
            return Usage((std::string("unknown option ") + arg).c_str(), kShowUsage);
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty())
        return Usage("show needs at least one file", kShowUsage);
    int result = kFound;
    for (const char* path : files) {
        const int one = Show(path);
        if (one > result)
            result = one;
    }
    return result;
}

int Stamp(int argc, char** argv) {
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
    bool optionsEnd = false;
    std::vector<const char*> files;
    for (int i = 2; i < argc; ++i) {
        const char* option = argv[i];
        if (optionsEnd || option[0] != '-' || option[1] == '\0') {
            files.push_back(option);
            continue;
        }
        if (IsHelp(option)) {
            std::fputs(kStampUsage, stdout);
            return kFound;
        }
        if (std::strcmp(option, "--") == 0) {
            optionsEnd = true;
            continue;
        }
        const char* value = i + 1 < argc ? argv[++i] : nullptr;
        if (std::strcmp(option, "--serial") == 0) {
            if (!value)
                return Usage("--serial needs a value", kStampUsage);
            const std::size_t length = std::strlen(value);
            if (length > sizeof record.serialNumber)
                return Usage("--serial takes at most 8 characters", kStampUsage);
            // As the patch actions store it: a terminator when there is room.
            std::memset(record.serialNumber, 0, sizeof record.serialNumber);
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
            return Usage((std::string("unknown option ") + option).c_str(), kStampUsage);
        if (!value)
            return Usage((std::string(option) + " needs a value").c_str(), kStampUsage);
        if (!ParseNumber(value, field->value))
            return Usage((std::string(option) + " takes a number from 0 to 65535").c_str(),
                         kStampUsage);
        field->seen = true;
    }
    if (files.empty())
        return Usage("stamp needs at least one file", kStampUsage);
    for (const Field& f : fields)
        if (!f.seen)
            return Usage((std::string("stamp needs ") + f.option).c_str(), kStampUsage);
    if (!serialSeen)
        return Usage("stamp needs --serial", kStampUsage);

    int result = kFound;
    for (const char* path : files) {
        const int one = StampOne(path, record);
        if (one > result)
            result = one;
    }
    return result;
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
    if (IsHelp(argv[1])) {
        std::fputs(kToolUsage, stdout);
        return kFound;
    }
    if (command == "help") {
        const std::string topic = argc > 2 ? argv[2] : "";
        std::fputs(topic == "show"    ? kShowUsage
                   : topic == "stamp" ? kStampUsage
                                      : kToolUsage,
                   stdout);
        return kFound;
    }
    if (command == "show")
        return Show(argc, argv);
    if (command == "stamp")
        return Stamp(argc, argv);
    return Usage(("unknown command " + command).c_str());
}
