#include "common/handles.h"
#include "drivers/driver_package.h"
#include "drivers/exports.h"
#include "host_fixture.h"

#include <filesystem>
#include <functional>
#include <utility>
#include <string>
#include <vector>

using namespace vantor;

namespace {

class DriverPackageTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        Prepare();
    }
    // A fresh machine for the next case of a table (its folders go too).
    void Fresh() {
        host::Reset();
        session = host::OpenSession();
        Prepare();
    }
    void Prepare() {
        root = host::MakeTempDir();
        // A blank in the path, as under "C:\Program Files".
        installDir = root + "/Program Files/Vantor";
        std::filesystem::create_directories(installDir + "/System");
        host::WriteHostFile(installDir + "/System/dpinst.exe", "MZ fixture");
        tool = host::WinPath(installDir) + "\\System\\dpinst.exe";
        host::SetDeferred(true);
        SetInstallDir(host::WinPath(installDir) + "\\");
    }

    // The deferred data as the package writes it: eight "X"-prefixed fields.
    void SetInstallDir(const std::string& dir) {
        host::SetProperty("CustomActionData", "X" + dir + "|X3|X2.1.0|X1|X2|X1031|XSN1|X");
    }

    std::string root;
    std::string installDir;
    std::string tool;
};

const std::string kCalling = "VantorCustomAction: Calling DPInst.exe with command line: ";
const std::string kReturned = "VantorCustomAction: DPInst.exe return code: ";

TEST_F(DriverPackageTest, CommandLinesOfTheThreeActions) {
    struct Case {
        const char* what;
        UINT(WINAPI* action)(MSIHANDLE);
        const char* tail;
    } cases[] = {
        {"DIFxInstall", DIFxInstall, " /SA /A /D /SW"},
        {"WinUsbUninstall", WinUsbUninstall, " /u  vantorwinusb.inf"},
        {"VantorppUninstall", VantorppUninstall, " /u  vantorpp.inf"},
    };
    for (const Case& c : cases) {
        Fresh();

        EXPECT_EQ(c.action(session), 0u) << c.what;
        const std::string commandLine = tool + c.tail;
        ASSERT_EQ(host::Launches().size(), 1u) << c.what;
        const host::Launch& launch = host::Launches()[0];
        EXPECT_EQ(launch.commandLine, commandLine) << c.what;
        // The program is named on its own, so that nothing else can start.
        EXPECT_EQ(launch.applicationName, std::optional<std::string>(tool)) << c.what;
        EXPECT_FALSE(launch.inheritHandles);
        EXPECT_EQ(launch.creationFlags, 0u);
        EXPECT_TRUE(launch.environmentNull);
        EXPECT_EQ(launch.currentDirectory,
                  std::optional<std::string>(host::WinPath(installDir) + "\\System\\"))
            << c.what << ": the tool runs in its own folder";
        EXPECT_EQ(launch.startupInfoSize, DWORD(sizeof(STARTUPINFOA)));
        EXPECT_EQ(launch.startupFlags, 0u);
        EXPECT_EQ(host::LogLines(),
                  (std::vector<std::string>{kCalling + commandLine, kReturned + "0x0"}))
            << c.what;
        EXPECT_TRUE(host::ForbiddenPropertyAccesses().empty()) << c.what;
    }
}

