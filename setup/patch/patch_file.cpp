#include "setup/patch/patch_file.h"

#include "common/handles.h"

#include <cstring>
#include <memory>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vantor {

PatchInfo EmptyPatchInfo() {
    PatchInfo record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.marker, kPatchMarker, sizeof record.marker);
    return record;
}

namespace {

// The first position in [begin, end) where the 12 marker bytes start; the
// bytes up to end + 11 must be readable.
const char* FindMarkerBytewise(const char* p, const char* end) {
    while (p < end) {
        p = static_cast<const char*>(std::memchr(p, kPatchMarker[0], std::size_t(end - p)));
        if (!p)
            return nullptr;
        if (std::memcmp(p, kPatchMarker, sizeof kPatchMarker) == 0)
            return p;
        ++p;
    }
    return nullptr;
}

#if defined(__x86_64__)
// Most positions are ruled out by two bytes, the marker's first and its
// terminating zero, compared for a whole vector of positions at once; the
// rare candidate is then compared whole. Four vectors share one test.
#define VANTOR_MARKER_SEARCH(Vector, Load, Splat, Equal, And, Or, Mask)                            \
    constexpr int kLanes = int(sizeof(Vector));                                                    \
    const Vector first = Splat(kPatchMarker[0]);                                                   \
    const Vector last = Splat(kPatchMarker[11]);                                                   \
    const char* p = begin;                                                                         \
    for (; end - p >= 4 * kLanes; p += 4 * kLanes) {                                               \
        Vector c[4];                                                                               \
        for (int i = 0; i < 4; ++i) {                                                              \
            const char* q = p + i * kLanes;                                                        \
            c[i] = And(Equal(Load(reinterpret_cast<const Vector*>(q)), first),                     \
                       Equal(Load(reinterpret_cast<const Vector*>(q + 11)), last));                \
        }                                                                                          \
        if (Mask(Or(Or(c[0], c[1]), Or(c[2], c[3]))) == 0)                                         \
            continue;                                                                              \
        for (int i = 0; i < 4; ++i) {                                                              \
            for (unsigned mask = unsigned(Mask(c[i])); mask; mask &= mask - 1) {                   \
                const char* at = p + i * kLanes + __builtin_ctz(mask);                             \
                if (std::memcmp(at + 1, kPatchMarker + 1, 10) == 0)                                \
                    return at;                                                                     \
            }                                                                                      \
        }                                                                                          \
    }                                                                                              \
    return FindMarkerBytewise(p, end);

const char* FindMarkerSse2(const char* begin, const char* end) {
    VANTOR_MARKER_SEARCH(__m128i, _mm_loadu_si128, _mm_set1_epi8, _mm_cmpeq_epi8, _mm_and_si128,
                         _mm_or_si128, _mm_movemask_epi8)
}

__attribute__((target("avx2"))) const char* FindMarkerAvx2(const char* begin, const char* end) {
    VANTOR_MARKER_SEARCH(__m256i, _mm256_loadu_si256, _mm256_set1_epi8, _mm256_cmpeq_epi8,
                         _mm256_and_si256, _mm256_or_si256, _mm256_movemask_epi8)
}
#undef VANTOR_MARKER_SEARCH
#endif

const char* FindMarker(const char* begin, const char* end) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? FindMarkerAvx2(begin, end) : FindMarkerSse2(begin, end);
#else
    return FindMarkerBytewise(begin, end);
#endif
}

} // namespace

