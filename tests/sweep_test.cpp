#include "sweep.h"

#include "host_fixture.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <regex>

std::vector<SweepCase>& SweepCases() {
    static std::vector<SweepCase> cases;
    return cases;
}

namespace {

long sweptScenarios = 0;
long injectedRuns = 0;

// One line for the test report: how much the sweep did.
class SweepReport : public ::testing::Environment {
  public:
    void TearDown() override {
        if (sweptScenarios)
            std::printf("sweep: %ld runs with an injected fault over %ld scenarios\n", injectedRuns,
                        sweptScenarios);
    }
};
::testing::Environment* const report = ::testing::AddGlobalTestEnvironment(new SweepReport);

using Snapshot = std::map<std::string, std::optional<std::string>>;

Snapshot Take(const SweepScene& scene) {
    Snapshot files;
    for (const std::string& path : scene.watchedFiles)
        files[path] = host::FileExists(path) ? std::optional<std::string>(host::ReadHostFile(path))
                                             : std::nullopt;
    return files;
}

// Contents only: paths differ between runs (each run has its own folder), so
// files are compared in the order the scenario lists them.
std::vector<std::optional<std::string>> Contents(const Snapshot& snapshot,
                                                 const SweepScene& scene) {
    std::vector<std::optional<std::string>> contents;
    for (const std::string& path : scene.watchedFiles)
        contents.push_back(snapshot.at(path));
    return contents;
}

struct Prepared {
    SweepScene scene;
    std::vector<std::optional<std::string>> before;
};

Prepared Prepare(const SweepCase& c) {
    host::Reset();
    Prepared p;
    p.scene.session = host::OpenSession();
    c.setup(p.scene);
    p.before = Contents(Take(p.scene), p.scene);
    host::ResetCallCount();
    return p;
}

class Sweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(Sweep, EveryInjectedFaultEndsCleanly) {
    const SweepCase& c = GetParam();

    Prepared clean = Prepare(c);
    const UINT cleanResult = c.entry(clean.scene.session);
    const long calls = host::CallCount();
    const auto after = Contents(Take(clean.scene), clean.scene);
    ASSERT_EQ(host::OpenHandles(), 0) << "the clean run leaves handles open";
    ASSERT_GT(calls, 0) << "the action makes no platform call";

    ++sweptScenarios;
    for (long k = 1; k <= calls; ++k) {
        ++injectedRuns;
        Prepared run = Prepare(c);
        host::FailNthCall(k);
        const UINT result = c.entry(run.scene.session);
        const std::string call = k <= long(host::CallLog().size()) ? host::CallLog()[k - 1] : "?";
        const std::string where =
            "call " + std::to_string(k) + " of " + std::to_string(calls) + " (" + call + ") failed";
        EXPECT_TRUE(result == cleanResult || c.allowed.count(result))
            << where << ": result " << result;
        EXPECT_EQ(host::OpenHandles(), 0) << where << ": handles or heap blocks left open";
        const auto now = Contents(Take(run.scene), run.scene);
        EXPECT_TRUE(now == run.before || now == after)
            << where << ": files neither as before nor as after a complete run";
    }
    host::Reset();
}

// What an export answers when an exception stops it: the patch actions 0
// (a patch never fails the installation), every other export 1603.
constexpr const char* kPatchActions[] = {
    "RondoApplyPatchInfo",       "RondoDemoApplyPatchInfo",    "FathomApplyPatchInfo",
    "QuillApplyPatchInfo",       "LarchApplyPatchInfo",        "TernApplyPatchInfo",
    "RondoApplyPatchInfoHarbor", "RondoApplyPatchInfoMistral", "SableApplyPatchInfo",
};

UINT StopResult(const std::string& action) {
    for (const char* patch : kPatchActions)
        if (action == patch)
            return ERROR_SUCCESS;
    return ERROR_INSTALL_FAILURE;
}

// An allocation failure at any point of an action stops it at its boundary:
// the action's stop result, one line in the log, every handle released by
// its owner on the way out, and every watched file whole.
TEST_P(Sweep, AnAllocationFailureStopsTheActionAtItsBoundary) {
    const SweepCase& c = GetParam();
    const UINT stopped = StopResult(c.action);
    const std::string line =
        "VantorCustomAction: " + c.action + ": stopped by an internal error (out of memory)";

    Prepared clean = Prepare(c);
    c.entry(clean.scene.session);
    const long calls = host::CallCount();
    const auto after = Contents(Take(clean.scene), clean.scene);
    for (long k = 1; k <= calls; ++k) {
        Prepared run = Prepare(c);
        host::ThrowAtNthCall(k);
        const UINT result = c.entry(run.scene.session);
        if (host::FaultsInjected() == 0)
            continue; // only releases were left to make
        const std::string where = "allocation failure at call " + std::to_string(k);
        EXPECT_EQ(result, stopped) << where;
        const std::vector<std::string>& log = host::LogLines();
        EXPECT_EQ(std::count(log.begin(), log.end(), line), 1) << where;
        EXPECT_EQ(host::OpenHandles(), 0) << where << ": handles or heap blocks left open";
        const auto now = Contents(Take(run.scene), run.scene);
        EXPECT_TRUE(now == run.before || now == after)
            << where << ": files neither as before nor as after a complete run";
    }
    host::Reset();
}

INSTANTIATE_TEST_SUITE_P(Actions, Sweep, ::testing::ValuesIn(SweepCases()),
                         [](const ::testing::TestParamInfo<SweepCase>& info) {
                             std::string name = info.param.action + "_" + info.param.scenario;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

std::set<std::string> ExportsOf(const std::string& defFile) {
    std::ifstream in(std::string(VANTOR_SOURCE_DIR) + "/" + defFile);
    std::set<std::string> names;
    std::string line;
    bool exports = false;
    static const std::regex name("^\\s*([A-Za-z_][A-Za-z0-9_]*)\\s*(;.*)?$");
    while (std::getline(in, line)) {
        std::smatch m;
        if (line.rfind("EXPORTS", 0) == 0)
            exports = true;
        else if (exports && std::regex_match(line, m, name))
            names.insert(m[1]);
    }
    return names;
}

TEST(SweepCoverage, EveryExportHasAScenario) {
    std::set<std::string> swept;
    for (const SweepCase& c : SweepCases())
        swept.insert(c.action);
    for (const char* def : {"setup/VantorSetup.def", "drivers/VantorDrivers.def"}) {
        for (const std::string& name : ExportsOf(def))
            EXPECT_TRUE(swept.count(name)) << name << " (" << def << ") has no sweep scenario";
    }
    EXPECT_FALSE(ExportsOf("setup/VantorSetup.def").empty());
    for (const char* patch : kPatchActions)
        EXPECT_TRUE(ExportsOf("setup/VantorSetup.def").count(patch)) << patch;
}

} // namespace
