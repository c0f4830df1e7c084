// Where the actions that write files as LocalSystem may write, on real files
// under the real engine. Links here are Linux symbolic links in the prefix's
// drive: Wine follows them and shows them as plain files and folders, but
// names an open file by its final path, every such link resolved, so each
// writing action sees one in any folder of its path and refuses it.
#include "engine_session.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace engine;

namespace {

// The Unix name of a Windows path, from Wine's own kernel32; empty where
// that is not there (not Wine).
std::string UnixPath(const std::string& windowsPath) {
    using Convert = char*(CDECL*)(const WCHAR*);
    // Through the generic function pointer type, which any other converts to.
    const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert)
        return std::string();
    std::wstring wide(windowsPath.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, &wide[0], int(wide.size()));
    char* unix = convert(wide.c_str());
    if (!unix)
        return std::string();
    const std::string path = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

// Runs a Linux program (Wine starts one like a Windows program) and waits
// until done() holds, at most five seconds: Wine's handle of such a process
// does not wait for it.
bool RunUnix(const char* program, const std::string& arguments, std::function<bool()> done) {
    std::string line = std::string(program) + " " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const std::string application = std::string("Z:") + program;
    if (!CreateProcessA(application.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 100 && !done(); ++i)
        Sleep(50);
    return done();
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// A Linux symbolic link planted for one test, removed as a link again at the
// end (DeleteFileA under Wine would delete the file it leads to instead).
class UnixLink {
  public:
    UnixLink(const std::string& link, const std::string& target) : link_(UnixPath(link)) {
        const std::string to = UnixPath(target);
        made_ = !link_.empty() && !to.empty() &&
                GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES &&
                RunUnix("/bin/ln", "-s " + Quoted(to) + " " + Quoted(link_), [link] {
                    return GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
                });
        windowsPath_ = link;
    }
    ~UnixLink() {
        if (made_)
            RunUnix("/bin/rm", "-f " + Quoted(link_), [this] {
                return GetFileAttributesA(windowsPath_.c_str()) == INVALID_FILE_ATTRIBUTES;
            });
    }
    UnixLink(const UnixLink&) = delete;
    UnixLink& operator=(const UnixLink&) = delete;

    bool made() const { return made_; }

  private:
    std::string link_;
    std::string windowsPath_;
    bool made_ = false;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::uint64_t WriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

const std::string kConfig = "<configuration>\r\n  <appSettings>\r\n  </appSettings>\r\n"
                            "</configuration>\r\n";
// An application as far as the patch actions care: a record somewhere.
const std::string kApp = "MZ" + std::string(200, 'x') + std::string("patch_info3\0", 12) +
                         std::string(22, '\0') + std::string(200, 'y');

// One writing action: its files (all in one folder), its data for that
// folder, what it answers when it refuses, and how its refusal line starts.
struct Writer {
    const char* action;
    std::vector<std::pair<const char*, std::string>> files;
    const char* checked; // the file whose final path the line names
    std::function<std::string(const std::string& folder)> data;
    UINT refused;
    std::function<std::string(const std::string& path)> lineStart;
    const char* lineEnd;
};

const Writer kWriters[] = {
    {"ConfigureHarbor",
     {{"harbor.cfg.ini", "Berths=12\r\n"}, {"tessel.ini", "Berths=1\r\n"}},
     "harbor.cfg.ini",
     [](const std::string& folder) { return folder + "\\harbor.cfg.ini"; },
     13,
     [](const std::string& path) { return "Refused to copy " + path + ": its final path is "; },
     " (error 13)"},
    {"SetConfigLanguage",
     {{"Rondo.exe.config", kConfig}},
     "Rondo.exe.config",
     [](const std::string& folder) { return folder + "\\Rondo.exe.config|1031"; },
     5,
     [](const std::string& path) { return "Refused to rewrite " + path + ": its final path is "; },
     " (error 5)"},
    {"RondoApplyPatchInfo",
     {{"rondo32.exe", kApp}},
     "rondo32.exe",
     [](const std::string& folder) {
         return "X" + folder + "\\|X3001|X1.0.0|X1|X3|X1031|XAB123|X";
     },
     0,
     [](const std::string& path) { return path + " not patched: its final path is "; },
     " (error 13)"},
};

// A Linux link in a folder of the path, or at the file's own name, leading
// to a folder of the same files: refused, and nothing there is written,
// created or re-timed.
TEST(WritePaths, ALinkedFolderOrFileIsRefused) {
    if (UnixPath("C:\\").empty())
        GTEST_SKIP() << "no Linux links to plant outside Wine";
    ActionLibrary library("VantorSetup.dll");
    ASSERT_TRUE(library.loaded()) << "cannot load " << library.path();
    enum Where { kOwnFolder, kTwoUp, kTheFile };
    const struct {
        const char* what;
        Where where;
    } placements[] = {
        {"the file's own folder is a link", kOwnFolder},
        {"a folder two levels up is a link", kTwoUp},
        {"the file itself is a link", kTheFile},
    };
    for (const Writer& writer : kWriters) {
        for (const auto& placement : placements) {
            SCOPED_TRACE(std::string(writer.action) + ": " + placement.what);
            ScratchDir dir("vantor-linked");
            const std::string elsewhere =
                dir.Make(placement.where == kTwoUp ? "elsewhere\\App" : "elsewhere");
            for (const auto& file : writer.files)
                ASSERT_TRUE(WriteText(elsewhere + "\\" + file.first, file.second));
            const std::string folder = dir.path() + "\\Product\\App";
            std::vector<std::unique_ptr<UnixLink>> links;
            if (placement.where == kOwnFolder) {
                dir.Make("Product");
                links.emplace_back(new UnixLink(folder, elsewhere));
            } else if (placement.where == kTwoUp) {
                links.emplace_back(
                    new UnixLink(dir.path() + "\\Product", dir.path() + "\\elsewhere"));
            } else {
                dir.Make("Product\\App");
                for (const auto& file : writer.files) {
                    if (std::string(file.first) != writer.checked) {
                        ASSERT_TRUE(WriteText(folder + "\\" + file.first, file.second));
                    }
                }
                links.emplace_back(new UnixLink(folder + "\\" + writer.checked,
                                                elsewhere + "\\" + writer.checked));
            }
            for (const auto& link : links)
                ASSERT_TRUE(link->made()) << "cannot plant the link";
            const std::string reached = elsewhere + "\\" + writer.checked;
            std::vector<std::uint64_t> written;
            for (const auto& file : writer.files)
                written.push_back(WriteTime(elsewhere + "\\" + file.first));

            Session session;
            ASSERT_NE(session.handle(), 0u)
                << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session.openResult();
            ASSERT_EQ(session.Set("CustomActionData", writer.data(folder)), 0u);
            LogCapture log;
            EXPECT_EQ(library.Call(writer.action, session.handle()), writer.refused);

            if (log.lines().empty()) {
                ADD_FAILURE() << "nothing logged";
                continue;
            }
            const std::string line = Lower(log.lines().back());
            const std::string start =
                Lower("VantorCustomAction: " + writer.lineStart(folder + "\\" + writer.checked));
            EXPECT_EQ(line.substr(0, start.size()), start) << log.lines().back();
            EXPECT_EQ(line.substr(start.size()), Lower(reached + writer.lineEnd))
                << log.lines().back();
            for (std::size_t i = 0; i < writer.files.size(); ++i) {
                const std::string there = elsewhere + "\\" + writer.files[i].first;
                EXPECT_EQ(ReadText(there), writer.files[i].second) << there;
                EXPECT_EQ(WriteTime(there), written[i]) << there;
            }
            EXPECT_FALSE(Exists(elsewhere + "\\Rondo.exe.config.tmp"));
            if (std::string(writer.action) == "ConfigureHarbor" && placement.where != kTheFile) {
                EXPECT_EQ(ReadText(elsewhere + "\\tessel.ini"), "Berths=1\r\n");
            }
        }
    }
}

// One path rule for the language action too: a device path, a "/" with
// "..", a ".." part, a second ":". Under Wine each of these reaches the
// real file; each is refused with one line, and the file stays as it was.
TEST(WritePaths, TheLanguageActionTakesOnlyPlainAbsolutePaths) {
    ActionLibrary library("VantorSetup.dll");
    ASSERT_TRUE(library.loaded()) << "cannot load " << library.path();
    ScratchDir dir("vantor-language-forms");
    const std::string folder = dir.Make("App");
    dir.Make("App\\x");
    const std::string config = folder + "\\Rondo.exe.config";
    const std::string forms[] = {
        "\\\\.\\" + config,
        "\\\\?\\" + config,
        folder + "\\x/..\\Rondo.exe.config",
        folder + "\\x\\..\\Rondo.exe.config",
        config + ":language",
    };
    for (const std::string& path : forms) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(WriteText(config, kConfig));
        const std::uint64_t written = WriteTime(config);
        Session session;
        ASSERT_NE(session.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session.openResult();
        ASSERT_EQ(session.Set("CustomActionData", path + "|1031"), 0u);
        LogCapture log;
        EXPECT_EQ(library.Call("SetConfigLanguage", session.handle()), 5u);
        EXPECT_EQ(log.lines(),
                  std::vector<std::string>{"VantorCustomAction: Refused to rewrite " + path +
                                           ": not a plain absolute path (error 5)"});
        EXPECT_EQ(ReadText(config), kConfig);
        EXPECT_EQ(WriteTime(config), written);
        EXPECT_FALSE(Exists(config + ".tmp"));
    }
}

} // namespace