// The tool runs as LocalSystem: only from a folder on a local drive, and in
// that folder, so that the removals' INF names are the package's own files.
TEST_F(DriverPackageTest, StartsToolsOnlyFromALocalFolder) {
    const std::string local = host::WinPath(installDir) + "\\";
    const std::string bare = local.substr(2); // without its drive
    struct Case {
        std::string dir;
        bool started;
    } cases[] = {
        {local, true},
        {"c" + local.substr(1), true},
        {"\\\\host\\share\\Vantor\\", false},
        {"\\\\?\\" + local, false},
        {"\\\\.\\" + local, false},
        {"\\\\?\\UNC\\host\\share\\", false},
        {"//host/share/", false},
        {bare, false},                      // rooted, no drive
        {"C:" + bare.substr(1), false},     // relative to C:'s current folder
        {"Program Files\\Vantor\\", false}, // relative
        {"C:/" + bare.substr(1), false},
        // Only the plain form of a path: nothing that leads it elsewhere.
        {local + "..\\", false},
        {local + "x\\..\\..\\", false},
        {local + "... \\", false}, // what the platform trims to ".."
        {local + "x/..\\", false}, // "/" anywhere
        {"C:\\x/../..\\", false},
        {local + "x:y\\", false}, // a second ":" (a stream)
    };
    const std::pair<UINT(WINAPI*)(MSIHANDLE), const char*> actions[] = {
        {DIFxInstall, " /SA /A /D /SW"},
        {WinUsbUninstall, " /u  vantorwinusb.inf"},
        {VantorppUninstall, " /u  vantorpp.inf"},
    };
    for (const Case& c : cases) {
        for (const auto& action : actions) {
            SetInstallDir(c.dir);
            const std::size_t logged = host::LogLines().size();
            const std::size_t launched = host::Launches().size();
            const UINT result = action.first(session);
            if (c.started) {
                EXPECT_EQ(result, 0u) << c.dir;
                ASSERT_EQ(host::Launches().size(), launched + 1) << c.dir;
                const host::Launch& launch = host::Launches().back();
                EXPECT_EQ(launch.commandLine, c.dir + "System\\dpinst.exe" + action.second);
                EXPECT_EQ(launch.currentDirectory, std::optional<std::string>(c.dir + "System\\"));
                continue;
            }
            EXPECT_EQ(result, 1603u) << c.dir;
            EXPECT_EQ(host::Launches().size(), launched) << c.dir << ": nothing started";
            ASSERT_EQ(host::LogLines().size(), logged + 1) << c.dir;
            EXPECT_EQ(host::LogLines().back(),
                      "VantorCustomAction: DPInst.exe not started, INSTALLDIR is not a local "
                      "absolute folder: " +
                          c.dir + " (error 13)");
        }
    }
}

// Accounts, and what Windows' own folders grant them.
const std::string kEveryone = "S-1-1-0";
const std::string kCreatorOwner = "S-1-3-0";
const std::string kAuthenticatedUsers = "S-1-5-11";
const std::string kSystem = "S-1-5-18";
const std::string kAdministrators = "S-1-5-32-544";
const std::string kUsers = "S-1-5-32-545";
const std::string kTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::string kAppPackages = "S-1-15-2-1";
const std::string kAlice = "S-1-5-21-1-2-3-1001";    // a standard user, VANTOR-PC\alice
const std::string kWineUser = "S-1-5-21-0-0-0-1000"; // Wine's own account, without a name

constexpr ACCESS_MASK kFull = FILE_ALL_ACCESS;
constexpr ACCESS_MASK kModify = 0x1301BF; // all but delete child, permissions, owner
constexpr ACCESS_MASK kReadExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
constexpr ACCESS_MASK kUnixWritable = 0x1301FF; // Wine's Everyone entry for mode o+w
constexpr ACCESS_MASK kGenericReadExecute = GENERIC_READ | GENERIC_EXECUTE;
constexpr BYTE kTree = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr BYTE kBelowOnly = kTree | INHERIT_ONLY_ACE;
constexpr BYTE kFoldersBelowOnly = CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE;
constexpr BYTE kInherited = INHERITED_ACE;

host::Ace Allow(const std::string& sid, ACCESS_MASK mask, BYTE flags = 0) {
    return host::Ace{ACCESS_ALLOWED_ACE_TYPE, flags, mask, sid};
}
host::Ace Deny(const std::string& sid, ACCESS_MASK mask, BYTE flags = 0) {
    return host::Ace{ACCESS_DENIED_ACE_TYPE, flags, mask, sid};
}
host::Security Owned(const std::string& owner, std::vector<host::Ace> aces) {
    return host::Security{owner, std::move(aces)};
}
// The stand-in's default entries, with more after them.
host::Security DefaultWith(std::vector<host::Ace> more,
                           const std::string& owner = kAdministrators) {
    host::Security security = host::DefaultSecurity();
    security.owner = owner;
    security.dacl->insert(security.dacl->end(), more.begin(), more.end());
    return security;
}

