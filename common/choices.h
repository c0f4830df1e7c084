// The user's device choices: the properties that the registry cache keeps for
// a product's whole life, read, carried over, checked and recalled by every
// action of its lifecycle in this one order.
#pragma once

#include <cstddef>

namespace vantor {

constexpr const char* kChoices[] = {
    "DEFAULT_CONVERTER", "DEFAULT_PAR_PORT",      "DEFAULT_COM_PORT",
    "SERIAL_NUMBER",     "DEFAULT_HARBOR_CONFIG",
};
constexpr std::size_t kChoiceCount = sizeof kChoices / sizeof kChoices[0];
static_assert(kChoiceCount == 5, "five choices");

// Beside the choices, the cache keeps the install folder of the first
// installation, as the engine resolved it (ending with "\"), under the name of
// its property: later runs of the product act on that folder alone.
constexpr const char kInstallFolder[] = "INSTALLDIR";

} // namespace vantor
