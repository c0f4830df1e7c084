// The language the user installed with, written into the appSettings section
// of an application's XML configuration file, which the applications read
// at start-up to choose their user-interface culture.
#include "setup/language/config_language.h"

#include "common/action_boundary.h"
#include "common/handles.h"
#include "common/log_line.h"
#include "common/paths.h"
#include "common/property.h"
#include "common/text.h"
#include "setup/exports.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace vantor {

// The applications ship Belgian Dutch and Nynorsk resources only, and the
// Hong Kong Chinese ones serve Taiwan too, so those languages map there.
// Declared extern in the header, so it keeps external linkage.
constexpr Culture CultureTable[] = {
    {1028, "zh-HK"}, {1029, "cs-CZ"}, {1030, "da-DK"}, {1031, "de-DE"}, {1032, "el-GR"},
    {1033, "en-US"}, {1034, "es-ES"}, {1035, "fi-FI"}, {1036, "fr-FR"}, {1038, "hu-HU"},
    {1040, "it-IT"}, {1041, "ja-JP"}, {1043, "nl-BE"}, {1044, "nn-NO"}, {1045, "pl-PL"},
    {1048, "ro-RO"}, {1049, "ru-RU"}, {1053, "sv-SE"}, {1055, "tr-TR"}, {2052, "zh-CN"},
    {2067, "nl-BE"}, {2068, "nn-NO"}, {2070, "pt-PT"},
};
constexpr std::size_t kCultureCount = sizeof CultureTable / sizeof CultureTable[0];
static_assert(kCultureCount == 23, "one row per language the applications ship");
const std::size_t CultureTableCount = kCultureCount;

namespace {

constexpr const char kSectionStart[] = "<appSettings>";
constexpr const char kSectionEnd[] = "</appSettings>";
constexpr const char kSetting[] = "Language";
// The applications' own default: no setting is written for it.
constexpr const char kDefaultCulture[] = "en-US";

constexpr DWORD kChunk = 64 * 1024;

// Lines of a text file as the runtime's text mode gives them: split at line
// feeds, a carriage return before the line feed dropped, and a last line
// without a line end still a line.
class LineReader {
  public:
    explicit LineReader(HANDLE file) : file_(file), chunk_(kChunk) {}

    // False at the end of the file, and when reading fails (failed() tells).
    bool Next(std::string* line) {
        for (;;) {
            const std::size_t feed = pending_.find('\n', scanned_);
            if (feed != std::string::npos) {
                const std::size_t end =
                    (feed > start_ && pending_[feed - 1] == '\r') ? feed - 1 : feed;
                line->assign(pending_, start_, end - start_);
                start_ = scanned_ = feed + 1;
                return true;
            }
            if (atEnd_) {
                if (start_ == pending_.size())
                    return false;
                line->assign(pending_, start_, std::string::npos);
                start_ = scanned_ = pending_.size();
                return true;
            }
            // Lines already handed out go before more is read, once per chunk.
            pending_.erase(0, start_);
            start_ = 0;
            scanned_ = pending_.size();
            DWORD got = 0;
            if (!ReadFile(file_, chunk_.data(), kChunk, &got, nullptr)) {
                failed_ = true;
                return false;
            }
            if (got == 0)
                atEnd_ = true;
            pending_.append(chunk_.data(), got);
        }
    }
    bool failed() const { return failed_; }

  private:
    HANDLE file_;
    std::vector<char> chunk_;
    std::string pending_;
    std::size_t start_ = 0;   // where the next line begins in pending_
    std::size_t scanned_ = 0; // pending_ up to here holds no line feed
    bool atEnd_ = false;
    bool failed_ = false;
};

// Lines written with carriage return and line feed; every write checked.
class LineWriter {
  public:
    explicit LineWriter(HANDLE file) : file_(file) {}

    bool Write(const std::string& line) {
        pending_ += line;
        pending_ += "\r\n";
        return pending_.size() < kChunk || Drain();
    }
    // Everything written and on the disk.
    bool Finish() { return Drain() && FlushFileBuffers(file_); }