bool FindPatchRecord(HANDLE file, LONGLONG fileSize, LONGLONG from, LONGLONG* at,
                     PatchInfo* found) {
    // The carried bytes sit just before the read area, which starts 64 bytes
    // into the buffer: the operating system copies faster to aligned memory.
    constexpr DWORD kCarry = kPatchRecordSize - 1;
    constexpr DWORD kReadArea = 64;
    std::unique_ptr<char[]> buffer(new char[kReadArea + kPatchReadSize]);
    char* const readArea = buffer.get() + kReadArea;
    if (from < 0 || from >= fileSize)
        return false;
    LARGE_INTEGER position;
    position.QuadPart = from;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
        return false;
    // Positions are 64-bit, so executables of 2 GiB and more are read by the
    // same rules. next: the file position of the next read.
    LONGLONG next = from;
    DWORD kept = 0; // bytes before readArea whose record was not yet wholly read
    while (next < fileSize) {
        LONGLONG want = kPatchReadSize - next % kPatchReadSize; // aligned after the first
        if (want > fileSize - next)
            want = fileSize - next;
        DWORD got = 0;
        if (!ReadFile(file, readArea, DWORD(want), &got, nullptr))
            return false;
        if (got == 0)
            break;
        const char* const begin = readArea - kept; // file position next - kept
        const DWORD filled = kept + got;
        if (filled >= kPatchRecordSize) {
            // Positions up to filled - 34 have their whole record in the buffer.
            if (const char* match = FindMarker(begin, begin + (filled - kCarry))) {
                *at = next - kept + (match - begin);
                if (found)
                    std::memcpy(found, match, sizeof *found);
                return true;
            }
        }
        next += got;
        const DWORD keep = filled < kCarry ? filled : kCarry;
        std::memmove(readArea - keep, begin + (filled - keep), keep);
        kept = keep;
        if (got < want)
            break; // the file ended early
    }
    return false;
}

namespace {

// The platform's code is taken at the failing call, before any handle closes.
bool OverwriteFirstRecord(HANDLE file, const PatchInfo& record, PatchWriteFailure* failure) {
    const auto fail = [failure](PatchWriteFailure::Step step, DWORD error) {
        failure->step = step;
        failure->error = error;
        return false;
    };
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return fail(PatchWriteFailure::kRead, GetLastError());
    if (size.QuadPart <= 0)
        return fail(PatchWriteFailure::kNoRecord, 0);
    LONGLONG at = 0;
    // The search answers no for a file it cannot read as well: a code set
    // meanwhile tells the two apart.
    SetLastError(ERROR_SUCCESS);
    if (!FindPatchRecord(file, size.QuadPart, 0, &at)) {
        const DWORD error = GetLastError();
        return fail(error ? PatchWriteFailure::kRead : PatchWriteFailure::kNoRecord, error);
    }
    LARGE_INTEGER position;
    position.QuadPart = at;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
        return fail(PatchWriteFailure::kWrite, GetLastError());
    DWORD written = 0;
    if (!WriteFile(file, &record, DWORD(sizeof record), &written, nullptr))
        return fail(PatchWriteFailure::kWrite, GetLastError());
    if (written != sizeof record)
        return fail(PatchWriteFailure::kWrite, ERROR_WRITE_FAULT);
    return true;
}

} // namespace

HANDLE OpenForPatching(LPCSTR path, DWORD flags) {
    // Shared for reading and writing, as a stream open shares it: another
    // program's handle on the freshly installed file (a virus scanner's, an
    // indexer's) does not keep the record from being written.
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

bool WritePatchRecord(HANDLE file, const PatchInfo& record, PatchWriteFailure* failure) {
    PatchWriteFailure outcome;
    // The creation time is read before the file changes: afterwards all three
    // times are set back to it, so the installed file looks untouched.
    const FILETIME created = ReadCreationTime(file);
    if (OverwriteFirstRecord(file, record, &outcome) && !SetAllTimes(file, created)) {
        outcome.step = PatchWriteFailure::kTimes;
        outcome.error = GetLastError();
    }
    if (failure)
        *failure = outcome;
    return outcome.step == PatchWriteFailure::kNone;
}

bool WritePatchRecord(LPCSTR path, const PatchInfo& record, PatchWriteFailure* failure) {
    FileHandle file(OpenForPatching(path, 0));
    if (!file) {
        if (failure) {
            failure->step = PatchWriteFailure::kOpen;
            failure->error = GetLastError();
        }
        return false;
    }
    return WritePatchRecord(file.get(), record, failure);
}

} // namespace vantor
