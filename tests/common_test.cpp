// The small helpers of common/ that every action builds on: the "(error N)"
// of log lines, the digit reader under the decimal parsers, the scope guard.
#include "common/handles.h"
#include "common/log_line.h"
#include "common/text.h"
#include "host_fixture.h"

#include <stdexcept>
#include <string>

using namespace vantor;

namespace {

class LogLineTest : public HostTest {};

// Codes are unsigned: HRESULT-sized ones must not come out negative.
TEST_F(LogLineTest, WhatThenTheCode) {
    const struct {
        const char* what;
        DWORD code;
        const char* line;
    } cases[] = {
        {"it cannot be opened", 5, "it cannot be opened (error 5)"},
        {"", 0, " (error 0)"},
        {"large", 0x80070005u, "large (error 2147942405)"},
        {"largest", 0xFFFFFFFFu, "largest (error 4294967295)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithError(c.what, c.code), c.line) << c.what;
        const std::size_t before = host::LogLines().size();
        LogFailure(session, c.what, c.code);
        ASSERT_EQ(host::LogLines().size(), before + 1) << c.what;
        EXPECT_EQ(host::LogLines().back(), std::string("VantorCustomAction: ") + c.line) << c.what;
    }
}

TEST(ReadDigits, ExactBelowTheCutAndReadsOverTheRest) {
    const struct {
        const char* text;
        std::uint64_t cut;
        std::uint64_t value;
        std::size_t count;
        const char* rest;
    } cases[] = {
        {"123abc", 1000, 123, 3, "abc"},
        {"007", 1000, 7, 3, ""},
        {"999", 1000, 999, 3, ""},
        {"x12", 1000, 0, 0, "x12"},
        {" 5", 1000, 0, 0, " 5"},
        {"", 10, 0, 0, ""},
        // 123 has reached the cut: 4 and 5 are read over.
        {"12345.6", 100, 123, 5, ".6"},
        {"99999999999999999999999", 1000000000, 9999999999u, 23, ""},
    };
    for (const auto& c : cases) {
        const char* p = c.text;
        const DigitRun run = ReadDigits(p, c.cut);
        EXPECT_EQ(run.value, c.value) << c.text;
        EXPECT_EQ(run.count, c.count) << c.text;
        EXPECT_STREQ(p, c.rest) << c.text;
    }
}

TEST(ScopeExit, RunsOnEveryWayOutButARelease) {
    const struct {
        const char* what;
        bool released;
        bool thrown;
        int runs;
    } cases[] = {
        {"the end of the scope", false, false, 1},
        {"an exception", false, true, 1},
        {"released", true, false, 0},
        {"released, then an exception", true, true, 0},
    };
    for (const auto& c : cases) {
        int runs = 0;
        try {
            ScopeExit guard([&runs] { ++runs; });
            if (c.released)
                guard.release();
            if (c.thrown)
                throw std::runtime_error("stopped");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(runs, c.runs) << c.what;
    }
}

} // namespace
