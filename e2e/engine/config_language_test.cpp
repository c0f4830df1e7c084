// SetConfigLanguage on real files, called with a real installer session.
#include "engine_session.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace engine;

namespace {

const std::string kInput = "<?xml version=\"1.0\"?>\n"
                           "<configuration>\n"
                           "  <appSettings>\n"
                           "    <add key=\"Language\" value=\"fr-FR\"/>\n"
                           "    <add key=\"Port\" value=\"COM1\"/>\n"
                           "  </appSettings>\n"
                           "</configuration>";

std::uint64_t WriteTime(const std::string& path, std::uint64_t* created) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    auto join = [](const FILETIME& t) {
        return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    *created = join(data.ftCreationTime);
    return join(data.ftLastWriteTime);
}

class ConfigLanguage : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library_.loaded()) << "cannot load " << library_.path();
        ASSERT_NE(session_.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session_.openResult();
        ASSERT_TRUE(WriteText(config_, kInput));
    }
    UINT Run(const std::string& lcid) {
        EXPECT_EQ(session_.Set("CustomActionData", config_ + "|" + lcid), 0u);
        return library_.Call("SetConfigLanguage", session_.handle());
    }

    Session session_;
    ActionLibrary library_{"VantorSetup.dll"};
    ScratchDir dir_{"vantor-language"};
    std::string config_ = dir_.Make("App Folder") + "\\Rondo.exe.config";
};

TEST_F(ConfigLanguage, WritesTheCultureAfterTheOpeningLine) {
    struct Case {
        const char* lcid;
        const char* line; // null: none
    } cases[] = {
        {"1031", "\t\t<add key=\"Language\" value=\"de-DE\"/>\r\n"},
        {"2067", "\t\t<add key=\"Language\" value=\"nl-BE\"/>\r\n"},
        {"1028", "\t\t<add key=\"Language\" value=\"zh-HK\"/>\r\n"},
        {"1033", nullptr},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteText(config_, kInput));
        EXPECT_EQ(Run(c.lcid), 0u) << c.lcid;
        const std::string expected = std::string("<?xml version=\"1.0\"?>\r\n"
                                                 "<configuration>\r\n"
                                                 "  <appSettings>\r\n") +
                                     (c.line ? c.line : "") +
                                     "    <add key=\"Port\" value=\"COM1\"/>\r\n"
                                     "  </appSettings>\r\n"
                                     "</configuration>\r\n";
        EXPECT_EQ(ReadText(config_), expected) << c.lcid;
        EXPECT_FALSE(Exists(config_ + ".tmp")) << c.lcid;
    }
}

TEST_F(ConfigLanguage, TwoRunsLeaveOneSettingAndTheCreationTime) {
    std::uint64_t created = 0;
    WriteTime(config_, &created);
    ASSERT_EQ(Run("1036"), 0u);
    const std::string once = ReadText(config_);
    ASSERT_EQ(Run("1036"), 0u);
    EXPECT_EQ(ReadText(config_), once);
    std::uint64_t createdAfter = 0;
    const std::uint64_t written = WriteTime(config_, &createdAfter);
    EXPECT_EQ(createdAfter, created);
    EXPECT_EQ(written, created) << "the last write is set back to the creation time";
}

TEST_F(ConfigLanguage, UnknownLanguageAndUnwritableFileLeaveItAsItWas) {
    EXPECT_EQ(Run("1042"), 13u);
    EXPECT_EQ(ReadText(config_), kInput);

    ASSERT_TRUE(SetFileAttributesA(config_.c_str(), FILE_ATTRIBUTE_READONLY));
    // Wine keeps the attribute in the file's Unix permissions, which a
    // prefix run by root does not obey: there the file stays writable.
    HANDLE probe = CreateFileA(config_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        EXPECT_EQ(Run("1031"), 5u) << "read-only";
        EXPECT_EQ(ReadText(config_), kInput);
        EXPECT_FALSE(Exists(config_ + ".tmp"));
    } else {
        CloseHandle(probe);
        std::printf("read-only files are writable in this prefix: that case is not checked\n");
    }
    SetFileAttributesA(config_.c_str(), FILE_ATTRIBUTE_NORMAL);

    HANDLE held = CreateFileA(config_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Run("1031"), 5u) << "held open without sharing by another program";
    CloseHandle(held);
    EXPECT_EQ(ReadText(config_), kInput);
}

