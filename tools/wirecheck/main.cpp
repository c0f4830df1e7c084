// vantor-wirecheck: checks how a built package wires in the Vantor custom
// actions, and prints each fault with its table row and the fix; with --fix,
// makes the post-build fixes that the package calls for.
#include "fixes.h"
#include "package_reader.h"

#include <cstdio>
#include <cstring>

namespace {

enum Exit { kClean = 0, kFindings = 1, kUnreadable = 2 };
enum FixExit { kFixed = 0, kCannotFix = 1, kBadUsage = 2 };

const char kUsage[] =
    "usage: vantor-wirecheck PACKAGE.msi\n"
    "       vantor-wirecheck --fix PACKAGE.msi\n"
    "\n"
    "Checks how the package wires in the actions of VantorSetup.dll and\n"
    "VantorDrivers.dll and prints one line per fault: the check, the table row,\n"
    "what goes wrong, and the fix.\n"
    "exit status: 0 no fault, 1 faults found, 2 bad usage or a file that is no\n"
    "             readable installation package.\n"
    "\n"
    "--fix makes, in the package itself, the fixes that its own tables call for\n"
    "and that wixl cannot write: the rollback actions' type, the ComboBox table,\n"
    "the RemoveFile row of tessel.ini, SecureCustomProperties, the drivers\n"
    "features' Condition rows. One line per change; a package that needs none\n"
    "is left as it is, byte for byte.\n"
    "exit status: 0 done or nothing to do, 1 a package it cannot read or\n"
    "             change (nothing is changed then), 2 bad usage.\n";

int Check(const char* path) {
    wirecheck::Package package;
    std::string problem;
    if (!wirecheck::ReadPackage(path, &package, &problem)) {
        std::fprintf(stderr, "vantor-wirecheck: %s: %s\n", path, problem.c_str());
        return kUnreadable;
    }
    std::vector<wirecheck::Finding> findings = wirecheck::CheckWiring(package);
    for (const wirecheck::Finding& finding : findings)
        std::printf("%s: %s\n", finding.check.c_str(), finding.text.c_str());
    // The count comes last, also where both streams go to one file.
    std::fflush(stdout);
    std::fprintf(stderr, "vantor-wirecheck: %s: %zu fault%s\n", path, findings.size(),
                 findings.size() == 1 ? "" : "s");
    return findings.empty() ? kClean : kFindings;
}

// Reads the package read-only and plans; only a plan with changes opens it
// for writing, and only a complete one is committed.
int Fix(const char* path) {
    wirecheck::Package package;
    std::string problem;
    if (!wirecheck::ReadPackage(path, &package, &problem)) {
        std::fprintf(stderr, "vantor-wirecheck: %s: %s\n", path, problem.c_str());
        return kCannotFix;
    }
    const std::vector<wirecheck::Fix> fixes = wirecheck::PlanFixes(package);
    if (fixes.empty()) {
        std::fprintf(stderr, "vantor-wirecheck: %s: nothing to fix\n", path);
        return kFixed;
    }
    std::unique_ptr<wirecheck::Database> database =
        wirecheck::OpenDatabase(path, wirecheck::Database::Access::Modify, &problem);
    if (!database) {
        std::fprintf(stderr, "vantor-wirecheck: %s: cannot be changed: %s\n", path,
                     problem.c_str());
        return kCannotFix;
    }
    for (const wirecheck::Fix& fix : fixes)
        for (const wirecheck::Query& query : fix.queries)
            if (!database->Execute(query.sql, query.values, &problem)) {
                std::fprintf(stderr, "vantor-wirecheck: %s: nothing changed: %s refused (%s)\n",
                             path, query.sql.c_str(), problem.c_str());
                return kCannotFix;
            }
    if (!database->Commit(&problem)) {
        std::fprintf(stderr, "vantor-wirecheck: %s: nothing changed: the commit failed (%s)\n",
                     path, problem.c_str());
        return kCannotFix;
    }
    for (const wirecheck::Fix& fix : fixes)
        std::printf("fix: %s\n", fix.text.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "vantor-wirecheck: %s: %zu fix%s made\n", path, fixes.size(),
                 fixes.size() == 1 ? "" : "es");
    return kFixed;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return kClean;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--fix") == 0) {
        if (argc != 3) {
            std::fprintf(stderr, "vantor-wirecheck: --fix takes one package\n\n%s", kUsage);
            return kBadUsage;
        }
        return Fix(argv[2]);
    }
    if (argc != 2) {
        std::fprintf(stderr, "vantor-wirecheck: one package expected\n\n%s", kUsage);
        return kUnreadable;
    }
    return Check(argv[1]);
}
