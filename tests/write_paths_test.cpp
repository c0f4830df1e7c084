// Where the deferred actions that write files as LocalSystem (ConfigureHarbor,
// SetConfigLanguage, the patch actions) may write: only at the plain path
// they were given, never through a link or junction in any folder of it.
#include "host_fixture.h"
#include "patch_test_support.h"
#include "setup/exports.h"
#include "sweep.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kLog = "VantorCustomAction: ";
const std::string kConfig = "<appSettings>\n</appSettings>\n";
const std::string kApp = patchtest::AppImage(3000, {700});

// Everything below a folder, links not followed: each file's bytes and
// modification time, each link's target.
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().string().substr(root.size());
        if (entry.is_symlink())
            tree[name] = "link to " + fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            tree[name] = host::ReadHostFile(entry.path().string()) + " written at " +
                         std::to_string(host::LastWriteTime(entry.path().string()));
        else
            tree[name] = "folder";
    }
    return tree;
}

// One writing action: the files it works on (all in one folder), how it is
// run on a folder, and what it answers and logs when it refuses.
struct Writer {
    const char* name;
    std::map<std::string, std::string> files;
    const char* checked;                         // the file whose final path it reports
    std::function<UINT(const std::string&)> run; // on a folder, "C:\\...\\Vantor"
    UINT refusedResult;
    // The lines of a refusal, for the checked file's path and final path.
    std::function<std::vector<std::string>(const std::string&, const std::string&)> refusal;
    // The folder's files after a run where nothing is refused.
    std::function<bool(const std::string& folder)> written;
};

UINT RunDeferred(UINT(WINAPI* action)(MSIHANDLE), const std::string& data) {
    host::SetProperty("CustomActionData", data);
    host::SetDeferred(true);
    const UINT result = action(host::OpenSession());
    host::SetDeferred(false);
    return result;
}

std::string PatchData(const std::string& folder) {
    return "X" + folder + "\\|X3001|X6.1.7|X2|X3|X1031|XAB123|X";
}

const std::vector<Writer>& Writers() {
    static const std::vector<Writer> writers = {
        {"ConfigureHarbor",
         {{"second.ini", "[harbor]\nmode=2\n"}, {"tessel.ini", "[harbor]\nmode=old\n"}},
         "second.ini",
         [](const std::string& folder) {
             return RunDeferred(ConfigureHarbor, folder + "\\second.ini");
         },
         13,
         [](const std::string& path, const std::string& final) {
             return std::vector<std::string>{kLog + "Refused to copy " + path +
                                             ": its final path is " + final + " (error 13)"};
         },
         [](const std::string& folder) {
             return host::ReadHostFile(folder + "/tessel.ini") == "[harbor]\nmode=2\n";
         }},
        {"SetConfigLanguage",
         {{"Rondo.exe.config", kConfig}},
         "Rondo.exe.config",
         [](const std::string& folder) {
             return RunDeferred(SetConfigLanguage, folder + "\\Rondo.exe.config|1031");
         },
         5,
         [](const std::string& path, const std::string& final) {
             return std::vector<std::string>{kLog + "Appling language: 1031 to " + path,
                                             kLog + "Refused to rewrite " + path +
                                                 ": its final path is " + final + " (error 5)"};
         },
         [](const std::string& folder) {
             return host::ReadHostFile(folder + "/Rondo.exe.config").find("de-DE") !=
                    std::string::npos;
         }},
        {"RondoApplyPatchInfo",
         {{"rondo32.exe", kApp}},
         "rondo32.exe",
         [](const std::string& folder) {
             return RunDeferred(RondoApplyPatchInfo, PatchData(folder));
         },
         0,
         [](const std::string& path, const std::string& final) {
             return std::vector<std::string>{kLog + path + " not patched: its final path is " +
                                             final + " (error 13)"};
         },
         [](const std::string& folder) {
             return host::ReadHostFile(folder + "/rondo32.exe") != kApp;
         }},
    };
    return writers;
}

class WritePathsTest : public HostTest {};

