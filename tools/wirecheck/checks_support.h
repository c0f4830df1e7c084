// What the checks and the fixes share: text helpers, which of the table's
// actions a package runs, where its files lie, and what
// SecureCustomProperties must hold.
#pragma once

#include "package.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wirecheck {

std::string Lower(std::string text);
std::string Join(const std::vector<std::string>& items, const char* separator);
std::vector<std::string> Split(const std::string& text, char separator);
// A plain decimal number of at most nine digits, or nothing.
std::optional<std::int32_t> DecimalId(const std::string& text);
// The eight-field data string as the includes write it.
std::string DataLayout();

// Our actions (DLL actions calling an entry of the wiring table) with the
// given entry that either sequence runs.
std::vector<const CustomActionRow*> PresentActions(const Package& package, const char* entry);
bool IsSequenced(const Package& package, const std::string& action);
// Whether either sequence runs any of our actions.
bool UsesOurActions(const Package& package);

// Whether a RemoveFile row takes "tessel.ini" away.
bool RemovesTessel(const Package& package);
// Whether the component installs its files directly into INSTALLDIR, or
// into System\ below it.
bool InInstallFolder(const Package& package, const std::string& component);
bool InSystemFolder(const Package& package, const std::string& component);

// SecureCustomProperties as it is and as the present actions need it.
struct SecureNeed {
    std::string property;
    std::string user; // the action that relies on it, or "the Upgrade rows"
};
struct SecureList {
    std::vector<std::string> kept;    // listed and allowed, in their order
    std::vector<std::string> dropped; // listed, but never to be secure
    std::vector<SecureNeed> needed;   // in the order a fix appends them
};
SecureList SecurePropertiesOf(const Package& package);

} // namespace wirecheck
