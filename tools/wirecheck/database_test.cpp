// The database interface's cases, the same on both builds: run natively on
// Linux (libmsi) and under Wine (msi.dll), they hold the two databases to
// one behaviour. Usage: wirecheck-database-test FOLDER (an empty scratch
// folder). One line per failed case; last line "database: N passed, N failed".
#include "database.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

using wirecheck::Database;
using wirecheck::OpenDatabase;
using wirecheck::Row;
using wirecheck::StreamFile;
using wirecheck::Value;
using Access = Database::Access;

#ifdef _WIN32
const char kSeparator = '\\';
#else
const char kSeparator = '/';
#endif

std::string g_folder;
std::string g_case;
int g_failed = 0;
int g_passed = 0;

std::string PathOf(const std::string& name) {
    return g_folder + kSeparator + name;
}

bool Fail(const std::string& what) {
    std::printf("FAIL %s: %s\n", g_case.c_str(), what.c_str());
    return false;
}

bool Expect(const std::string& what, const std::string& expected, const std::string& actual) {
    return expected == actual || Fail(what + ": expected '" + expected + "', got '" + actual + "'");
}

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// More than two of the readers' 64 KiB chunks, no byte repeating at a chunk's
// distance, so that a lost, doubled or reordered chunk shows.
std::vector<unsigned char> StreamBytes() {
    std::vector<unsigned char> bytes(150001);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + i / 251) % 256);
    return bytes;
}

// Each row of a query's result as its fields' texts joined by "|", rows
// joined by ";"; or "refused".
std::string Rows(Database& database, const std::string& query, const std::vector<Value>& values) {
    std::string rows, problem;
    bool read = database.Select(
        query, values,
        [&](const Row& row) {
            std::string line;
            for (unsigned field = 1; field <= row.FieldCount(); ++field)
                line += (field > 1 ? "|" : "") + row.Text(field);
            rows += (rows.empty() ? "" : ";") + line;
        },
        &problem);
    return read ? rows : "refused";
}

const char kTable[] = "CREATE TABLE `Fields` (`Key` CHAR(16) NOT NULL, `Text` CHAR(64), "
                      "`Short` SHORT, `Long` LONG, `Data` OBJECT PRIMARY KEY `Key`)";
const char kInsert[] = "INSERT INTO `Fields` (`Key`, `Text`, `Short`, `Long`, `Data`) "
                       "VALUES (?, ?, ?, ?, ?)";

// The fixture every case starts from, made through the interface itself.
bool MakeFixture(const std::string& path) {
    g_case = "fixture";
    WriteFile(PathOf("stream.bin"), StreamBytes());
    WriteFile(PathOf("one.bin"), {0x4D});
    std::string problem;
    std::unique_ptr<Database> database = OpenDatabase(path.c_str(), Access::Create, &problem);
    bool made =
        database && database->Execute(kTable, {}, &problem) &&
        database->Execute(
            kInsert, {"full", "some text", 7, 70000, StreamFile{PathOf("stream.bin")}}, &problem) &&
        database->Execute("INSERT INTO `Fields` (`Key`) VALUES ('nulls')", {}, &problem) &&
        database->Execute(kInsert, {"edges", "", -3, -2147483647, StreamFile{PathOf("one.bin")}},
                          &problem) &&
        database->Execute(kInsert, {"quote", "it's | [x]", 0, 0, StreamFile{PathOf("one.bin")}},
                          &problem) &&
        database->Commit(&problem);
    return made || Fail(problem);
}

// ---- reading: one field of one row, as one accessor answers it
enum class Read { Text, Integer, IsNull, Stream };

struct ReadCase {
    const char* name;
    const char* key;
    unsigned field; // 2 Text, 3 Short, 4 Long, 5 Data
    Read read;
    std::string expected; // Integer: "none" for nothing; Stream: "<size> bytes"
};

