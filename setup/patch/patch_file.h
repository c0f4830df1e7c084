// The PatchInfo record that every application of the family carries in its
// executable, and the file work that finds and rewrites it. This unit uses
// only the platform's file functions, so that the support tool (tools/patchinfo)
// builds it unchanged and reads and writes records exactly as the actions do.
#pragma once

#include "common/file_times.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

namespace vantor {

// A binary format shared with the applications: 34 bytes, no padding,
// integers little-endian. The reserved pairs are never written; they are zero
// because a record is cleared before it is filled.
struct PatchInfo {
    char marker[12]; // "patch_info3" and its zero byte
    std::uint16_t converterCode;
    std::uint16_t reserved1;
    std::uint16_t port;
    std::uint16_t reserved2;
    std::uint16_t countryCode;
    std::uint16_t reserved3;
    char serialNumber[8]; // zero-terminated unless all 8 characters are used
    std::uint16_t version;
};

static_assert(sizeof(PatchInfo) == 34, "the record is 34 bytes");
static_assert(offsetof(PatchInfo, marker) == 0, "marker at 0");
static_assert(offsetof(PatchInfo, converterCode) == 12, "converterCode at 12");
static_assert(offsetof(PatchInfo, reserved1) == 14, "reserved at 14");
static_assert(offsetof(PatchInfo, port) == 16, "port at 16");
static_assert(offsetof(PatchInfo, reserved2) == 18, "reserved at 18");
static_assert(offsetof(PatchInfo, countryCode) == 20, "countryCode at 20");
static_assert(offsetof(PatchInfo, reserved3) == 22, "reserved at 22");
static_assert(offsetof(PatchInfo, serialNumber) == 24, "serialNumber at 24");
static_assert(offsetof(PatchInfo, version) == 32, "version at 32");
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "PatchInfo is copied to and from files as it lies in memory: little-endian targets only"
#endif

// The marker with its zero byte: all 12 bytes must match.
constexpr char kPatchMarker[12] = "patch_info3";
constexpr std::size_t kPatchRecordSize = sizeof(PatchInfo);
// Records are looked for in windows of 10000 bytes whose starts move by 9966,
// so that successive windows overlap by one record: every position whose
// whole record lies in the file is examined once, in file order, and the
// first match wins. The file itself is read as a stream in aligned pieces of
// 128 KiB, carrying the last 33 bytes of each piece into the next, which
// examines exactly the same positions in the same order: reads of 10000
// bytes at unaligned offsets cost the operating system several times the
// copy itself. The buffer is the same size whatever the file's.
constexpr DWORD kPatchWindowSize = 10000;
constexpr DWORD kPatchWindowStep = kPatchWindowSize - kPatchRecordSize; // 9966
constexpr DWORD kPatchReadSize = 128 * 1024;

// A cleared record carrying the marker.
PatchInfo EmptyPatchInfo();

// Finds the first record at or after file position from. A position matches
// only when its 12 bytes are the marker and the whole 34-byte record lies
// inside the file (fileSize): a marker too near the end is no record, so
// nothing is ever written past the end. On a match, *at
// gets its position and *found (when given) its bytes. False without a match
// or when the file cannot be read.
bool FindPatchRecord(HANDLE file, LONGLONG fileSize, LONGLONG from, LONGLONG* at,
                     PatchInfo* found = nullptr);

// Where writing a record stopped, and the platform's code for it.
struct PatchWriteFailure {
    enum Step {
        kNone,     // written, times set back
        kOpen,     // the file cannot be opened for writing (missing, in use, read-only)
        kRead,     // the file cannot be read through
        kNoRecord, // the file holds no whole record
        kWrite,    // the record cannot be written; the file is as it was
        kTimes,    // the record is written, but the times cannot be set back
    };
    Step step = kNone;
    DWORD error = 0;
};

// Opens the file at path for writing a record: read and write access, shared
// for reading and writing, existing file only; flags join
// FILE_ATTRIBUTE_NORMAL (FILE_FLAG_OPEN_REPARSE_POINT opens a link itself).
HANDLE OpenForPatching(LPCSTR path, DWORD flags);

// Writes record over the first record in the open file (opened as
// OpenForPatching opens it), then sets the file's creation, last-access and
// last-write times to the creation time it had before. True when the record
// was written and the times were set (or left alone because the creation
// time could not be read). False when the file holds no whole record or the
// write fails; the times are not touched then. The file never grows.
// failure, when given, tells where a false answer comes from.
bool WritePatchRecord(HANDLE file, const PatchInfo& record, PatchWriteFailure* failure = nullptr);

// The same for the file at path, opened here (kOpen when it cannot be).
bool WritePatchRecord(LPCSTR path, const PatchInfo& record, PatchWriteFailure* failure = nullptr);

} // namespace vantor
