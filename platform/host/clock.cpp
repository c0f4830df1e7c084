// Virtual time: waits cost no real time, and tests read how long an action
// slept instead of measuring it.
#include "platform/host/internal.h"

#include <cstdio>
#include <cstdlib>

namespace host {

namespace {

struct Clock {
    DWORD now = 0;
    DWORD step = 0;
    std::vector<DWORD> sleeps;
    std::uint64_t slept = 0;
    long ticks = 0;
};

Clock& C() {
    static Clock clock;
    return clock;
}

Area area(
    "clock", [] { C() = Clock{}; }, nullptr);

// A loop that waits on the clock forever would hang the test run instead of
// failing it: far more waiting than any action may do ends the process.
void Runaway(const char* what) {
    std::fprintf(stderr, "host clock: %s called without end; a wait never finishes\n", what);
    std::abort();
}

constexpr long kRunaway = 1000000;

} // namespace

void SetTickCount(DWORD now) {
    C().now = now;
}

void SetTickStep(DWORD milliseconds) {
    C().step = milliseconds;
}

const std::vector<DWORD>& Sleeps() {
    return C().sleeps;
}

std::uint64_t SleptMilliseconds() {
    return C().slept;
}

} // namespace host

using namespace host;

extern "C" DWORD WINAPI GetTickCount(void) {
    ShouldFail("GetTickCount"); // counted, never made to fail
    if (++C().ticks > kRunaway)
        Runaway("GetTickCount");
    DWORD now = C().now;
    C().now += C().step; // wraps as the real count does
    return now;
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds) {
    ShouldFail("Sleep"); // counted, never made to fail
    if (C().sleeps.size() > std::size_t(kRunaway))
        Runaway("Sleep");
    C().sleeps.push_back(dwMilliseconds);
    C().slept += dwMilliseconds;
    C().now += dwMilliseconds;
}