// A junction (or directory link) in a folder between the drive and the file,
// leading elsewhere: the action writes nothing anywhere, names the place the
// file really is, and answers as it answers for a link at the file's name.
TEST_F(WritePathsTest, NoActionWritesThroughALinkedFolder) {
    struct Placement {
        const char* what;
        // Makes "<base>/Program Files/Vantor" lead somewhere (or be a plain
        // folder); answers the folder the files really are in.
        std::function<std::string(const std::string& base, const std::string& outside)> place;
    } placements[] = {
        {"no link: written in place",
         [](const std::string& base, const std::string&) {
             fs::create_directories(base + "/Program Files/Vantor");
             return base + "/Program Files/Vantor";
         }},
        {"the file's own folder is a junction",
         [](const std::string& base, const std::string& outside) {
             fs::create_directories(base + "/Program Files");
             fs::create_directories(outside + "/decoy");
             host::PlantLink(base + "/Program Files/Vantor", outside + "/decoy");
             return outside + "/decoy";
         }},
        {"a folder two levels up is a junction",
         [](const std::string& base, const std::string& outside) {
             fs::create_directories(outside + "/pf/Vantor");
             host::PlantLink(base + "/Program Files", outside + "/pf");
             return outside + "/pf/Vantor";
         }},
        {"a junction leading to another junction",
         [](const std::string& base, const std::string& outside) {
             fs::create_directories(base + "/Program Files");
             fs::create_directories(outside + "/decoy");
             host::PlantLink(outside + "/hop", outside + "/decoy");
             host::PlantLink(base + "/Program Files/Vantor", outside + "/hop");
             return outside + "/decoy";
         }},
        {"a junction back into the product's own folders",
         [](const std::string& base, const std::string&) {
             fs::create_directories(base + "/Program Files/Other");
             host::PlantLink(base + "/Program Files/Vantor", base + "/Program Files/Other");
             return base + "/Program Files/Other";
         }},
    };
    for (const Writer& writer : Writers()) {
        for (const Placement& placement : placements) {
            SCOPED_TRACE(std::string(writer.name) + ": " + placement.what);
            host::Reset();
            const std::string base = host::MakeTempDir();
            const std::string outside = host::MakeTempDir();
            const std::string real = placement.place(base, outside);
            for (const auto& file : writer.files)
                host::WriteHostFile(real + "/" + file.first, file.second);
            host::SetProperty("ProductCode", "{6F1A3C52-7B0E-4D8A-9C21-5E3B7A90D412}");
            const std::string folder = host::WinPath(base) + "\\Program Files\\Vantor";
            const auto baseBefore = Tree(base);
            const auto outsideBefore = Tree(outside);

            const UINT result = writer.run(folder);

            const std::string path = folder + "\\" + writer.checked;
            if (real == base + "/Program Files/Vantor") {
                EXPECT_EQ(result, 0u);
                EXPECT_TRUE(writer.written(real));
                continue;
            }
            EXPECT_EQ(result, writer.refusedResult);
            EXPECT_EQ(host::LogLines(),
                      writer.refusal(path, host::WinPath(real + "/" + writer.checked)));
            EXPECT_EQ(Tree(base), baseBefore);
            EXPECT_EQ(Tree(outside), outsideBefore);
        }
    }
}

