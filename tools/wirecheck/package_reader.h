// Reads the tables that the wiring checks look at from a package file,
// through the installer's own database API, read-only.
#pragma once

#include "package.h"

#include <string>

namespace wirecheck {

// False with the reason in *problem when the file cannot be opened as an
// installer database or holds no installation package.
bool ReadPackage(const char* path, Package* package, std::string* problem);

} // namespace wirecheck