const ReadCase kReadCases[] = {
    {"text", "full", 2, Read::Text, "some text"},
    {"text of a short column", "full", 3, Read::Text, "7"},
    {"short", "full", 3, Read::Integer, "7"},
    {"long", "full", 4, Read::Integer, "70000"},
    {"negative short", "edges", 3, Read::Integer, "-3"},
    {"smallest long", "edges", 4, Read::Integer, "-2147483647"},
    {"empty text is null", "edges", 2, Read::IsNull, "yes"},
    {"empty text reads empty", "edges", 2, Read::Text, ""},
    {"quote and bar kept", "quote", 2, Read::Text, "it's | [x]"},
    {"null text", "nulls", 2, Read::Text, ""},
    {"null text is null", "nulls", 2, Read::IsNull, "yes"},
    {"null short", "nulls", 3, Read::Integer, "none"},
    {"null stream", "nulls", 5, Read::Stream, "0 bytes"},
    {"null stream is null", "nulls", 5, Read::IsNull, "yes"},
    {"stream of one byte", "edges", 5, Read::Stream, "1 bytes"},
    {"long stream", "full", 5, Read::Stream, "150001 bytes"},
    {"set text is not null", "full", 2, Read::IsNull, "no"},
};

void ReadOne(Database& database, const ReadCase& c) {
    g_case = std::string("read: ") + c.name;
    std::string problem, actual;
    int rows = 0;
    bool read = database.Select(
        "SELECT `Key`, `Text`, `Short`, `Long`, `Data` FROM `Fields` WHERE `Key` = ?", {c.key},
        [&](const Row& row) {
            ++rows;
            std::vector<unsigned char> bytes;
            switch (c.read) {
            case Read::Text:
                actual = row.Text(c.field);
                break;
            case Read::Integer:
                actual = row.Integer(c.field) ? std::to_string(*row.Integer(c.field)) : "none";
                break;
            case Read::IsNull:
                actual = row.IsNull(c.field) ? "yes" : "no";
                break;
            case Read::Stream:
                if (!row.Stream(c.field, &bytes))
                    actual = "unreadable";
                else if (c.expected == "150001 bytes" && bytes != StreamBytes())
                    actual = std::to_string(bytes.size()) + " bytes, not the file's";
                else
                    actual = std::to_string(bytes.size()) + " bytes";
                break;
            }
        },
        &problem);
    bool ok = (read || Fail("refused: " + problem)) &&
              (rows == 1 || Fail(std::to_string(rows) + " rows for key " + c.key)) &&
              Expect("value", c.expected, actual);
    ok ? ++g_passed : ++g_failed;
}

// ---- changing: queries on a copy of the fixture, then what a fresh reader sees
struct ChangeCase {
    const char* name;
    Access access;
    const char* queries; // one per line
    bool commit;
    const char* refused; // "": every step succeeds; else the step refused ("DELETE", "commit")
    const char* check;   // a query on the file afterwards, and the rows it gives (see Rows)
    const char* expected;
};

const char kAll[] = "SELECT `Key` FROM `Fields`";
const char kFull[] = "SELECT `Text` FROM `Fields` WHERE `Key`='full'";
const char kChange[] = "UPDATE `Fields` SET `Text`='changed' WHERE `Key`='full'";

const ChangeCase kChangeCases[] = {
    {"update kept by commit", Access::Modify, kChange, true, "", kFull, "changed"},
    {"update dropped without commit", Access::Modify, kChange, false, "", kFull, "some text"},
    {"integer column set", Access::Modify, "UPDATE `Fields` SET `Short`=3329 WHERE `Key`='nulls'",
     true, "", "SELECT `Short` FROM `Fields` WHERE `Key`='nulls'", "3329"},
    {"one row deleted, one inserted", Access::Modify,
     "DELETE FROM `Fields` WHERE `Key`='full'\n"
     "INSERT INTO `Fields` (`Key`, `Short`) VALUES ('new', 2)",
     true, "", "SELECT `Key`, `Short` FROM `Fields`", "nulls|;edges|-3;quote|0;new|2"},
    {"a delete of several rows refused", Access::Modify,
     "DELETE FROM `Fields` WHERE `Key`<>'quote'", true, "DELETE", kAll, "full;nulls;edges;quote"},
    {"a delete of every row refused", Access::Modify, "DELETE FROM `Fields`", true, "DELETE", kAll,
     "full;nulls;edges;quote"},
    {"a delete of no row", Access::Modify, "DELETE FROM `Fields` WHERE `Key`='none'", true, "",
     kAll, "full;nulls;edges;quote"},
    {"table created and filled", Access::Modify,
     "CREATE TABLE `ComboBox` (`Property` CHAR(72) NOT NULL, `Order` SHORT NOT NULL, `Value` "
     "CHAR(64) NOT NULL, `Text` CHAR(64) LOCALIZABLE PRIMARY KEY `Property`, `Order`)\n"
     "INSERT INTO `ComboBox` (`Property`, `Order`, `Value`) VALUES ('P', 1, 'one')",
     true, "", "SELECT `Property`, `Order`, `Value`, `Text` FROM `ComboBox`", "P|1|one|"},
    {"table dropped", Access::Modify, "DROP TABLE `Fields`", true, "", kAll, "refused"},
    {"duplicate key refused", Access::Modify, "INSERT INTO `Fields` (`Key`) VALUES ('full')", true,
     "INSERT", kAll, "full;nulls;edges;quote"},
    {"missing table refused", Access::Modify, "UPDATE `Missing` SET `A`=1", false, "UPDATE", "",
     ""},
    {"change refused when read-only", Access::ReadOnly, kChange, false, "UPDATE", kFull,
     "some text"},
    {"commit refused when read-only", Access::ReadOnly, "", true, "commit", kFull, "some text"},
};

