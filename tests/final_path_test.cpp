#include "common/handles.h"
#include "common/paths.h"
#include "host_fixture.h"

#include <filesystem>
#include <functional>
#include <string>

using namespace vantor;

namespace {

class FinalPathTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        dir = host::MakeTempDir();
        outside = host::MakeTempDir();
        std::filesystem::create_directories(dir + "/Program Files/Vantor");
        std::filesystem::create_directories(outside + "/elsewhere");
        host::WriteHostFile(dir + "/Program Files/Vantor/app.exe", "app");
        host::WriteHostFile(outside + "/elsewhere/app.exe", "other");
    }

    static FileHandle Open(const std::string& hostPath, DWORD flags = 0) {
        return FileHandle(CreateFileA(host::WinPath(hostPath).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | flags, nullptr));
    }

    std::string dir;
    std::string outside;
};

// What a handle opened at one path says about the path an action meant.
TEST_F(FinalPathTest, ComparesTheOpenedFileWithTheIntendedPath) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string opened;   // host path opened
        std::string intended; // as the action names it ("@" stands for the folder)
        DWORD flags;
        FinalPathCheck::Kind kind;
        std::string finalPath; // for kDiffers: host path of the file reached
    } cases[] = {
        {"plain file", [] {}, "/Program Files/Vantor/app.exe", "@\\Program Files\\Vantor\\app.exe",
         0, FinalPathCheck::kSame, ""},
        {"other case of the letters", [] {}, "/Program Files/Vantor/app.exe",
         "@\\PROGRAM FILES\\vantor\\APP.EXE", 0, FinalPathCheck::kSame, ""},
        {"another file", [] {}, "/Program Files/Vantor/app.exe", "@\\Program Files\\Vantor\\b.exe",
         0, FinalPathCheck::kDiffers, "/Program Files/Vantor/app.exe"},
        {"a longer name that starts the same", [] {}, "/Program Files/Vantor/app.exe",
         "@\\Program Files\\Vantor\\app.ex", 0, FinalPathCheck::kDiffers,
         "/Program Files/Vantor/app.exe"},
        {"link at the last name, followed",
         [this] {
             host::PlantLink(dir + "/Program Files/Vantor/l.exe", outside + "/elsewhere/app.exe");
         },
         "/Program Files/Vantor/l.exe", "@\\Program Files\\Vantor\\l.exe", 0,
         FinalPathCheck::kDiffers, "outside:/elsewhere/app.exe"},
        {"link at the last name, opened itself",
         [this] {
             host::PlantLink(dir + "/Program Files/Vantor/l.exe", outside + "/elsewhere/app.exe");
         },
         "/Program Files/Vantor/l.exe", "@\\Program Files\\Vantor\\l.exe",
         FILE_FLAG_OPEN_REPARSE_POINT, FinalPathCheck::kSame, ""},
        {"junction in a middle folder",
         [this] { host::PlantLink(dir + "/Program Files/Junction", outside + "/elsewhere"); },
         "/Program Files/Junction/app.exe", "@\\Program Files\\Junction\\app.exe", 0,
         FinalPathCheck::kDiffers, "outside:/elsewhere/app.exe"},
        {"junction in a middle folder, file opened as a link",
         [this] { host::PlantLink(dir + "/Program Files/Junction", outside + "/elsewhere"); },
         "/Program Files/Junction/app.exe", "@\\Program Files\\Junction\\app.exe",
         FILE_FLAG_OPEN_REPARSE_POINT, FinalPathCheck::kDiffers, "outside:/elsewhere/app.exe"},
        {"junction leading to a second junction",
         [this] {
             std::filesystem::create_directories(outside + "/hop");
             host::PlantLink(outside + "/hop/next", outside + "/elsewhere");
             host::PlantLink(dir + "/Program Files/Junction", outside + "/hop");
         },
         "/Program Files/Junction/next/app.exe", "@\\Program Files\\Junction\\next\\app.exe", 0,
         FinalPathCheck::kDiffers, "outside:/elsewhere/app.exe"},
        {"junction back into the same folder",
         [this] { host::PlantLink(dir + "/Program Files/Again", dir + "/Program Files/Vantor"); },
         "/Program Files/Again/app.exe", "@\\Program Files\\Again\\app.exe", 0,
         FinalPathCheck::kDiffers, "/Program Files/Vantor/app.exe"},
        {"short names of folders",
         [this] {
             host::SetShortName(dir + "/Program Files", "PROGRA~1");
             host::SetShortName(dir + "/Program Files/Vantor", "VANTOR~1");
         },
         "/Program Files/Vantor/app.exe", "@\\PROGRA~1\\vantor~1\\app.exe", 0,
         FinalPathCheck::kSame, ""},
        {"short name of a junction",
         [this] {
             host::PlantLink(dir + "/Program Files/Junction", outside + "/elsewhere");
             host::SetShortName(dir + "/Program Files/Junction", "JUNCTI~1");
         },
         "/Program Files/Junction/app.exe", "@\\Program Files\\JUNCTI~1\\app.exe", 0,
         FinalPathCheck::kDiffers, "outside:/elsewhere/app.exe"},
        {"the final path cannot be read",
         [] { host::FailCall("GetFinalPathNameByHandleA", 0, ERROR_INVALID_HANDLE); },
         "/Program Files/Vantor/app.exe", "@\\Program Files\\Vantor\\app.exe", 0,
         FinalPathCheck::kUnknown, ""},
    };
    for (const Case& c : cases) {
        host::ClearFaults();
        std::filesystem::remove(dir + "/Program Files/Vantor/l.exe");
        std::filesystem::remove(dir + "/Program Files/Junction");
        std::filesystem::remove(dir + "/Program Files/Again");
        std::filesystem::remove_all(outside + "/hop");
        c.arrange();
        FileHandle file = Open(dir + c.opened, c.flags);
        ASSERT_TRUE(file) << c.what;
        std::string intended = c.intended;
        intended.replace(0, 1, host::WinPath(dir));
        const FinalPathCheck check = CheckFinalPath(file.get(), intended.c_str());
        EXPECT_EQ(check.kind, c.kind) << c.what;
        if (c.kind == FinalPathCheck::kDiffers) {
            const std::string reached = c.finalPath.rfind("outside:", 0) == 0
                                            ? outside + c.finalPath.substr(8)
                                            : dir + c.finalPath;
            EXPECT_EQ(check.finalPath, host::WinPath(reached)) << c.what;
            EXPECT_EQ(FinalPathRefusal(check), "its final path is " + host::WinPath(reached))
                << c.what;
        } else if (c.kind == FinalPathCheck::kUnknown) {
            EXPECT_EQ(FinalPathRefusal(check), "its final path cannot be read (error 6)") << c.what;
        } else {
            EXPECT_EQ(FinalPathRefusal(check), "") << c.what;
        }
    }
}

