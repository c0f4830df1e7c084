#include "common/handles.h"
#include "host_fixture.h"
#include "patch_test_support.h"
#include "setup/patch/patch_file.h"

#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace vantor;
using namespace patchtest;

namespace {

constexpr std::uint64_t kCreated = 131000000000000000ull; // 2016, well before the test run

PatchInfo NewRecord() {
    PatchInfo record = EmptyPatchInfo();
    record.converterCode = 3001;
    record.port = 3;
    record.countryCode = 49;
    std::memcpy(record.serialNumber, "AB123", 6);
    record.version = 6017;
    return record;
}

class PatchFileTest : public HostTest {
  protected:
    std::string dir;
    std::string app;

    void SetUp() override {
        HostTest::SetUp();
        dir = host::MakeTempDir(); // after the reset, which removes temporary folders
        app = dir + "/app.exe";
    }

    void Install(const std::string& data) {
        host::WriteHostFile(app, data);
        host::SetCreationTime(app, kCreated);
    }
    bool Patch() { return WritePatchRecord(host::WinPath(app).c_str(), NewRecord()); }
};

TEST_F(PatchFileTest, RecordLayout) {
    PatchInfo record = NewRecord();
    std::memcpy(record.serialNumber, "12345678", 8);
    const std::string bytes = Bytes(record);
    ASSERT_EQ(bytes.size(), 34u);
    const unsigned char expected[34] = {
        'p',  'a',  't', 'c', 'h', '_', 'i', 'n', 'f', 'o', '3', 0, // marker
        0xB9, 0x0B, 0,   0,                                         // 3001, reserved
        0x03, 0x00, 0,   0,                                         // port 3, reserved
        0x31, 0x00, 0,   0,                                         // 49, reserved
        '1',  '2',  '3', '4', '5', '6', '7', '8',                   // no terminator
        0x81, 0x17,                                                 // 6017
    };
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(expected), 34))
        << "little-endian fields at fixed offsets";
    EXPECT_EQ(Bytes(EmptyPatchInfo()), std::string("patch_info3", 12) + std::string(22, '\0'));
}

