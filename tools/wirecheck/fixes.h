// The post-build fixes that the wiring table calls for, planned from a
// package's rows: what wixl cannot write (the rollback actions' type, the
// ComboBox table, RemoveFile rows, SecureCustomProperties beside its own
// Upgrade rows) and the drivers features' Condition rows. Each change is one
// line of text and the queries that make it; a package that needs none gets
// no change, so that fixing it twice changes nothing.
#pragma once

#include "database.h"
#include "package.h"

#include <string>
#include <vector>

namespace wirecheck {

struct Query {
    std::string sql;
    std::vector<Value> values; // for the "?" markers, in order
};

struct Fix {
    std::string
        text; // the row changed and how, e.g. "CustomAction 'X': type 2049 -> 3329 (rollback)"
    std::vector<Query> queries;
};

std::vector<Fix> PlanFixes(const Package& package);

} // namespace wirecheck