  private:
    bool Drain() {
        std::size_t done = 0;
        while (done < pending_.size()) {
            const DWORD want =
                static_cast<DWORD>(std::min<std::size_t>(pending_.size() - done, kChunk));
            DWORD wrote = 0;
            if (!WriteFile(file_, pending_.data() + done, want, &wrote, nullptr) || wrote != want)
                return false;
            done += wrote;
        }
        pending_.clear();
        return true;
    }

    HANDLE file_;
    std::string pending_;
};

bool Contains(const std::string& line, const char* text) {
    return line.find(text) != std::string::npos;
}

// The section flag and the line rules; false when the copy could not be
// read or written completely.
bool CopyWithLanguage(HANDLE config, HANDLE copy, LPCSTR cultureName) {
    const bool addSetting = std::strcmp(cultureName, kDefaultCulture) != 0;
    const std::string setting =
        std::string("\t\t<add key=\"Language\" value=\"") + cultureName + "\"/>";
    LineReader reader(config);
    LineWriter writer(copy);
    bool inSection = false;
    std::string line;
    while (reader.Next(&line)) {
        bool keep = true;
        bool thenSetting = false;
        if (inSection) {
            // The closing line stays whatever else it says.
            if (Contains(line, kSectionEnd))
                inSection = false;
            else
                keep = !Contains(line, kSetting);
        } else if (Contains(line, kSectionStart)) {
            // Tested on later lines only: "<appSettings></appSettings>" on
            // one line leaves the section open until a later closing line.
            inSection = true;
            if (addSetting)
                thenSetting = true;
            else
                keep = !Contains(line, kSetting);
        }
        if (keep && !writer.Write(line))
            return false;
        if (thenSetting && !writer.Write(setting))
            return false;
    }
    return !reader.failed() && writer.Finish();
}

// Why the file at path may not be rewritten, or nothing. The action runs as
// LocalSystem: a link at the file's name or at its copy's, planted by
// someone who may write the folder, would have it write elsewhere, and a
// second name of the file would see its times changed. A name that cannot
// be examined is not used either. Nothing is read, written or re-timed then.
std::string LinkRefusal(const std::string& path) {
    const LinkCheck config = CheckLinks(path.c_str());
    if (config.kind == LinkCheck::kReparsePoint)
        return WithError("it is a symbolic link or junction", ERROR_ACCESS_DENIED);
    if (config.kind == LinkCheck::kHardLinked)
        return WithError("it has " + std::to_string(config.links) + " hard links",
                         ERROR_ACCESS_DENIED);
    if (config.kind == LinkCheck::kUnknown)
        return WithError("it cannot be examined", config.error);
    const std::string temporary = path + ".tmp";
    const LinkCheck copy = CheckLinks(temporary.c_str());
    if (copy.kind == LinkCheck::kReparsePoint)
        return WithError(temporary + " is a symbolic link or junction", ERROR_ACCESS_DENIED);
    if (copy.kind == LinkCheck::kUnknown)
        return WithError(temporary + " cannot be examined", copy.error);
    return std::string();
}

// Reads the file through for a NUL byte, then goes back to its start. False
// with the platform's code set when it cannot be read.
bool FindNul(HANDLE file, bool* holdsNul) {
    std::vector<char> chunk(kChunk);
    *holdsNul = false;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), kChunk, &got, nullptr))
            return false;
        if (got == 0)
            break;
        if (std::memchr(chunk.data(), '\0', got)) {
            *holdsNul = true;
            break;
        }
    }
    LARGE_INTEGER start;
    start.QuadPart = 0;
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

} // namespace