// Windows' own: a system drive's root, Program Files, and a product folder
// and file that the installer created below it (inherited entries).
host::Security WindowsRoot() {
    return Owned(kTrustedInstaller,
                 {Allow(kAdministrators, kFull, kTree), Allow(kSystem, kFull, kTree),
                  Allow(kUsers, kReadExecute, kTree),
                  Allow(kAuthenticatedUsers, kModify, kBelowOnly),
                  Allow(kAuthenticatedUsers, FILE_ADD_SUBDIRECTORY),
                  Allow(kCreatorOwner, GENERIC_ALL, kBelowOnly)});
}
host::Security WindowsProgramFiles() {
    return Owned(kTrustedInstaller,
                 {Allow(kTrustedInstaller, kFull),
                  Allow(kTrustedInstaller, GENERIC_ALL, kFoldersBelowOnly), Allow(kSystem, kModify),
                  Allow(kSystem, GENERIC_ALL, kBelowOnly), Allow(kAdministrators, kModify),
                  Allow(kAdministrators, GENERIC_ALL, kBelowOnly), Allow(kUsers, kReadExecute),
                  Allow(kUsers, kGenericReadExecute, kBelowOnly),
                  Allow(kCreatorOwner, GENERIC_ALL, kBelowOnly), Allow(kAppPackages, kReadExecute),
                  Allow(kAppPackages, kGenericReadExecute, kBelowOnly)});
}
host::Security WindowsProductFolder() {
    const BYTE below = kInherited | kBelowOnly;
    return Owned(
        kAdministrators,
        {Allow(kTrustedInstaller, kFull, kInherited),
         Allow(kTrustedInstaller, GENERIC_ALL, kInherited | kFoldersBelowOnly),
         Allow(kSystem, kFull, kInherited), Allow(kSystem, GENERIC_ALL, below),
         Allow(kAdministrators, kFull, kInherited), Allow(kAdministrators, GENERIC_ALL, below),
         Allow(kUsers, kReadExecute, kInherited), Allow(kUsers, kGenericReadExecute, below),
         Allow(kCreatorOwner, GENERIC_ALL, below), Allow(kAppPackages, kReadExecute, kInherited),
         Allow(kAppPackages, kGenericReadExecute, below)});
}
host::Security WindowsProductFile() {
    return Owned(kAdministrators,
                 {Allow(kSystem, kFull, kInherited), Allow(kAdministrators, kFull, kInherited),
                  Allow(kUsers, kReadExecute, kInherited),
                  Allow(kAppPackages, kReadExecute, kInherited)});
}
// A folder created under the root: it inherits Authenticated Users' modify
// right, and its creator (owner) gets full control.
host::Security CreatedUnderTheRoot(const std::string& creator) {
    const BYTE below = kInherited | kBelowOnly;
    return Owned(creator,
                 {Allow(kAdministrators, kFull, kInherited | kTree),
                  Allow(kSystem, kFull, kInherited | kTree),
                  Allow(kUsers, kReadExecute, kInherited | kTree),
                  Allow(kAuthenticatedUsers, kModify, kInherited | kTree),
                  Allow(creator, kFull, kInherited), Allow(kCreatorOwner, GENERIC_ALL, below)});
}
// Wine's report of a folder or file without a stored descriptor: from its
// Unix mode, owned by the Wine account.
host::Security WineDefault(ACCESS_MASK everyone = kReadExecute) {
    return Owned(kWineUser,
                 {Allow(kSystem, kFull), Allow(kWineUser, kFull), Allow(kEveryone, everyone)});
}

