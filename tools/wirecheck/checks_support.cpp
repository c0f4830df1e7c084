#include "checks_support.h"

#include "common/choices.h"

#include <algorithm>
#include <cctype>

namespace wirecheck {

using namespace vantor::wiring;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string joined;
    for (const std::string& item : items)
        joined += (joined.empty() ? "" : separator) + item;
    return joined;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::optional<std::int32_t> DecimalId(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<std::int32_t>(std::stol(text));
}

std::string DataLayout() {
    std::string layout;
    for (const DataField& field : kDataFields)
        layout += std::string(layout.empty() ? "" : "|") + "X" + field.value;
    return layout;
}

std::string LongName(const std::string& stored) {
    return stored.substr(stored.find('|') + 1);
}

bool IsSequenced(const Package& package, const std::string& action) {
    return package.executeSequence.count(action) != 0 || package.uiSequence.count(action) != 0;
}

std::vector<const CustomActionRow*> PresentActions(const Package& package, const char* entry) {
    std::vector<const CustomActionRow*> rows;
    for (const CustomActionRow& row : package.customActions)
        if ((row.type & kTypeKindMask) == kTypeDll && row.target == entry &&
            IsSequenced(package, row.action))
            rows.push_back(&row);
    return rows;
}

bool UsesOurActions(const Package& package) {
    for (const Action& action : kActions)
        if (!PresentActions(package, action.entry).empty())
            return true;
    return false;
}

bool RemovesTessel(const Package& package) {
    // "SHORT~1.INI|long name.ini": the long name counts.
    for (const std::string& stored : package.removeFileNames)
        if (Lower(LongName(stored)) == "tessel.ini")
            return true;
    return false;
}

namespace {

// The long name of a directory's target part ("target[:source]").
std::string TargetName(const DirectoryRow& row) {
    return LongName(row.defaultDir.substr(0, row.defaultDir.find(':')));
}

// The directory that a Directory row resolves to: a row whose target is "."
// is its parent's folder. "" when the chain breaks.
std::string Resolved(const Package& package, std::string directory) {
    for (int depth = 0; depth < 64 && !directory.empty(); ++depth) {
        auto it = package.directories.find(directory);
        if (it == package.directories.end() || TargetName(it->second) != ".")
            return directory;
        directory = it->second.parent;
    }
    return "";
}

std::string DirectoryOf(const Package& package, const std::string& component) {
    auto it = package.componentDirectories.find(component);
    return it == package.componentDirectories.end() ? "" : Resolved(package, it->second);
}

} // namespace

bool InInstallFolder(const Package& package, const std::string& component) {
    return DirectoryOf(package, component) == "INSTALLDIR";
}

bool InSystemFolder(const Package& package, const std::string& component) {
    const std::string directory = DirectoryOf(package, component);
    auto it = package.directories.find(directory);
    return it != package.directories.end() && Lower(TargetName(it->second)) == "system" &&
           Resolved(package, it->second.parent) == "INSTALLDIR";
}

SecureList SecurePropertiesOf(const Package& package) {
    SecureList list;
    std::vector<std::string> never;
    for (const Action& action : kActions)
        for (const std::string& name : Split(action.neverSecure, ';'))
            if (!name.empty() && std::find(never.begin(), never.end(), name) == never.end())
                never.push_back(name);
    auto current = package.properties.find("SecureCustomProperties");
    if (current != package.properties.end())
        for (const std::string& name : Split(current->second, ';')) {
            if (name.empty())
                continue;
            bool bad = std::find(never.begin(), never.end(), name) != never.end();
            (bad ? list.dropped : list.kept).push_back(name);
        }
    if (!UsesOurActions(package))
        return list;
    for (const Action& action : kActions)
        for (const CustomActionRow* row : PresentActions(package, action.entry))
            for (const std::string& name : Split(action.secure, ';'))
                if (!name.empty())
                    list.needed.push_back({name, row->action});
    // RemoveExistingProducts and the launch conditions read the Upgrade
    // rows' properties on the server side as well.
    for (const UpgradeRow& row : package.upgrades)
        if (!row.actionProperty.empty())
            list.needed.push_back({row.actionProperty, "the Upgrade rows"});
    // The order a fix appends them in: the choices, the folder, the rest as met.
    auto rank = [](const std::string& name) {
        for (std::size_t i = 0; i < vantor::kChoiceCount; ++i)
            if (name == vantor::kChoices[i])
                return int(i);
        return name == vantor::kInstallFolder ? int(vantor::kChoiceCount) : 100;
    };
    std::stable_sort(list.needed.begin(), list.needed.end(),
                     [&](const SecureNeed& a, const SecureNeed& b) {
                         return rank(a.property) < rank(b.property);
                     });
    return list;
}

} // namespace wirecheck