// One path rule for every writing action: a drive-absolute path with no "/",
// no ".." part and no second ":". The "/" and ".." forms below would reach a
// real file on the way the host resolves them; each form is refused with one
// line, and nothing is touched.
TEST_F(WritePathsTest, LanguageAndPatchActionsTakeOnlyPlainAbsolutePaths) {
    struct Form {
        const char* what;
        std::string folder; // "@" stands for the real folder, "C:\\..."
        bool driveAbsolute; // false: not even "<drive>:\\..."
    } forms[] = {
        {"device path", "\\\\.\\@", false},
        {"long-path prefix", "\\\\?\\@", false},
        {"forward slashes", "C:/@", false},
        {"a slash and \"..\" to leave a folder", "@\\x/..", true},
        {"\"..\" twice", "@\\x\\y/../..", true},
        {"\"..\" to a sibling", "@\\x\\..\\y", true},
        {"\"..\" with a blank", "@\\x\\.. ", true},
        {"a second \":\"", "@\\x:", true},
    };
    const std::string notPlain = "not a plain absolute path (error 5)";
    for (const Form& form : forms) {
        for (const bool language : {true, false}) {
            SCOPED_TRACE(std::string(form.what) + (language ? ", language" : ", patch"));
            host::Reset();
            const std::string dir = host::MakeTempDir();
            fs::create_directories(dir + "/x/y");
            fs::create_directories(dir + "/y");
            for (const std::string& at : {dir, dir + "/x", dir + "/y"}) {
                host::WriteHostFile(at + "/Rondo.exe.config", kConfig);
                host::WriteHostFile(at + "/rondo32.exe", kApp);
            }
            std::string folder = form.folder;
            const std::string real = host::WinPath(dir);
            folder.replace(folder.find('@'), 1,
                           form.folder.rfind("C:/", 0) == 0 ? real.substr(3) : real);
            if (form.folder.rfind("C:/", 0) == 0)
                std::replace(folder.begin(), folder.end(), '\\', '/');
            host::SetProperty("ProductCode", "{6F1A3C52-7B0E-4D8A-9C21-5E3B7A90D412}");
            const auto before = Tree(dir);
            std::string line;
            if (language) {
                const std::string path = folder + "\\Rondo.exe.config";
                EXPECT_EQ(RunDeferred(SetConfigLanguage, path + "|1031"), 5u);
                line = "Refused to rewrite " + path + ": " + notPlain;
            } else {
                EXPECT_EQ(RunDeferred(RondoApplyPatchInfo, PatchData(folder)), 0u);
                line = "rondo32.exe not patched: INSTALLDIR is not a " +
                       std::string(form.driveAbsolute ? "plain" : "local") +
                       " absolute folder: " + folder + "\\ (error 13)";
            }
            EXPECT_EQ(host::LogLines(), std::vector<std::string>{kLog + line});
            EXPECT_EQ(Tree(dir), before);
        }
    }
}

// Whichever platform call fails, nothing outside the product's folder is
// touched through a junction in the middle of the path.
void JunctionScene(SweepScene& scene, const std::string& file, const std::string& content,
                   const std::string& data) {
    const std::string base = host::MakeTempDir();
    const std::string outside = host::MakeTempDir();
    fs::create_directories(base + "/Program Files");
    host::WriteHostFile(outside + "/" + file, content);
    host::WriteHostFile(outside + "/tessel.ini", "[outside]\n");
    host::PlantLink(base + "/Program Files/Vantor", outside);
    std::string filled = data;
    filled.replace(filled.find('@'), 1, host::WinPath(base) + "\\Program Files\\Vantor");
    host::SetProperty("ProductCode", "{6F1A3C52-7B0E-4D8A-9C21-5E3B7A90D412}");
    host::SetProperty("CustomActionData", filled);
    host::SetDeferred(true);
    scene.watchedFiles = {outside + "/" + file, outside + "/tessel.ini",
                          outside + "/" + file + ".tmp"};
}

VANTOR_SWEEP(ConfigureHarbor, "junction in the middle",
             [](SweepScene& scene) {
                 JunctionScene(scene, "second.ini", "[harbor]\n", "@\\second.ini");
             },
             {ERROR_SUCCESS, ERROR_FILE_NOT_FOUND});
VANTOR_SWEEP(SetConfigLanguage, "junction in the middle",
             [](SweepScene& scene) {
                 JunctionScene(scene, "Rondo.exe.config", kConfig, "@\\Rondo.exe.config|1031");
             },
             {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(RondoApplyPatchInfo, "junction in the middle",
             [](SweepScene& scene) {
                 JunctionScene(scene, "rondo32.exe", kApp,
                               "X@\\|X3001|X6.1.7|X2|X3|X1031|XAB123|X");
             },
             {});

} // namespace
