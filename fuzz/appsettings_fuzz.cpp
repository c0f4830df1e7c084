// The language action on arbitrary data strings and configuration files.
// The first byte picks the culture; the rest, up to the first byte 0xFF, is
// the configuration file, and what follows is the data string's LCID text.
// Checked on every input: the rewrite gives exactly what an independent
// reading of the line rules gives, with CRLF line ends (a file holding a NUL
// byte is refused and left as it was); the temporary copy never stays; and
// the data string never makes the action touch a file of the wrong name.
#include "platform/host/control.h"
#include "scratch.h"
#include "setup/exports.h"
#include "setup/language/config_language.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kCultures[] = {"de-DE", "en-US", "nl-BE", "zh-HK"};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t feed = text.find('\n', start);
        if (feed == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        std::size_t end = (feed > start && text[feed - 1] == '\r') ? feed - 1 : feed;
        lines.push_back(text.substr(start, end - start));
        start = feed + 1;
    }
    return lines;
}

bool Has(const std::string& line, const char* text) {
    return line.find(text) != std::string::npos;
}

std::string Expected(const std::string& config, const std::string& culture) {
    const std::string setting = "\t\t<add key=\"Language\" value=\"" + culture + "\"/>";
    std::string out;
    bool inside = false;
    for (const std::string& line : Lines(config)) {
        if (inside) {
            if (Has(line, "</appSettings>")) {
                inside = false;
                out += line + "\r\n";
            } else if (!Has(line, "Language")) {
                out += line + "\r\n";
            }
        } else if (Has(line, "<appSettings>")) {
            inside = true;
            if (culture != "en-US") {
                out += line + "\r\n" + setting + "\r\n";
            } else if (!Has(line, "Language")) {
                out += line + "\r\n";
            }
        } else {
            out += line + "\r\n";
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1)
        return 0;
    const std::string culture = kCultures[bytes[0] % 4];
    std::string rest(reinterpret_cast<const char*>(bytes + 1), size - 1);
    const std::size_t split = rest.find('\xFF');
    const std::string config = rest.substr(0, split);
    std::string lcid = split == std::string::npos ? "1031" : rest.substr(split + 1);
    lcid = lcid.c_str(); // a property is a text

    host::Reset();
    const std::string& dir = fuzz::ScratchDir();
    const std::string path = dir + "/app.config";
    host::WriteHostFile(path, config);

    // The rewrite itself, against the model. A NUL byte says the file is no
    // text: refused, and left exactly as it was.
    const bool text = config.find('\0') == std::string::npos;
    const UINT rewritten = vantor::RewriteAppSettings(host::WinPath(path).c_str(), culture.c_str());
    if (rewritten != (text ? 0u : 13u))
        std::abort();
    if (host::ReadHostFile(path) != (text ? Expected(config, culture) : config) ||
        host::FileExists(path + ".tmp"))
        std::abort();

    // The whole action with an arbitrary LCID text: it touches the named
    // file only, and only for a known LCID.
    const std::string before = host::ReadHostFile(path);
    MSIHANDLE session = host::OpenSession();
    host::SetDeferred(true);
    host::SetProperty("CustomActionData", host::WinPath(path) + "|" + lcid);
    const UINT result = SetConfigLanguage(session);
    // The LCID is the last field; with no field after the path, the path.
    std::string last = host::WinPath(path);
    for (std::size_t at = 0; at <= lcid.size();) {
        std::size_t bar = lcid.find('|', at);
        if (bar == std::string::npos)
            bar = lcid.size();
        if (bar > at)
            last = lcid.substr(at, bar - at);
        at = bar + 1;
    }
    LPCSTR name = nullptr;
    const bool known = vantor::CultureNameForLcid(last.c_str(), &name) == 0;
    if (known && text ? result != 0 : (result != 13 || host::ReadHostFile(path) != before))
        std::abort();
    if (known && text && host::ReadHostFile(path) != Expected(before, name))
        std::abort();
    if (host::FileExists(path + ".tmp") || host::OpenHandles() != 0)
        std::abort();
    return 0;
}