// Where a record lies decides whether it is found; the window is 10000 bytes
// and moves by 9966.
TEST_F(PatchFileTest, WindowEdges) {
    struct Case {
        const char* what;
        std::size_t size;
        std::vector<std::size_t> records;
        bool found;
        std::size_t at;
    } cases[] = {
        {"at offset 0", 20000, {0}, true, 0},
        {"last position of the first window", 20000, {9965}, true, 9965},
        {"first position of the second window", 20000, {9966}, true, 9966},
        {"past the first window's examined positions", 20000, {9980}, true, 9980},
        {"straddling the first window's end", 20000, {9990}, true, 9990},
        {"third window", 30000, {19932 + 17}, true, 19949},
        {"ending exactly at the end of the file", 20000, {20000 - 34}, true, 20000 - 34},
        {"whole file is the record", 34, {0}, true, 0},
        {"one byte past the end of the file", 20000, {20000 - 33}, false, 0},
        {"only the marker inside the file", 20000, {20000 - 12}, false, 0},
        {"small file, record one byte short", 100, {67}, false, 0},
        {"small file, record at its end", 100, {66}, true, 66},
        {"two records: the first wins", 30000, {15000, 400}, true, 400},
        {"two records in one window", 5000, {100, 200}, true, 100},
        {"no record", 30000, {}, false, 0},
        // The file is read in pieces of kPatchReadSize: records across a seam.
        {"ending at the first piece's end",
         300000,
         {kPatchReadSize - 34},
         true,
         kPatchReadSize - 34},
        {"across the first seam", 300000, {kPatchReadSize - 17}, true, kPatchReadSize - 17},
        {"marker split by the seam", 300000, {kPatchReadSize - 6}, true, kPatchReadSize - 6},
        {"at the second piece's start", 300000, {kPatchReadSize}, true, kPatchReadSize},
        {"across the second seam", 300000, {2 * kPatchReadSize - 1}, true, 2 * kPatchReadSize - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string before = AppImage(c.size, c.records);
        Install(before);
        const std::uint64_t lastWrite = host::LastWriteTime(app);
        EXPECT_EQ(Patch(), c.found);
        // The times first: reading the file moves its access time.
        if (c.found) {
            EXPECT_EQ(host::LastWriteTime(app), kCreated);
            EXPECT_EQ(host::LastAccessTime(app), kCreated);
            EXPECT_EQ(host::CreationTime(app), kCreated);
        } else {
            EXPECT_EQ(host::LastWriteTime(app), lastWrite) << "times untouched";
        }
        const std::string after = host::ReadHostFile(app);
        ASSERT_EQ(after.size(), before.size()) << "the file never grows";
        std::string expected = before;
        if (c.found)
            expected.replace(c.at, 34, Bytes(NewRecord()));
        EXPECT_EQ(after, expected);
    }
}

// The read keeps the last 33 bytes of each piece for the next one: a record
// starting anywhere near a piece's end, or near a window's, is found and
// rewritten where it starts.
TEST_F(PatchFileTest, RecordsAroundThePieceAndWindowEdges) {
    const std::size_t edges[] = {kPatchWindowStep, 2 * kPatchWindowStep, kPatchReadSize,
                                 2 * kPatchReadSize};
    const int around[] = {-35, -34, -33, -32, -31, -1, 0, 1};
    const std::size_t size = 2 * kPatchReadSize + 1000;
    for (std::size_t edge : edges) {
        for (int offset : around) {
            const std::size_t at = edge + offset;
            SCOPED_TRACE("record at edge " + std::to_string(edge) + " " + std::to_string(offset));
            std::string expected = AppImage(size, {at});
            Install(expected);
            EXPECT_TRUE(Patch());
            expected.replace(at, 34, Bytes(NewRecord()));
            EXPECT_EQ(host::ReadHostFile(app), expected);
        }
    }
}

// A near-marker, differing from the marker in one byte (its terminating zero
// included), is never taken for a record: the real record after it is the
// one rewritten.
TEST_F(PatchFileTest, NearMarkersAreNoRecords) {
    for (std::size_t byte = 0; byte < sizeof kPatchMarker; ++byte) {
        SCOPED_TRACE("marker byte " + std::to_string(byte) + " differs");
        std::string data = AppImage(4096, {1000, 3000});
        data[1000 + byte] ^= 0x01; // "patch_info2", "patch_info3\x01", "qatch_info3", ...
        Install(data);
        ASSERT_TRUE(Patch());
        std::string expected = data;
        expected.replace(3000, 34, Bytes(NewRecord()));
        EXPECT_EQ(host::ReadHostFile(app), expected);
    }
}

TEST_F(PatchFileTest, MarkerMustEndWithItsZeroByte) {
    std::string data = AppImage(5000, {1000, 3000});
    data[1000 + 11] = '4'; // "patch_info34..."
    Install(data);
    ASSERT_TRUE(Patch());
    const std::string after = host::ReadHostFile(app);
    EXPECT_EQ(after.substr(1000, 34), data.substr(1000, 34));
    EXPECT_EQ(after.substr(3000, 34), Bytes(NewRecord()));
}

TEST_F(PatchFileTest, PatchingTwiceLeavesTheSameBytes) {
    Install(AppImage(25000, {12000}));
    ASSERT_TRUE(Patch());
    const std::string once = host::ReadHostFile(app);
    ASSERT_TRUE(Patch()) << "the marker is written back, so the record is found again";
    EXPECT_EQ(host::ReadHostFile(app), once);
}

TEST_F(PatchFileTest, FilesThatCannotBePatched) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> arrange;
    } cases[] = {
        {"missing", [](const std::string& p) { ::unlink(p.c_str()); }},
        {"empty", [](const std::string& p) { host::WriteHostFile(p, ""); }},
        {"read-only", [](const std::string& p) { host::SetReadOnly(p); }},
        {"locked by another process", [](const std::string& p) { host::LockFile(p); }},
        {"write fails", [](const std::string&) { host::FailCall("WriteFile"); }},
        {"read fails", [](const std::string&) { host::FailCall("ReadFile"); }},
        {"size unknown", [](const std::string&) { host::FailCall("GetFileSizeEx"); }},
        {"seek fails", [](const std::string&) { host::FailCall("SetFilePointerEx"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Install(AppImage(4000, {10}));
        c.arrange(app);
        const bool exists = host::FileExists(app);
        const std::string before = exists ? host::ReadHostFile(app) : "";
        const std::uint64_t lastWrite = host::LastWriteTime(app);
        EXPECT_FALSE(Patch());
        host::ClearFaults();
        host::LockFile(app, false);
        host::SetReadOnly(app, false);
        EXPECT_EQ(host::FileExists(app), exists) << "never created";
        EXPECT_EQ(host::ReadHostFile(app), before);
        EXPECT_EQ(host::LastWriteTime(app), lastWrite);
        EXPECT_EQ(host::OpenHandles(), 0);
    }
}

// Another program's handle on the freshly installed application (a virus
// scanner's, an indexer's): the record is written whenever that handle shares
// reading and writing. The exclusive time query fails then, so the times stay
// as the write leaves them.
TEST_F(PatchFileTest, ApplicationHeldOpenByAnotherProgram) {
    constexpr DWORD kFullSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    struct Case {
        const char* what;
        DWORD access;
        DWORD share;
        bool patched;
    } cases[] = {
        {"reading, full sharing", GENERIC_READ, kFullSharing, true},
        {"reading and writing, full sharing", GENERIC_READ | GENERIC_WRITE, kFullSharing, true},
        {"reading, shares reading only", GENERIC_READ, FILE_SHARE_READ, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Install(AppImage(4000, {10}));
        FileHandle held(CreateFileA(host::WinPath(app).c_str(), c.access, c.share, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held.valid());
        EXPECT_EQ(Patch(), c.patched);
        held.reset();
        EXPECT_EQ(host::ReadHostFile(app).substr(10, 34),
                  Bytes(c.patched ? NewRecord() : ShippedRecord()));
    }
}

TEST_F(PatchFileTest, UnknownCreationTimeLeavesTheTimesAlone) {
    Install(AppImage(4000, {10}));
    const std::uint64_t lastWrite = host::LastWriteTime(app);
    host::FailCall("GetFileTime");
    EXPECT_TRUE(Patch()) << "the record is still written";
    EXPECT_EQ(host::ReadHostFile(app).substr(10, 34), Bytes(NewRecord()));
    EXPECT_NE(host::LastWriteTime(app), kCreated);
    EXPECT_GE(host::LastWriteTime(app), lastWrite);
}

TEST_F(PatchFileTest, TimesThatCannotBeSetFailThePatch) {
    Install(AppImage(4000, {10}));
    host::FailCall("SetFileTime");
    EXPECT_FALSE(Patch());
    EXPECT_EQ(host::ReadHostFile(app).substr(10, 34), Bytes(NewRecord()));
}

// Whichever platform call fails, the file holds either the old record or the
// whole new one, and nothing stays open.
TEST_F(PatchFileTest, EveryFailingCallLeavesAWholeRecord) {
    const std::string shipped = AppImage(25000, {12000});
    long calls = 0;
    {
        Install(shipped);
        host::ResetCallCount();
        ASSERT_TRUE(Patch());
        calls = host::CallCount();
    }
    ASSERT_GT(calls, 6);
    for (long k = 1; k <= calls; ++k) {
        SCOPED_TRACE("call " + std::to_string(k) + " fails");
        Install(shipped);
        host::FailNthCall(k);
        const bool patched = Patch();
        host::ClearFaults();
        const std::string record = host::ReadHostFile(app).substr(12000, 34);
        EXPECT_TRUE(record == Bytes(NewRecord()) || record == Bytes(ShippedRecord()));
        if (patched) {
            EXPECT_EQ(record, Bytes(NewRecord()));
        }
        EXPECT_EQ(host::ReadHostFile(app).size(), shipped.size());
        EXPECT_EQ(host::OpenHandles(), 0);
    }
}

// Positions are 64-bit: a record beyond 2 GiB is found by the same rules.
// (The whole scan from offset 0 of such a file is the benchmark's work.)
TEST_F(PatchFileTest, RecordBeyondTwoGibibytes) {
    const long long at = (1LL << 31) + 4321;
    const long long size = at + 5000;
    {
        int fd = ::open(app.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0); // sparse: no real disk use
        const std::string record = Bytes(ShippedRecord());
        ASSERT_EQ(::pwrite(fd, record.data(), record.size(), at), ssize_t(record.size()));
        ::close(fd);
    }
    {
        FileHandle file(CreateFileA(host::WinPath(app).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.valid());
        LONGLONG found = 0;
        PatchInfo record;
        // Start a few windows before it: the windows cross the 2 GiB line.
        ASSERT_TRUE(
            FindPatchRecord(file.get(), size, at - 3 * kPatchWindowStep - 7, &found, &record));
        EXPECT_EQ(found, at);
        EXPECT_EQ(Bytes(record), Bytes(ShippedRecord()));
        EXPECT_FALSE(FindPatchRecord(file.get(), size, at + 1, &found));
    }
}

} // namespace
