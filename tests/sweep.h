// The fault-injection sweep: every action of both libraries, in scenarios of
// its own, is run once cleanly to count the platform calls it makes, then
// once for each k with call k made to fail. Each run must end without a leak
// or an open handle, with a result code the action may give, and with every
// watched file exactly as before or exactly as after the clean run.
//
// Scenarios are registered beside each action's tests with VANTOR_SWEEP; a
// check fails when an export of either library has none.
#pragma once

#include "platform/host/control.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

struct SweepScene {
    MSIHANDLE session = 0;
    std::vector<std::string> watchedFiles; // host paths
};

struct SweepCase {
    std::string action; // export name
    std::string scenario;
    UINT (*entry)(MSIHANDLE);
    std::function<void(SweepScene&)> setup; // runs on a fresh stand-in
    std::set<UINT> allowed;                 // results a faulted run may give
};

std::vector<SweepCase>& SweepCases();

struct SweepRegistration {
    explicit SweepRegistration(SweepCase c) { SweepCases().push_back(std::move(c)); }
};

#define VANTOR_SWEEP_CONCAT2(a, b) a##b
#define VANTOR_SWEEP_CONCAT(a, b) VANTOR_SWEEP_CONCAT2(a, b)
// VANTOR_SWEEP(action, "scenario", setup-lambda, {allowed results...})
#define VANTOR_SWEEP(action, scenario, setup, ...)                                                 \
    static SweepRegistration VANTOR_SWEEP_CONCAT(sweep_, __LINE__)(                                \
        SweepCase{#action, scenario, action, setup, __VA_ARGS__})