// The tool starts only when nobody but Administrators, SYSTEM,
// TrustedInstaller and the action's own account can change it, its folder
// or a folder above that: one table of owners and access lists, set on the
// drive's root, a folder above the product ("Program Files"), the product's
// folder, its System folder and the tool.
TEST_F(DriverPackageTest, StartsOnlyWhatOnlyTheTrustedCanChange) {
    enum Level { kRoot, kProgramFiles, kProduct, kSystemFolder, kTool };
    const BYTE allowedObject = ACCESS_ALLOWED_OBJECT_ACE_TYPE;
    const BYTE conditional = ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    struct Case {
        const char* what;
        std::vector<std::pair<Level, host::Security>> objects;
        Level refusedAt;
        const char* why;           // after the object's name; nullptr: started
        std::string processUser{}; // empty: SYSTEM
    } cases[] = {
        {"the stand-in's defaults", {}, kRoot, nullptr},
        {"Windows' own root (Authenticated Users create folders, CREATOR OWNER inherit-only)",
         {{kRoot, WindowsRoot()}},
         kRoot,
         nullptr},
        {"Windows' own root, Program Files, product folder and file",
         {{kRoot, WindowsRoot()},
          {kProgramFiles, WindowsProgramFiles()},
          {kProduct, WindowsProductFolder()},
          {kSystemFolder, WindowsProductFolder()},
          {kTool, WindowsProductFile()}},
         kRoot,
         nullptr},
        {"a folder an administrator created under the root",
         {{kRoot, WindowsRoot()},
          {kProduct, CreatedUnderTheRoot(kAdministrators)},
          {kSystemFolder, CreatedUnderTheRoot(kAdministrators)},
          {kTool, CreatedUnderTheRoot(kAdministrators)}},
         kProduct,
         " can be changed by NT AUTHORITY\\Authenticated Users (delete)"},
        {"a folder a user created under the root",
         {{kRoot, WindowsRoot()}, {kProduct, CreatedUnderTheRoot(kAlice)}},
         kProduct,
         " is owned by VANTOR-PC\\alice"},
        {"CREATOR OWNER: inherit-only, and on the folder itself",
         {{kSystemFolder, DefaultWith({Allow(kCreatorOwner, GENERIC_ALL, kBelowOnly),
                                       Allow(kCreatorOwner, kFull)})}},
         kRoot,
         nullptr},
        {"a deny entry takes the same account's rights",
         {{kProduct, Owned(kAdministrators,
                           {Deny(kEveryone, DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER),
                            Allow(kEveryone, kUnixWritable), Allow(kSystem, kFull)})}},
         kRoot,
         nullptr},
        {"a deny entry leaves another account's rights",
         {{kProduct, Owned(kAdministrators,
                           {Deny(kEveryone, DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER),
                            Allow(kUsers, kUnixWritable)})}},
         kProduct,
         " can be changed by BUILTIN\\Users (delete child, delete)"},
        {"a deny entry after the allow entry",
         {{kProduct, Owned(kAdministrators, {Allow(kEveryone, kUnixWritable),
                                             Deny(kEveryone, DELETE | FILE_DELETE_CHILD |
                                                                 WRITE_DAC | WRITE_OWNER)})}},
         kProduct,
         " can be changed by Everyone (delete child, delete)"},
        {"an inherit-only deny entry",
         {{kProduct,
           Owned(kAdministrators,
                 {Deny(kEveryone, DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER, kBelowOnly),
                  Allow(kEveryone, kUnixWritable)})}},
         kProduct,
         " can be changed by Everyone (delete child, delete)"},
        {"a null DACL",
         {{kTool, host::Security{kAdministrators, std::nullopt}}},
         kTool,
         " can be changed by everyone: it has no access list"},
        {"an empty DACL", {{kProduct, Owned(kAdministrators, {})}}, kRoot, nullptr},
        {"an untrusted owner",
         {{kTool, DefaultWith({}, kAlice)}},
         kTool,
         " is owned by VANTOR-PC\\alice"},
        {"no owner",
         {{kSystemFolder, DefaultWith({}, "")}},
         kSystemFolder,
         " has no owner that can be read"},
        {"write on the file only",
         {{kTool, DefaultWith({Allow(kUsers, FILE_WRITE_DATA)})}},
         kTool,
         " can be changed by BUILTIN\\Users (write)"},
        {"generic write on the file",
         {{kTool, DefaultWith({Allow(kAuthenticatedUsers, GENERIC_WRITE)})}},
         kTool,
         " can be changed by NT AUTHORITY\\Authenticated Users (write, append)"},
        {"take ownership of the file",
         {{kTool, DefaultWith({Allow(kUsers, WRITE_OWNER)})}},
         kTool,
         " can be changed by BUILTIN\\Users (take ownership)"},
        {"a conditional allow entry",
         {{kTool, DefaultWith({host::Ace{conditional, 0, FILE_APPEND_DATA, kUsers}})}},
         kTool,
         " can be changed by BUILTIN\\Users (append)"},
        {"an object allow entry",
         {{kTool, DefaultWith({host::Ace{allowedObject, 0, FILE_WRITE_DATA, kSystem}})}},
         kTool,
         " has an access entry of a kind this check cannot read (type 5)"},
        {"delete child on a folder above",
         {{kProgramFiles, DefaultWith({Allow(kUsers, FILE_DELETE_CHILD)})}},
         kProgramFiles,
         " can be changed by BUILTIN\\Users (delete child)"},
        {"change permissions of the root",
         {{kRoot, DefaultWith({Allow(kEveryone, WRITE_DAC)})}},
         kRoot,
         " can be changed by Everyone (change permissions)"},
        {"add file on the tool's folder",
         {{kSystemFolder, DefaultWith({Allow(kUsers, FILE_ADD_FILE)})}},
         kSystemFolder,
         " can be changed by BUILTIN\\Users (add file)"},
        {"add file, add folder, generic write on a folder above",
         {{kProduct, DefaultWith({Allow(kUsers, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY),
                                  Allow(kEveryone, GENERIC_WRITE)})}},
         kRoot,
         nullptr},
        {"an account without a name",
         {{kTool, DefaultWith({Allow("S-1-5-21-9-9-9-1234", FILE_WRITE_DATA)})}},
         kTool,
         " can be changed by S-1-5-21-9-9-9-1234 (write)"},
        {"a folder the action's own account owns",
         {{kProduct, WineDefault()}, {kSystemFolder, WineDefault()}, {kTool, WineDefault()}},
         kRoot,
         nullptr,
         kWineUser},
        {"the same folder, the action running as SYSTEM",
         {{kProduct, WineDefault()}},
         kProduct,
         " is owned by S-1-5-21-0-0-0-1000"},
        {"Wine: the tool's folder in mode o+w",
         {{kProduct, WineDefault()},
          {kSystemFolder, WineDefault(kUnixWritable)},
          {kTool, WineDefault()}},
         kSystemFolder,
         " can be changed by Everyone (add file, add folder, delete child, delete)",
         kWineUser},
    };
    for (const Case& c : cases) {
        Fresh();
        host::AddAccount(kAlice, "VANTOR-PC", "alice");
        if (!c.processUser.empty())
            host::SetProcessUser(c.processUser);
        const std::pair<std::string, std::string> levels[] = {
            {"/", "C:\\"},
            {root + "/Program Files", host::WinPath(root + "/Program Files") + "\\"},
            {installDir, host::WinPath(installDir) + "\\"},
            {installDir + "/System", host::WinPath(installDir) + "\\System\\"},
            {installDir + "/System/dpinst.exe", tool},
        };
        for (const auto& object : c.objects)
            host::SetSecurity(levels[object.first].first, object.second);

        const UINT result = DIFxInstall(session);
        if (!c.why) {
            EXPECT_EQ(result, 0u) << c.what;
            EXPECT_EQ(host::Launches().size(), 1u) << c.what;
            EXPECT_EQ(host::LogLines(), (std::vector<std::string>{
                                            kCalling + tool + " /SA /A /D /SW", kReturned + "0x0"}))
                << c.what;
            continue;
        }
        EXPECT_EQ(result, 1603u) << c.what;
        EXPECT_TRUE(host::Launches().empty()) << c.what << ": nothing started";
        EXPECT_EQ(host::LogLines(),
                  std::vector<std::string>{"VantorCustomAction: " + tool + " not started: " +
                                           levels[c.refusedAt].second + c.why + " (error 5)"})
            << c.what;
    }
}

