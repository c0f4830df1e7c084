// What the wiring checks need to know of a package: the rows of the tables
// that wire the Vantor actions in, read once and held as plain values.
#pragma once

#include "common/wiring.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wirecheck {

// Bits of the CustomAction table's Type column (common/wiring.h).
using vantor::wiring::kTypeBaseMask;
using vantor::wiring::kTypeDll;
using vantor::wiring::kTypeInScript;
using vantor::wiring::kTypeKindMask;
using vantor::wiring::kTypeNoImpersonate;
using vantor::wiring::kTypeRollback;
using vantor::wiring::kTypeSetProperty;
using vantor::wiring::kTypeSourceMask;

struct CustomActionRow {
    std::string action;
    int type = 0;
    std::string source;
    std::string target;
};

// Sequence tables: action name to sequence number (a row without a number is
// left out; the engine never runs it).
using Sequence = std::map<std::string, int>;

struct FileRow {
    std::string component;
    std::string name; // the FileName column as stored: "SHORT~1.EXE|long name.exe" or one name
};

struct DirectoryRow {
    std::string parent;     // Directory_Parent, "" for a root
    std::string defaultDir; // as stored: "target[:source]", each "short|long" or one name
};

struct ConditionRow {
    std::string feature;
    int level = 0;
    std::string condition;
};

struct UpgradeRow {
    std::string actionProperty;
    int attributes = 0;
};

struct Package {
    std::vector<CustomActionRow> customActions;
    Sequence executeSequence; // InstallExecuteSequence
    Sequence uiSequence;      // InstallUISequence
    std::map<std::string, std::string> properties;
    std::map<std::string, FileRow> files;                    // by File key
    std::map<std::string, std::string> componentDirectories; // Component to Directory_
    std::map<std::string, DirectoryRow> directories;         // by Directory
    std::map<std::string, int> features;                     // Feature to Level
    // Binary row name to the name that the DLL in it gives itself in its
    // export directory ("VantorSetup.dll"); empty for a stream that is no DLL.
    std::map<std::string, std::string> binaries;
    bool hasComboBoxTable = false;
    bool hasRemoveFileTable = false;
    bool hasConditionTable = false;
    std::vector<std::string> serviceInstallNames;
    std::vector<std::string> removeFileNames; // the FileName column as stored
    std::set<std::string> removeFileKeys;
    std::vector<ConditionRow> conditions;
    std::vector<UpgradeRow> upgrades;
};

struct Finding {
    std::string check; // short id, first word of the output line
    std::string text;  // the table row, what is wrong, and the fix
};

std::vector<Finding> CheckWiring(const Package& package);

// The name that a PE image gives itself in its export directory, or "" when
// the bytes are no DLL with exports.
std::string DllExportName(const std::vector<unsigned char>& image);

// The long name of a FileName or of one part of a DefaultDir ("SHORT~1|long").
std::string LongName(const std::string& stored);

} // namespace wirecheck
