// vantor-wirecheck: checks how a built package wires in the Vantor custom
// actions, and prints each fault with its table row and the fix.
#include "package_reader.h"

#include <cstdio>
#include <cstring>

namespace {

enum Exit { kClean = 0, kFindings = 1, kUnreadable = 2 };

const char kUsage[] = "usage: vantor-wirecheck PACKAGE.msi\n"
                      "\n"
                      "Checks how the package wires in the actions of VantorSetup.dll and\n"
                      "VantorDrivers.dll and prints one line per fault: the check, the table row,\n"
                      "what goes wrong, and the fix.\n"
                      "\n"
                      "exit status: 0 no fault, 1 faults found, 2 bad usage or a file that is no\n"
                      "             readable installation package.\n";

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return kClean;
    }
    if (argc != 2) {
        std::fprintf(stderr, "vantor-wirecheck: one package expected\n\n%s", kUsage);
        return kUnreadable;
    }
    wirecheck::Package package;
    std::string problem;
    if (!wirecheck::ReadPackage(argv[1], &package, &problem)) {
        std::fprintf(stderr, "vantor-wirecheck: %s: %s\n", argv[1], problem.c_str());
        return kUnreadable;
    }
    std::vector<wirecheck::Finding> findings = wirecheck::CheckWiring(package);
    for (const wirecheck::Finding& finding : findings)
        std::printf("%s: %s\n", finding.check.c_str(), finding.text.c_str());
    std::fprintf(stderr, "vantor-wirecheck: %s: %zu fault%s\n", argv[1], findings.size(),
                 findings.size() == 1 ? "" : "s");
    return findings.empty() ? kClean : kFindings;
}
