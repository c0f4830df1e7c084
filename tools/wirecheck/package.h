// What the wiring checks need to know of a package: the rows of the tables
// that wire the Vantor actions in, read once and held as plain values.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wirecheck {

// Bits of the CustomAction table's Type column.
constexpr int kTypeDll = 0x01;        // low three bits: a DLL entry
constexpr int kTypeKindMask = 0x07;   // DLL, EXE, script, nested install
constexpr int kTypeSourceMask = 0x30; // 0 means: the Source names a Binary row
constexpr int kTypeBaseMask = 0x3F;   // kind and source together
constexpr int kTypeSetProperty = 51;  // sets the property named in Source to Target
constexpr int kTypeInScript = 0x400;  // deferred, rollback or commit
constexpr int kTypeRollback = 0x100;  // with kTypeInScript
constexpr int kTypeNoImpersonate = 0x800;

struct CustomActionRow {
    std::string action;
    int type = 0;
    std::string source;
    std::string target;
};

// Sequence tables: action name to sequence number (a row without a number is
// left out; the engine never runs it).
using Sequence = std::map<std::string, int>;

struct Package {
    std::vector<CustomActionRow> customActions;
    Sequence executeSequence; // InstallExecuteSequence
    Sequence uiSequence;      // InstallUISequence
    std::map<std::string, std::string> properties;
    std::set<std::string> fileKeys;
    // Binary row name to the name that the DLL in it gives itself in its
    // export directory ("VantorSetup.dll"); empty for a stream that is no DLL.
    std::map<std::string, std::string> binaries;
    bool hasComboBoxTable = false;
    std::vector<std::string> serviceInstallNames;
    std::vector<std::string> removeFileNames; // the FileName column as stored
    std::vector<std::string> upgradeActionProperties;
};

struct Finding {
    std::string check; // short id, first word of the output line
    std::string text;  // the table row, what is wrong, and the fix
};

std::vector<Finding> CheckWiring(const Package& package);

// The name that a PE image gives itself in its export directory, or "" when
// the bytes are no DLL with exports.
std::string DllExportName(const std::vector<unsigned char>& image);

} // namespace wirecheck
