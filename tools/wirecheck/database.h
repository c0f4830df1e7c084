// An installer database as the wiring checker sees it: tables read by SQL
// queries, and changes made by SQL queries and kept only when committed.
// Two implementations, one per build: database_msi.cpp on Windows (the
// installer's own msi.dll), database_libmsi.cpp on Linux (msitools' libmsi).
// Both answer the same for the same file; the wiring tier holds them to it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace wirecheck {

// One fetched row. Fields are numbered from 1, in the order of the query's
// column list.
class Row {
  public:
    virtual ~Row() = default;
    virtual unsigned FieldCount() const = 0;
    // The installer stores an empty string as null: both read as "".
    virtual bool IsNull(unsigned field) const = 0;
    // "" for a null field; an integer column's value in decimal.
    virtual std::string Text(unsigned field) const = 0;
    // An integer column's value; nothing for a null field or a string column.
    virtual std::optional<int> Integer(unsigned field) const = 0;
    // All bytes of a stream column (none for a null field); false when the
    // stream cannot be read to its end.
    virtual bool Stream(unsigned field, std::vector<unsigned char>* bytes) const = 0;
};

// A value for one "?" marker of a query, in the markers' order: text, an
// integer, or the bytes of a file for a stream column.
struct StreamFile {
    std::string path;
};
using Value = std::variant<std::string, int, StreamFile>;

class Database {
  public:
    enum class Access {
        ReadOnly, // the file is never written
        Modify,   // changes are written into the file by Commit, dropped without it
        Create,   // a new, empty database, written into the file by Commit
    };

    virtual ~Database() = default;

    // Whether the database holds the table (a stored one, not a temporary).
    virtual bool HasTable(const char* table) = 0;

    // Runs a SELECT query and hands each row on, in the order fetched. False,
    // with the reason in *problem, when the query is refused or a row cannot
    // be fetched.
    virtual bool Select(const std::string& query, const std::vector<Value>& values,
                        const std::function<void(const Row&)>& each, std::string* problem) = 0;

    // Runs a query that changes the database: INSERT, UPDATE, DELETE,
    // CREATE TABLE, DROP TABLE. False, with the reason, when it is refused:
    // always on a database opened for reading only, and for a DELETE that
    // matches more than one row (libmsi and Wine's msi.dll delete the wrong
    // rows then: delete row by row, by key).
    bool Execute(const std::string& query, const std::vector<Value>& values, std::string* problem);

    // Writes every change made since opening into the file; refused on a
    // database opened for reading only. Nothing is written without it.
    bool Commit(std::string* problem);

  protected:
    explicit Database(Access access) : access_(access) {}
    virtual bool RunChange(const std::string& query, const std::vector<Value>& values,
                           std::string* problem) = 0;
    virtual bool CommitChanges(std::string* problem) = 0;

  private:
    Access access_;
};

// Opens the file; nothing, with the reason in *problem, when it is no
// installer database (or cannot be created).
std::unique_ptr<Database> OpenDatabase(const char* path, Database::Access access,
                                       std::string* problem);

} // namespace wirecheck