UINT CultureNameForLcid(LPCSTR lcidText, LPCSTR* cultureName) {
    const std::int32_t lcid = ParseDecimal(lcidText);
    for (const Culture& culture : CultureTable) {
        if (culture.lcid == lcid) {
            *cultureName = culture.name;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_DATA;
}

UINT RewriteAppSettings(LPCSTR path, LPCSTR cultureName, std::string* why, bool* refused) {
    if (refused)
        *refused = false;
    // The code is taken at the failing call, before any handle closes.
    const auto fail = [why](UINT result, const std::string& what, DWORD error) {
        if (why)
            *why = WithError(what, error);
        return result;
    };
    const auto refuse = [&fail, refused](UINT result, const std::string& what, DWORD error) {
        if (refused)
            *refused = true;
        return fail(result, what, error);
    };
    // Write access is asked up front although the file is only read: a file
    // that may not be changed (read-only, or refused by its folder) is turned
    // away before any copy exists. Other readers may look at the file
    // meanwhile; nobody may change it under the copy.
    // A link is opened as itself, never followed, and the file opened is the
    // one checked: a link, or a file with a second name elsewhere, is not
    // rewritten; nor is a file whose final path is not the path given (a
    // link or junction in a folder on the way).
    FileHandle config(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!config)
        return fail(ERROR_ACCESS_DENIED, "it cannot be opened", GetLastError());
    const LinkCheck opened = CheckLinks(config.get());
    if (opened.kind != LinkCheck::kPlain)
        return fail(ERROR_ACCESS_DENIED,
                    opened.kind == LinkCheck::kUnknown ? "it cannot be examined"
                                                       : "it is a link or has more than one name",
                    opened.kind == LinkCheck::kUnknown ? opened.error : ERROR_ACCESS_DENIED);
    const FinalPathCheck final = CheckFinalPath(config.get(), path);
    if (final.kind == FinalPathCheck::kDiffers)
        return refuse(ERROR_ACCESS_DENIED, FinalPathRefusal(final), ERROR_ACCESS_DENIED);
    if (final.kind != FinalPathCheck::kSame)
        return refuse(ERROR_ACCESS_DENIED, "its final path cannot be read", final.error);

    // All three times as they are, to leave a refused file exactly so, and
    // the creation time that a rewritten one keeps in all three.
    FILETIME created{0, 0}, accessed{0, 0}, written{0, 0};
    const bool timesKnown = GetFileTime(config.get(), &created, &accessed, &written) != FALSE;
    if (!timesKnown)
        created = accessed = written = FILETIME{0, 0};

    // Only text is rewritten: a NUL byte says the file is something else
    // (an application named by mistake, a file in another encoding), which
    // the line rules would destroy. Nothing is created for it.
    bool holdsNul = false;
    if (!FindNul(config.get(), &holdsNul))
        return fail(ERROR_INSTALL_FAILURE, "it cannot be read", GetLastError());
    if (holdsNul) {
        if (timesKnown)
            SetFileTime(config.get(), &created, &accessed, &written);
        return refuse(ERROR_INVALID_DATA,
                      "it holds a NUL byte, so it is no text configuration file",
                      ERROR_INVALID_DATA);
    }

    // The copy is a file of this run's own, made new, so that whatever
    // appears at its name meanwhile makes the create fail rather than be
    // written. A leftover of an earlier run goes first (a link there would
    // go itself, its target stays).
    const std::string temporary = std::string(path) + ".tmp";
    const auto createCopy = [&temporary] {
        return CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    FileHandle copy(createCopy());
    if (!copy && GetLastError() == ERROR_FILE_EXISTS && DeleteFileA(temporary.c_str()))
        copy.reset(createCopy());
    if (!copy)
        return fail(ERROR_ACCESS_DENIED, temporary + " cannot be created", GetLastError());

    // The copy goes on every way out but the replace, also when an exception
    // (memory running out mid-copy) stops the action; closed first, as an open
    // file is not deleted.
    ScopeExit discard([&copy, &temporary] {
        copy.reset();
        DeleteFileA(temporary.c_str());
    });

    const FinalPathCheck copyFinal = CheckFinalPath(copy.get(), temporary.c_str());
    if (copyFinal.kind == FinalPathCheck::kDiffers)
        return refuse(ERROR_ACCESS_DENIED,
                      "the final path of " + temporary + " is " + copyFinal.finalPath,
                      ERROR_ACCESS_DENIED);
    if (copyFinal.kind != FinalPathCheck::kSame)
        return refuse(ERROR_ACCESS_DENIED, "the final path of " + temporary + " cannot be read",
                      copyFinal.error);

    const bool complete = CopyWithLanguage(config.get(), copy.get(), cultureName);
    const DWORD copyError = complete ? ERROR_SUCCESS : GetLastError();
    // Both keep the creation time in all three times: the file as it stays
    // when the replace fails, and the copy that takes its place.
    SetAllTimes(config.get(), created);
    if (complete)
        SetAllTimes(copy.get(), created);
    config.reset();
    copy.reset();
    if (!complete)
        return fail(ERROR_INSTALL_FAILURE, "the copy " + temporary + " cannot be completed",
                    copyError);
    // One replace, so that there is never a moment without a configuration
    // file, and never a half-written one.
    if (!MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        return fail(ERROR_ACCESS_DENIED, "the copy " + temporary + " cannot replace it", error);
    }
    discard.release();
    return ERROR_SUCCESS;
}

} // namespace vantor

using namespace vantor;

namespace {

UINT WriteConfigLanguage(MSIHANDLE installation) {
    MsiProperty data(installation, "CustomActionData");
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> text = FetchValue(data, &readResult);
    if (readResult != ERROR_SUCCESS) {
        LogFailure(installation, "Language not set: CustomActionData cannot be read", readResult);
        return readResult;
    }

    // CustomActionData: "<configuration file path>|<LCID>". Fields are the
    // runs between "|"; empty ones do not count. The first is the path, the
    // last the LCID, and one field alone is both.
    const char* p = text.get();
    std::string path;
    std::string lcid;
    while (*p) {
        const std::size_t length = std::strcspn(p, "|");
        if (length) {
            if (path.empty())
                path.assign(p, length);
            lcid.assign(p, length);
        }
        p += length;
        if (*p)
            ++p;
    }
    // Nothing names a file: touch none.
    if (path.empty()) {
        LogFailure(installation,
                   std::string("Language not set: ") +
                       (*text.get() ? "CustomActionData \"" + std::string(text.get()) +
                                          "\" names no file, \"<path>|<LCID>\" expected"
                                    : std::string("CustomActionData is empty: is the type-51 "
                                                  "action that sets it missing?")),
                   ERROR_INVALID_DATA);
        return ERROR_INVALID_DATA;
    }
    // The action runs as LocalSystem with a path a repair's command line can
    // lead anywhere: only a drive-absolute path in its plainest form is taken
    // (no share or device path, no "/", no ".." part, no second ":").
    if (!IsPlainAbsolutePath(path.c_str())) {
        LogFailure(installation, "Refused to rewrite " + path + ": not a plain absolute path",
                   ERROR_ACCESS_DENIED);
        return ERROR_ACCESS_DENIED;
    }

    LogAction(installation, ("Appling language: " + lcid + " to " + path).c_str());
    LPCSTR culture = nullptr;
    if (CultureNameForLcid(lcid.c_str(), &culture) != ERROR_SUCCESS) {
        LogFailure(installation, path + " not changed: unknown LCID \"" + lcid + "\"",
                   ERROR_INVALID_DATA);
        return ERROR_INVALID_DATA;
    }
    const std::string refusal = LinkRefusal(path);
    if (!refusal.empty()) {
        LogAction(installation, ("Refused to rewrite " + path + ": " + refusal).c_str());
        return ERROR_ACCESS_DENIED;
    }

    std::string why;
    bool refused = false;
    const UINT result = RewriteAppSettings(path.c_str(), culture, &why, &refused);
    if (result != ERROR_SUCCESS)
        LogAction(installation,
                  ((refused ? "Refused to rewrite " + path + ": " : path + " not changed: ") + why)
                      .c_str());
    return result;
}

} // namespace

extern "C" UINT WINAPI SetConfigLanguage(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, WriteConfigLanguage);
}