// The tool held open must be the file its path names: a junction in a
// folder of the path, or a link at the tool's name, leads elsewhere, and
// nothing starts (the line names where the file really is).
TEST_F(DriverPackageTest, StartsNothingThroughALink) {
    struct Case {
        const char* what;
        // Makes "<product>/System/dpinst.exe" lead elsewhere; answers the
        // host path of the file really reached.
        std::function<std::string(const std::string& outside)> place;
    } cases[] = {
        {"the tool's folder is a junction",
         [&](const std::string& outside) {
             std::filesystem::create_directories(outside + "/System");
             host::WriteHostFile(outside + "/System/dpinst.exe", "MZ planted");
             std::filesystem::remove_all(installDir + "/System");
             host::PlantLink(installDir + "/System", outside + "/System");
             return outside + "/System/dpinst.exe";
         }},
        {"a folder two levels up is a junction",
         [&](const std::string& outside) {
             std::filesystem::create_directories(outside + "/Vantor/System");
             host::WriteHostFile(outside + "/Vantor/System/dpinst.exe", "MZ planted");
             std::filesystem::remove_all(installDir);
             host::PlantLink(installDir, outside + "/Vantor");
             return outside + "/Vantor/System/dpinst.exe";
         }},
        {"the tool is a link",
         [&](const std::string& outside) {
             host::WriteHostFile(outside + "/planted.exe", "MZ planted");
             std::filesystem::remove(installDir + "/System/dpinst.exe");
             host::PlantLink(installDir + "/System/dpinst.exe", outside + "/planted.exe");
             return outside + "/planted.exe";
         }},
    };
    for (const Case& c : cases) {
        Fresh();
        const std::string reached = c.place(host::MakeTempDir());

        EXPECT_EQ(DIFxInstall(session), 1603u) << c.what;
        EXPECT_TRUE(host::Launches().empty()) << c.what << ": nothing started";
        EXPECT_EQ(host::LogLines(), std::vector<std::string>{"VantorCustomAction: " + tool +
                                                             " not started: its final path is " +
                                                             host::WinPath(reached) + " (error 5)"})
            << c.what;
    }
}

