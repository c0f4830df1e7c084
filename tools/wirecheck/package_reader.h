// Reads the tables that the wiring checks look at from a package file,
// through the database interface (msi.dll on Windows, libmsi on Linux).
#pragma once

#include "database.h"
#include "package.h"

#include <string>

namespace wirecheck {

// Reads the package's tables from an open database. False with the reason
// in *problem when it holds no installation package or a table cannot be read.
bool ReadPackage(Database& database, Package* package, std::string* problem);

// Opens the file read-only and reads it; false with the reason in *problem
// when it cannot be opened as an installer database or holds no package.
bool ReadPackage(const char* path, Package* package, std::string* problem);

} // namespace wirecheck
