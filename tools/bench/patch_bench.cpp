// The patch benchmark: how fast the record search and rewrite goes through a
// big file compared with a plain sequential read of it, and how much memory
// it takes. Run by "./run bench"; not a test.
//
//   patch_bench make FILE BYTES        writes FILE with one record 4000 bytes before its end
//   patch_bench throughput FILE ROUNDS  best of ROUNDS: plain read, then scan and patch
//   patch_bench memory FILE            scan and patch once, then the process's peak memory
#include "platform/host/control.h"
#include "setup/patch/patch_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace vantor;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

int Make(const char* path, long long bytes) {
    const int fd = ::open(path, O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0)
        return 2;
    // Pseudo-random contents: a marker's first byte every 256 bytes or so,
    // as in real executables, rather than an easy run of zeros.
    std::vector<char> block(1 << 20);
    std::uint32_t state = 12345;
    for (char& c : block) {
        state = state * 1664525u + 1013904223u;
        c = char(state >> 24);
    }
    for (long long written = 0; written < bytes;) {
        const long long chunk = std::min<long long>(bytes - written, block.size());
        if (::write(fd, block.data(), size_t(chunk)) != chunk)
            return 2;
        written += chunk;
    }
    const PatchInfo record = EmptyPatchInfo();
    if (::pwrite(fd, &record, sizeof record, bytes - 4000) != ssize_t(sizeof record))
        return 2;
    ::close(fd);
    return 0;
}

PatchInfo BenchRecord() {
    PatchInfo record = EmptyPatchInfo();
    record.converterCode = 3001;
    record.port = 3;
    record.countryCode = 49;
    std::memcpy(record.serialNumber, "BENCH", 6);
    record.version = 6017;
    return record;
}

// A plain sequential read in pieces of the size the patcher reads (and cat).
bool PlainRead(const char* path, long long* bytes) {
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0)
        return false;
    static char buffer[kPatchReadSize];
    *bytes = 0;
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        *bytes += n;
    ::close(fd);
    return true;
}

int Throughput(const char* path, int rounds) {
    host::KeepCallLog(false);
    long long bytes = 0;
    if (!PlainRead(path, &bytes)) // also brings the file into the cache
        return 2;
    double plainBest = 1e9, patchBest = 1e9;
    for (int i = 0; i < rounds; ++i) {
        Clock::time_point start = Clock::now();
        PlainRead(path, &bytes);
        plainBest = std::min(plainBest, Seconds(start));
        start = Clock::now();
        if (!WritePatchRecord(path, BenchRecord())) {
            std::fprintf(stderr, "patch_bench: no record patched in %s\n", path);
            return 1;
        }
        patchBest = std::min(patchBest, Seconds(start));
    }
    const double mib = double(bytes) / (1 << 20);
    std::printf("plain read      %8.0f MiB/s  (%u KiB reads)\n", mib / plainBest,
                unsigned(kPatchReadSize / 1024));
    std::printf("scan and patch  %8.0f MiB/s\n", mib / patchBest);
    std::printf("ratio           %8.2f  (target at least 0.80)\n", plainBest / patchBest);
    return 0;
}

int Memory(const char* path) {
    host::KeepCallLog(false);
    if (!WritePatchRecord(path, BenchRecord()))
        return 1;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld\n", usage.ru_maxrss); // KiB
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 4)
        return Make(argv[2], std::atoll(argv[3]));
    if (mode == "throughput" && argc == 4)
        return Throughput(argv[2], std::atoi(argv[3]));
    if (mode == "memory" && argc == 3)
        return Memory(argv[2]);
    std::fprintf(stderr,
                 "usage: patch_bench make FILE BYTES | throughput FILE ROUNDS | memory FILE\n");
    return 2;
}
