// Call counting, fault injection and the reset of every area.
#include "platform/host/internal.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <new>

namespace host {

namespace {

struct AreaEntry {
    const char* name;
    void (*reset)();
    int (*openHandles)();
};

std::vector<AreaEntry>& Areas() {
    static std::vector<AreaEntry> areas;
    return areas;
}

struct NamedFault {
    std::string api;
    int nth; // 0: every call
    DWORD error;
    int seen = 0;
};

struct Hook {
    std::string api;
    std::function<void()> what;
};

struct FaultState {
    std::vector<NamedFault> named;
    std::vector<Hook> hooks;
    bool inHook = false;
    long failAt = 0;  // k-th call of any kind, 0: none
    long throwAt = 0; // k-th call of any kind throws, 0: none
    DWORD failAtError = 0;
    long calls = 0;
    long injected = 0;
    std::vector<std::string> log;
    bool keepLog = true;
};

FaultState& Faults() {
    static FaultState state;
    return state;
}

} // namespace

Area::Area(const char* name, void (*reset)(), int (*openHandles)()) {
    Areas().push_back({name, reset, openHandles});
}

void Reset() {
    for (const AreaEntry& area : Areas())
        area.reset();
    Faults() = FaultState{};
}

void FailCall(const std::string& api, int nth, DWORD error) {
    Faults().named.push_back({api, nth, error});
}

void BeforeCall(const std::string& api, std::function<void()> what) {
    Faults().hooks.push_back({api, std::move(what)});
}

void FailNthCall(long k, DWORD error) {
    Faults().failAt = Faults().calls + k;
    Faults().failAtError = error;
}

void ThrowAtNthCall(long k) {
    Faults().throwAt = Faults().calls + k;
}

long CallCount() {
    return Faults().calls;
}

void ResetCallCount() {
    Faults().calls = 0;
    Faults().log.clear();
}

const std::vector<std::string>& CallLog() {
    return Faults().log;
}

void KeepCallLog(bool keep) {
    Faults().keepLog = keep;
}

long FaultsInjected() {
    return Faults().injected;
}

void ClearFaults() {
    Faults().named.clear();
    Faults().failAt = 0;
    Faults().throwAt = 0;
}

bool ShouldFail(const char* api, DWORD* error) {
    FaultState& f = Faults();
    ++f.calls;
    if (f.keepLog)
        f.log.emplace_back(api);
    if (!f.inHook) {
        auto hook = std::find_if(f.hooks.begin(), f.hooks.end(),
                                 [api](const Hook& h) { return h.api == api; });
        if (hook != f.hooks.end()) {
            std::function<void()> what = std::move(hook->what);
            f.hooks.erase(hook);
            f.inHook = true;
            what();
            f.inHook = false;
        }
    }
    // Releases run in destructors, where a throw would end the process.
    static const char* const kReleases[] = {"CloseHandle",        "MsiCloseHandle", "RegCloseKey",
                                            "CloseServiceHandle", "HeapFree",       "LocalFree"};
    if (f.throwAt && f.calls >= f.throwAt &&
        std::none_of(std::begin(kReleases), std::end(kReleases),
                     [api](const char* release) { return std::strcmp(api, release) == 0; })) {
        f.throwAt = 0;
        ++f.injected;
        throw std::bad_alloc();
    }
    bool fail = false;
    DWORD code = 0;
    if (f.failAt && f.calls == f.failAt) {
        fail = true;
        code = f.failAtError;
    }
    for (NamedFault& n : f.named) {
        if (n.api != api)
            continue;
        ++n.seen;
        if (n.nth == 0 || n.seen == n.nth) {
            fail = true;
            code = n.error;
        }
    }
    if (fail)
        ++f.injected;
    if (error)
        *error = code;
    return fail;
}

int OpenHandles() {
    int open = 0;
    for (const AreaEntry& area : Areas())
        open += area.openHandles ? area.openHandles() : 0;
    return open;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return Lower(a) == Lower(b);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string HostPath(const char* windowsPath) {
    std::string path = windowsPath ? windowsPath : "";
    // Drive C: (any letter) is the host's root.
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
        (path[2] == '\\' || path[2] == '/'))
        path.erase(0, 2);
    std::replace(path.begin(), path.end(), '\\', '/');
    return ExpandShortNames(path);
}

} // namespace host
