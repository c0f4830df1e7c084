// What both databases share: the rules for changes, kept in one place so
// that a change refused on one build is refused on the other.
#include "database.h"

#include <cctype>

namespace wirecheck {
namespace {

const char kReadOnly[] = "the database is open for reading only";

// The query's first word, upper-cased.
std::string Verb(const std::string& query, std::size_t* end) {
    std::size_t start = query.find_first_not_of(" \t\r\n");
    std::string verb;
    for (*end = start; *end < query.size() && std::isalpha(static_cast<unsigned char>(query[*end]));
         ++*end)
        verb.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(query[*end]))));
    return verb;
}

} // namespace

bool Database::Execute(const std::string& query, const std::vector<Value>& values,
                       std::string* problem) {
    if (access_ == Access::ReadOnly) {
        *problem = kReadOnly;
        return false;
    }
    // Both engines collect the positions of the matching rows and then
    // delete by position from the shrinking table: from the second row on,
    // they delete the wrong ones ("DELETE FROM T" empties only every other
    // row). The rows a DELETE would take are counted first, by the same
    // condition.
    std::size_t end = 0;
    if (Verb(query, &end) == "DELETE") {
        std::string reason;
        int rows = 0;
        if (!Select(
                "SELECT *" + query.substr(end), values, [&](const Row&) { ++rows; }, &reason)) {
            *problem = reason;
            return false;
        }
        if (rows > 1) {
            *problem = "the DELETE matches " + std::to_string(rows) +
                       " rows; one DELETE removes at most one row here (delete row by row, by key)";
            return false;
        }
    }
    return RunChange(query, values, problem);
}

bool Database::Commit(std::string* problem) {
    if (access_ == Access::ReadOnly) {
        *problem = kReadOnly;
        return false;
    }
    return CommitChanges(problem);
}

} // namespace wirecheck