// A rewrite that fails once its copy exists (another program holds the file
// open without letting it be replaced) leaves the file as it was and takes
// its copy away.
TEST_F(ConfigLanguage, AFailedReplaceLeavesNoCopyBehind) {
    HANDLE held = CreateFileA(config_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    LogCapture log;
    const UINT result = Run("1031");
    CloseHandle(held);
    EXPECT_EQ(result, 5u);
    EXPECT_EQ(ReadText(config_), kInput);
    EXPECT_FALSE(Exists(config_ + ".tmp"));
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines().back(), "VantorCustomAction: " + config_ + " not changed: the copy " +
                                      config_ + ".tmp cannot replace it (error 5)");
}

// An allocation that fails for real inside the action stops it at its
// boundary: one line, the action's failure result, the file as it was and
// no copy left. A 32-bit process's address space can be used up cheaply for
// that; a 64-bit one cannot (Wine keeps a byte for every page of a
// reservation), so the 64-bit program goes without this case.
#ifndef _WIN64
// The process's free address space, reserved while the object lives
// (nothing committed, no memory used) but for one region of `spare` bytes,
// where the action's thread finds its stack. Larger allocations fail.
class AddressSpaceTaken {
  public:
    explicit AddressSpaceTaken(SIZE_T spare) {
        // Wine loads what a thread's end needs when the first thread ends;
        // with the address space taken it could not, and the action's
        // thread would end abnormally.
        HANDLE thread = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
        if (thread) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
        void* kept = VirtualAlloc(nullptr, spare, MEM_RESERVE, PAGE_NOACCESS);
        for (SIZE_T size = SIZE_T(1) << 30; size >= 0x10000; size /= 2) {
            while (void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS))
                blocks_.push_back(block);
        }
        if (kept)
            VirtualFree(kept, 0, MEM_RELEASE);
    }
    ~AddressSpaceTaken() {
        for (void* block : blocks_)
            VirtualFree(block, 0, MEM_RELEASE);
    }
    AddressSpaceTaken(const AddressSpaceTaken&) = delete;
    AddressSpaceTaken& operator=(const AddressSpaceTaken&) = delete;

  private:
    static DWORD WINAPI Nothing(LPVOID) { return 0; }

    std::vector<void*> blocks_;
};

TEST_F(ConfigLanguage, RunningOutOfMemoryStopsTheActionAtItsBoundary) {
    // One line of 32 MiB, which the action holds whole while it reads it.
    const std::string oneLine(32 << 20, 'x');
    ASSERT_TRUE(WriteText(config_, oneLine));
    ASSERT_EQ(session_.Set("CustomActionData", config_ + "|1031"), 0u);
    LogCapture log;
    UINT result = 0;
    {
        AddressSpaceTaken taken(8 << 20);
        result = library_.Call("SetConfigLanguage", session_.handle());
    }
    EXPECT_EQ(result, 1603u);
    EXPECT_TRUE(ReadText(config_) == oneLine) << "the file was changed";
    EXPECT_FALSE(Exists(config_ + ".tmp"));
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(
        log.lines().back(),
        "VantorCustomAction: SetConfigLanguage: stopped by an internal error (out of memory)");
}
#endif

TEST_F(ConfigLanguage, DataWithoutAFieldTouchesNothing) {
    for (const char* data : {"", "|||"}) {
        ASSERT_EQ(session_.Set("CustomActionData", data), 0u);
        EXPECT_EQ(library_.Call("SetConfigLanguage", session_.handle()), 13u) << data;
    }
    EXPECT_EQ(ReadText(config_), kInput);
}

} // namespace