// The tool is held open from the check until it has started: at each moment
// between, another program can neither write it, nor replace or delete it.
TEST_F(DriverPackageTest, ToolIsHeldFromTheCheckToTheStart) {
    const std::function<DWORD()> attempts[] = {
        [&] { // open for writing
            FileHandle writer(CreateFileA(tool.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            return writer ? DWORD(ERROR_SUCCESS) : GetLastError();
        },
        [&] { // replace by renaming another file onto its name
            const std::string planted = root + "/planted.exe";
            host::WriteHostFile(planted, "MZ planted");
            return MoveFileExA(host::WinPath(planted).c_str(), tool.c_str(),
                               MOVEFILE_REPLACE_EXISTING)
                       ? DWORD(ERROR_SUCCESS)
                       : GetLastError();
        },
        [&] { // delete
            return DeleteFileA(tool.c_str()) ? DWORD(ERROR_SUCCESS) : GetLastError();
        },
    };
    const char* const moments[] = {"GetFinalPathNameByHandleA", "GetNamedSecurityInfoA",
                                   "GetSecurityInfo", "CreateProcessA"};
    for (const char* moment : moments) {
        for (std::size_t attempt = 0; attempt < std::size(attempts); ++attempt) {
            Fresh();
            DWORD error = ~0u;
            host::BeforeCall(moment, [&] { error = attempts[attempt](); });
            const std::string what = std::string(moment) + ", attempt " + std::to_string(attempt);

            EXPECT_EQ(DIFxInstall(session), 0u) << what;
            EXPECT_EQ(error, DWORD(ERROR_SHARING_VIOLATION)) << what;
            EXPECT_EQ(host::ReadHostFile(installDir + "/System/dpinst.exe"), "MZ fixture") << what;
            EXPECT_EQ(host::Launches().size(), 1u) << what;
            EXPECT_EQ(attempts[attempt](), DWORD(ERROR_SUCCESS)) << what << ": released after";
        }
    }
}

TEST_F(DriverPackageTest, ExitCodeMap) {
    struct Case {
        DWORD exitCode;
        UINT result;
        const char* logged;
    } cases[] = {
        {0x00000000, 0, "0x0"},           {0x00000003, 0, "0x3"},
        {0x3FFFFFFF, 0, "0x3FFFFFFF"},    {0x40000001, 3010, "0x40000001"},
        {0x4000FF00, 3010, "0x4000FF00"}, {0x80000000, 1603, "0x80000000"},
        {0xC0000000, 1603, "0xC0000000"}, {0xC0000005, 1603, "0xC0000005"}, // the tool crashed
    };
    for (const Case& c : cases) {
        host::SetExitCode(c.exitCode);
        const std::size_t before = host::LogLines().size();
        EXPECT_EQ(DIFxInstall(session), c.result) << c.logged;
        ASSERT_EQ(host::LogLines().size(), before + 2) << c.logged;
        EXPECT_EQ(host::LogLines().back(), kReturned + c.logged);
        EXPECT_EQ(DriverPackageResult(c.exitCode), c.result) << c.logged;
    }
}

TEST_F(DriverPackageTest, EmptyInstallDirStartsNothing) {
    struct Case {
        const char* what;
        std::string data;
        bool unreadable;
    } cases[] = {
        {"empty field", "X|X3", false},
        {"no data", "", false},
        {"data unreadable", "X/x/|X3", true},
    };
    for (const Case& c : cases) {
        Fresh();
        host::SetProperty("CustomActionData", c.data);
        if (c.unreadable)
            host::FailCall("MsiGetPropertyA");
        EXPECT_EQ(WinUsbUninstall(session), 1603u) << c.what;
        EXPECT_EQ(
            host::LogLines(),
            std::vector<std::string>{"VantorCustomAction: Empty Path return from DeferredProperty"})
            << c.what;
        EXPECT_TRUE(host::Launches().empty()) << c.what;
    }
}

// The tool cannot run: nothing starts when it cannot be held open or its
// security cannot be read (one line: the tool's path and why); a tool that
// the platform cannot start is logged with its command line, then the
// platform's code. The result is 1603.
TEST_F(DriverPackageTest, ToolThatCannotStart) {
    FileHandle writer; // another program's handle
    const std::string unseparated = host::WinPath(installDir) + "System\\dpinst.exe";
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string program;
        bool calling;    // logged its command line and tried to start it
        std::string why; // after the program's path
    } cases[] = {
        // The folder named runs onto the last folder name and does not exist.
        {"install directory without its separator",
         [&] { SetInstallDir(host::WinPath(installDir)); }, unseparated, false,
         " not started: it cannot be held open (error 3)"},
        {"dpinst.exe missing", [&] { std::filesystem::remove(installDir + "/System/dpinst.exe"); },
         tool, false, " not started: it cannot be held open (error 2)"},
        {"dpinst.exe missing, and a program at the path's first blank",
         [&] {
             std::filesystem::remove(installDir + "/System/dpinst.exe");
             host::WriteHostFile(root + "/Program", "MZ planted");
         },
         tool, false, " not started: it cannot be held open (error 2)"},
        {"dpinst.exe held open for writing by another program",
         [&] {
             writer.reset(CreateFileA(tool.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
         },
         tool, false, " not started: it cannot be held open (error 32)"},
        {"the account of the action unreadable", [] { host::FailCall("GetTokenInformation"); },
         tool, false, " not started: the account it would run as cannot be read (error 5)"},
        {"the drive root's security unreadable",
         [] { host::FailCall("GetNamedSecurityInfoA", 1, ERROR_NOT_ENOUGH_MEMORY); }, tool, false,
         " not started: the security of C:\\ cannot be read (error 8)"},
        {"the tool's security unreadable", [] { host::FailCall("GetSecurityInfo"); }, tool, false,
         " not started: the security of " + tool + " cannot be read (error 5)"},
        {"an access list that cannot be walked", [] { host::FailCall("GetAce", 2); }, tool, false,
         " not started: the access list of C:\\ cannot be read (error 87)"},
        {"dpinst.exe not a program",
         [&] { host::WriteHostFile(installDir + "/System/dpinst.exe", ""); }, tool, true,
         " could not be started (error 193)"},
    };
    for (const Case& c : cases) {
        host::ClearFaults();
        host::WriteHostFile(installDir + "/System/dpinst.exe", "MZ fixture");
        SetInstallDir(host::WinPath(installDir) + "\\");
        const std::size_t logged = host::LogLines().size();
        const std::size_t launched = host::Launches().size();
        c.arrange();

        EXPECT_EQ(DIFxInstall(session), 1603u) << c.what;
        std::vector<std::string> log;
        if (c.calling)
            log.push_back(kCalling + c.program + " /SA /A /D /SW");
        log.push_back("VantorCustomAction: " + c.program + c.why);
        EXPECT_EQ(
            std::vector<std::string>(host::LogLines().begin() + logged, host::LogLines().end()),
            log)
            << c.what;
        EXPECT_EQ(host::Launches().size(), launched + (c.calling ? 1 : 0)) << c.what;
        writer.reset();
    }
}

// The platform's internal error (1359) gets one more start, with the file
// still held as checked; any other failure, or a second 1359, ends the action.
TEST_F(DriverPackageTest, OneMoreStartAfterThePlatformsInternalError) {
    const std::string retried = " could not be started, tried once more (error 1359)";
    struct Case {
        const char* what;
        int nth; // of the CreateProcessA calls to fail, 0 for all
        DWORD error;
        UINT result;
        std::vector<std::string> log; // after the command line; " ..." follows the tool's path
        std::size_t starts;
    } cases[] = {
        {"once", 1, 1359, 0, {retried, kReturned + "0x0"}, 2},
        {"twice", 0, 1359, 1603, {retried, " could not be started (error 1359)"}, 2},
        {"another error", 0, ERROR_ACCESS_DENIED, 1603, {" could not be started (error 5)"}, 1},
    };
    for (const Case& c : cases) {
        Fresh();
        std::vector<std::string> log{kCalling + tool + " /SA /A /D /SW"};
        for (const std::string& line : c.log)
            log.push_back(line[0] == ' ' ? "VantorCustomAction: " + tool + line : line);
        // Before each start, another program tries to delete the tool.
        std::vector<DWORD> deletes;
        std::function<void()> probe = [&] {
            deletes.push_back(DeleteFileA(tool.c_str()) ? DWORD(ERROR_SUCCESS) : GetLastError());
            host::BeforeCall("CreateProcessA", probe);
        };
        host::BeforeCall("CreateProcessA", probe);
        host::FailCall("CreateProcessA", c.nth, c.error);

        EXPECT_EQ(DIFxInstall(session), c.result) << c.what;
        EXPECT_EQ(host::LogLines(), log) << c.what;
        EXPECT_EQ(deletes, std::vector<DWORD>(c.starts, ERROR_SHARING_VIOLATION))
            << c.what << ": the tool is held as checked until the last start";
        EXPECT_EQ(host::Launches().size(), c.result == 0 ? 1u : 0u) << c.what;
    }
}

TEST_F(DriverPackageTest, WaitOrExitCodeFailures) {
    for (const char* api : {"WaitForSingleObject", "GetExitCodeProcess"}) {
        host::ClearFaults();
        host::FailCall(api);
        const std::size_t logged = host::LogLines().size();
        EXPECT_EQ(DIFxInstall(session), 1603u) << api;
        ASSERT_EQ(host::LogLines().size(), logged + 2) << api << ": no return-code line";
        EXPECT_EQ(host::LogLines().back().find("VantorCustomAction: DPInst.exe return code"),
                  std::string::npos)
            << api;
        EXPECT_NE(host::LogLines().back().find(": its outcome is unknown (error "),
                  std::string::npos)
            << api << ": " << host::LogLines().back();
        EXPECT_EQ(host::OpenProcessHandles(), 0) << api;
    }
}

TEST_F(DriverPackageTest, HeapFailures) {
    struct Case {
        const char* what;
        int nth;
        UINT result;
        std::size_t launches;
        std::vector<std::string> log;
    } cases[] = {
        {"no command-line buffer: nothing starts",
         1,
         1603,
         0,
         {"VantorCustomAction: @ not started: no memory for its command line (error 8)"}},
        {"no buffer for the command-line log line: the run goes on",
         2,
         3010,
         1,
         {kReturned + "0x40000001"}},
        {"no buffer for the return-code line: the result still counts",
         3,
         3010,
         1,
         {kCalling + "@"}},
    };
    for (const Case& c : cases) {
        Fresh();
        host::SetExitCode(0x40000001);
        host::FailCall("HeapAlloc", c.nth);

        EXPECT_EQ(DIFxInstall(session), c.result) << c.what;
        EXPECT_EQ(host::Launches().size(), c.launches) << c.what;
        std::vector<std::string> log = c.log;
        for (std::string& line : log) {
            if (line == kCalling + "@")
                line = kCalling + tool + " /SA /A /D /SW";
            else if (line.find("@") != std::string::npos)
                line.replace(line.find("@"), 1, tool);
        }
        EXPECT_EQ(host::LogLines(), log) << c.what;
    }
}

} // namespace

#include "sweep.h"

namespace {

void ToolInstalled(SweepScene& scene) {
    const std::string dir = host::MakeTempDir() + "/Program Files/Vantor";
    std::filesystem::create_directories(dir + "/System");
    host::WriteHostFile(dir + "/System/dpinst.exe", "MZ fixture");
    host::SetProperty("CustomActionData", "X" + host::WinPath(dir) + "\\|X3|X2.1.0");
    host::SetDeferred(true);
    host::SetExitCode(0x40000001);
    scene.watchedFiles = {dir + "/System/dpinst.exe"};
}

VANTOR_SWEEP(DIFxInstall, "restart asked", ToolInstalled, {ERROR_INSTALL_FAILURE});
// Refused: the tool's folder lets an account without a name add files
// (Everyone's right to it is taken back by the deny entry before).
VANTOR_SWEEP(
    DIFxInstall, "tool's folder open to others",
    [](SweepScene& scene) {
        ToolInstalled(scene);
        const std::string tool = scene.watchedFiles[0];
        host::Security open = host::DefaultSecurity();
        open.dacl->push_back(host::Ace{ACCESS_DENIED_ACE_TYPE, 0, FILE_ADD_FILE, "S-1-1-0"});
        open.dacl->push_back(host::Ace{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ADD_FILE, "S-1-5-21-1-1"});
        open.dacl->push_back(host::Ace{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ADD_FILE, "S-1-1-0"});
        host::SetSecurity(tool.substr(0, tool.rfind('/')), open);
    },
    {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(WinUsbUninstall, "restart asked", ToolInstalled, {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(VantorppUninstall, "restart asked", ToolInstalled, {ERROR_INSTALL_FAILURE});

} // namespace