void Change(const std::string& fixture, const ChangeCase& c) {
    g_case = std::string("change: ") + c.name;
    std::string path = PathOf("change.msi");
    std::vector<unsigned char> before = ReadFile(fixture);
    WriteFile(path, before);
    std::string problem, refused;
    {
        std::unique_ptr<Database> database = OpenDatabase(path.c_str(), c.access, &problem);
        if (!database) {
            ++g_failed;
            Fail("cannot open the copy: " + problem);
            return;
        }
        std::string queries = c.queries;
        for (std::size_t at = 0; refused.empty() && at < queries.size();) {
            std::size_t end = std::min(queries.find('\n', at), queries.size());
            std::string query = queries.substr(at, end - at);
            if (!database->Execute(query, {}, &problem))
                refused = query.substr(0, query.find(' '));
            at = end + 1;
        }
        if (refused.empty() && c.commit && !database->Commit(&problem))
            refused = "commit";
    }
    bool ok = Expect("refused step", c.refused, refused) &&
              (refused.empty() || !problem.empty() || Fail("refused without a reason"));
    if (ok && (c.access == Access::ReadOnly || !c.commit))
        ok = ReadFile(path) == before || Fail("the file changed");
    if (ok && *c.check != '\0') {
        std::unique_ptr<Database> database = OpenDatabase(path.c_str(), Access::ReadOnly, &problem);
        ok = (database || Fail("cannot reopen: " + problem)) &&
             Expect("afterwards", c.expected, Rows(*database, c.check, {}));
    }
    ok ? ++g_passed : ++g_failed;
}

// ---- tables that are not there, and values for "?" markers
void Tables(const std::string& fixture) {
    g_case = "tables";
    std::string problem;
    std::unique_ptr<Database> database = OpenDatabase(fixture.c_str(), Access::ReadOnly, &problem);
    bool ok = (database || Fail("cannot open: " + problem)) &&
              (database->HasTable("Fields") || Fail("no table Fields")) &&
              (!database->HasTable("Missing") || Fail("a table Missing")) &&
              Expect("select from a missing table", "refused",
                     Rows(*database, "SELECT `Key` FROM `Missing`", {})) &&
              Expect("select by an integer value", "full",
                     Rows(*database, "SELECT `Key` FROM `Fields` WHERE `Short` = ?", {7}));
    ok ? ++g_passed : ++g_failed;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wirecheck-database-test FOLDER\n");
        return 2;
    }
    g_folder = argv[1];
    std::string fixture = PathOf("fixture.msi");
    if (MakeFixture(fixture)) {
        std::string problem;
        std::unique_ptr<Database> database =
            OpenDatabase(fixture.c_str(), Access::ReadOnly, &problem);
        if (!database) {
            g_case = "fixture";
            Fail("cannot reopen: " + problem);
            ++g_failed;
        } else {
            for (const ReadCase& c : kReadCases)
                ReadOne(*database, c);
        }
        database.reset();
        for (const ChangeCase& c : kChangeCases)
            Change(fixture, c);
        Tables(fixture);
    } else {
        ++g_failed;
    }
    std::printf("database: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