// A path longer than the first buffer is read whole.
TEST_F(FinalPathTest, LongPathsAreReadWhole) {
    std::string deep = dir;
    std::string intended = host::WinPath(dir);
    for (int i = 0; i < 12; ++i) {
        deep += "/folder-with-a-rather-long-name-" + std::to_string(i);
        intended += "\\folder-with-a-rather-long-name-" + std::to_string(i);
    }
    std::filesystem::create_directories(deep);
    host::WriteHostFile(deep + "/app.exe", "app");
    ASSERT_GT(intended.size(), std::size_t(MAX_PATH));
    FileHandle file = Open(deep + "/app.exe");
    ASSERT_TRUE(file);
    EXPECT_EQ(CheckFinalPath(file.get(), (intended + "\\app.exe").c_str()).kind,
              FinalPathCheck::kSame);
    EXPECT_EQ(CheckFinalPath(file.get(), (intended + "\\app.ex").c_str()).kind,
              FinalPathCheck::kDiffers);
}

// The stand-in answers as Windows does: the volume forms, the room asked for
// when the buffer is too small (terminator included), the length written
// otherwise (without it), and a refusal of unknown flags.
TEST_F(FinalPathTest, StandInAnswersAsThePlatformDoes) {
    FileHandle file = Open(dir + "/Program Files/Vantor/app.exe");
    ASSERT_TRUE(file);
    const std::string inVolume = host::WinPath(dir).substr(2) + "\\Program Files\\Vantor\\app.exe";
    struct Case {
        DWORD flags;
        std::string text; // empty: refused with 87
    } cases[] = {
        {FILE_NAME_NORMALIZED | VOLUME_NAME_DOS, "\\\\?\\C:" + inVolume},
        {FILE_NAME_OPENED | VOLUME_NAME_DOS, "\\\\?\\C:" + inVolume},
        {VOLUME_NAME_NONE, inVolume},
        {VOLUME_NAME_NT, "\\Device\\HarddiskVolume1" + inVolume},
        {VOLUME_NAME_GUID, "\\\\?\\Volume{7a1c5e2b-0000-0000-0000-100000000000}" + inVolume},
        {0x3, ""},
        {0x10, ""},
    };
    for (const Case& c : cases) {
        char small[8];
        const DWORD needed = GetFinalPathNameByHandleA(file.get(), small, sizeof small, c.flags);
        if (c.text.empty()) {
            EXPECT_EQ(needed, 0u) << c.flags;
            EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << c.flags;
            continue;
        }
        EXPECT_EQ(needed, c.text.size() + 1) << c.flags;
        std::string buffer(needed, 'x');
        EXPECT_EQ(GetFinalPathNameByHandleA(file.get(), &buffer[0], needed, c.flags), c.text.size())
            << c.flags;
        EXPECT_EQ(buffer.c_str(), c.text) << c.flags;
    }
    EXPECT_EQ(GetFinalPathNameByHandleA(INVALID_HANDLE_VALUE, nullptr, 0, 0), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

} // namespace
