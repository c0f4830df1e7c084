// AppendComboBox, PopulateHarborChoices and ConfigureHarbor in a real
// installer session on the demo package, which has a ComboBox table, the two
// configuration files of component rondoconfig and the drivers features of
// the converters it offers. The checks read back what the engine holds (the
// temporary ComboBox rows, properties, feature states) or what is on disk.
#include "engine_session.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace engine;

namespace {

struct ComboRow {
    int order;
    std::string value;
    std::string text;
    bool operator==(const ComboRow& other) const {
        return order == other.order && value == other.value && text == other.text;
    }
};

void PrintTo(const ComboRow& row, std::ostream* out) {
    *out << "{" << row.order << ", \"" << row.value << "\", \"" << row.text << "\"}";
}

struct HandleCloser {
    void operator()(MSIHANDLE* handle) const {
        if (*handle)
            MsiCloseHandle(*handle);
        delete handle;
    }
};
using Owned = std::unique_ptr<MSIHANDLE, HandleCloser>;
Owned Own(MSIHANDLE handle) {
    return Owned(new MSIHANDLE(handle));
}

std::string FieldText(MSIHANDLE record, UINT field) {
    char buffer[512] = "";
    DWORD size = sizeof buffer;
    if (MsiRecordGetStringA(record, field, buffer, &size) != ERROR_SUCCESS)
        return "<unreadable>";
    return buffer;
}

// The rows a query answers, each as its fields' text, in the engine's order.
std::vector<std::vector<std::string>> Query(MSIHANDLE session, const std::string& sql, UINT fields,
                                            UINT* failure) {
    std::vector<std::vector<std::string>> rows;
    *failure = ERROR_SUCCESS;
    Owned database = Own(MsiGetActiveDatabase(session));
    MSIHANDLE viewHandle = 0;
    UINT result = MsiDatabaseOpenViewA(*database, sql.c_str(), &viewHandle);
    Owned view = Own(viewHandle);
    if (result == ERROR_SUCCESS)
        result = MsiViewExecute(*view, 0);
    while (result == ERROR_SUCCESS) {
        MSIHANDLE recordHandle = 0;
        result = MsiViewFetch(*view, &recordHandle);
        if (result != ERROR_SUCCESS)
            break;
        Owned record = Own(recordHandle);
        std::vector<std::string> row;
        for (UINT field = 1; field <= fields; ++field)
            row.push_back(FieldText(*record, field));
        rows.push_back(row);
    }
    if (result != ERROR_NO_MORE_ITEMS)
        *failure = result;
    if (*view)
        MsiViewClose(*view);
    return rows;
}

class Choice : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(library_.loaded()) << "cannot load " << library_.path(); }

    static void ExpectOpen(const Session& session) {
        ASSERT_NE(session.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session.openResult();
    }

    // Feature states are real only after the cost actions, as in the UI
    // sequence, where the combo boxes are filled after CostFinalize.
    static void Cost(Session& session) {
        for (const char* action : {"CostInitialize", "FileCost", "CostFinalize"})
            ASSERT_EQ(session.DoAction(action), ERROR_SUCCESS) << action;
    }

    static std::vector<ComboRow> ComboRows(Session& session, const char* property) {
        UINT failure = ERROR_SUCCESS;
        const auto rows = Query(session.handle(),
                                "SELECT `Order`, `Value`, `Text` FROM `ComboBox` WHERE "
                                "`Property` = '" +
                                    std::string(property) + "' ORDER BY `Order`",
                                3, &failure);
        EXPECT_EQ(failure, ERROR_SUCCESS) << "query on ComboBox";
        std::vector<ComboRow> combo;
        for (const auto& row : rows)
            combo.push_back({std::atoi(row[0].c_str()), row[1], row[2]});
        return combo;
    }

    static INSTALLSTATE RequestedState(Session& session, const char* feature) {
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
        const UINT result = MsiGetFeatureStateA(session.handle(), feature, &installed, &action);
        EXPECT_EQ(result, ERROR_SUCCESS) << feature;
        return action;
    }

    UINT Run(const char* action, Session& session) {
        return library_.Call(action, session.handle());
    }

    ActionLibrary library_{"VantorSetup.dll"};
};

const char kUsbLogger81[] = "Vantor USB Logger 81";
const char kUsbScope3000[] = "Vantor USB Scope 3000";

TEST_F(Choice, ExportsTheThreeActionsByPlainName) {
    EXPECT_TRUE(library_.Exports("AppendComboBox"));
    EXPECT_TRUE(library_.Exports("PopulateHarborChoices"));
    EXPECT_TRUE(library_.Exports("ConfigureHarbor"));
}

TEST_F(Choice, AppendComboBoxOffersTheServableConvertersAndChoosesASingleOne) {
    struct Case {
        const char* what;
        const char* list;
        const char* versionNT; // null: the engine's own
        std::vector<ComboRow> rows;
        const char* count;
        const char* chosen;       // DEFAULT_CONVERTER afterwards ("" none)
        const char* localFeature; // the drivers feature requested local, or null
    } cases[] = {
        {"the demo's list, 7 unknown",
         "81,3000,7",
         nullptr,
         {{0, "81", kUsbLogger81}, {1, "3000", kUsbScope3000}},
         "3",
         "",
         nullptr},
        {"a single converter",
         "3000",
         nullptr,
         {{0, "3000", kUsbScope3000}},
         "1",
         "3000",
         "Drivers_US3000"},
        {"a single converter among empty pieces",
         ",,81,",
         nullptr,
         {{0, "81", kUsbLogger81}},
         "1",
         "81",
         "Drivers_UL81"},
        {"order keeps the place of a skipped id",
         "7,3000",
         nullptr,
         {{1, "3000", kUsbScope3000}},
         "2",
         "",
         nullptr},
        {"a USB converter on Windows NT 4", "81", "400", {}, "1", "0", nullptr},
        {"a single converter without drivers",
         "99",
         nullptr,
         {{0, "99", "Vantor Demonstration Source"}},
         "1",
         "99",
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Session session;
        ExpectOpen(session);
        if (HasFatalFailure())
            return;
        ASSERT_EQ(session.Set("CONVERTER_LIST", c.list), ERROR_SUCCESS);
        if (c.versionNT) {
            ASSERT_EQ(session.Set("VersionNT", c.versionNT), ERROR_SUCCESS);
        }
        Cost(session);
        ASSERT_FALSE(HasFatalFailure());
        // Both drivers features start off: their level is above INSTALLLEVEL.
        for (const char* feature : {"Drivers_UL81", "Drivers_US3000"}) {
            ASSERT_NE(RequestedState(session, feature), INSTALLSTATE_LOCAL) << feature;
        }

        EXPECT_EQ(Run("AppendComboBox", session), ERROR_SUCCESS);

        EXPECT_EQ(ComboRows(session, "DEFAULT_CONVERTER"), c.rows);
        EXPECT_EQ(session.Get("CONVERTER_LIST_COUNT"), c.count);
        EXPECT_EQ(session.Get("DEFAULT_CONVERTER"), c.chosen);
        for (const char* feature : {"Drivers_UL81", "Drivers_US3000"}) {
            const bool chosen = c.localFeature && std::string(c.localFeature) == feature;
            EXPECT_EQ(RequestedState(session, feature) == INSTALLSTATE_LOCAL, chosen) << feature;
        }
    }
}

TEST_F(Choice, PopulateHarborChoicesListsTheFilesOfRondoconfigInTheEnginesOrder) {
    Session session;
    ExpectOpen(session);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(session.Set("DEFAULT_HARBOR_CONFIG", "earlier.ini"), ERROR_SUCCESS);
    UINT failure = ERROR_SUCCESS;
    const auto files =
        Query(session.handle(), "SELECT `FileName` FROM `File` WHERE `Component_` = 'rondoconfig'",
              1, &failure);
    ASSERT_EQ(failure, ERROR_SUCCESS);
    std::vector<std::string> names;
    for (const auto& row : files)
        names.push_back(row[0].substr(row[0].find('|') + 1));
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, (std::vector<std::string>{"coastal.ini", "harbor.cfg.ini"}));

    EXPECT_EQ(Run("PopulateHarborChoices", session), ERROR_SUCCESS);

    std::vector<ComboRow> expected;
    for (std::size_t i = 0; i < names.size(); ++i)
        expected.push_back({int(i), names[i], names[i].substr(0, names[i].find('.'))});
    EXPECT_EQ(ComboRows(session, "DEFAULT_HARBOR_CONFIG"), expected);
    EXPECT_EQ(session.Get("NUM_CONFIGS"), "2");
    EXPECT_EQ(session.Get("DEFAULT_HARBOR_CONFIG"), names[0]);
}

TEST_F(Choice, BothComboBoxesAreFilledSideBySideInOneSession) {
    Session session;
    ExpectOpen(session);
    ASSERT_FALSE(HasFatalFailure());
    Cost(session);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(Run("AppendComboBox", session), ERROR_SUCCESS);
    EXPECT_EQ(Run("PopulateHarborChoices", session), ERROR_SUCCESS);

    // The package's own CONVERTER_LIST, "81,3000,7".
    EXPECT_EQ(ComboRows(session, "DEFAULT_CONVERTER"),
              (std::vector<ComboRow>{{0, "81", kUsbLogger81}, {1, "3000", kUsbScope3000}}));
    EXPECT_EQ(ComboRows(session, "DEFAULT_HARBOR_CONFIG").size(), 2u);
    UINT failure = ERROR_SUCCESS;
    EXPECT_EQ(Query(session.handle(), "SELECT * FROM `ComboBox`", 4, &failure).size(), 4u);
    // The session keeps working after the actions: nothing closed its handle.
    EXPECT_EQ(session.Set("VANTOR_PROBE", "alive"), ERROR_SUCCESS);
    EXPECT_EQ(session.Get("VANTOR_PROBE"), "alive");
}

TEST_F(Choice, ConfigureHarborPutsTheChosenFileInPlaceAsTesselIni) {
    ScratchDir dir("vantor-harbor");
    const std::string folder = dir.Make("Vantor Demo\\Harbor");
    const std::string harbor = folder + "\\harbor.cfg.ini";
    const std::string coastal = folder + "\\coastal.ini";
    const std::string tessel = folder + "\\tessel.ini";
    ASSERT_TRUE(WriteText(harbor, "Berths=12\r\n"));
    ASSERT_TRUE(WriteText(coastal, "Berths=3\r\n"));

    struct Case {
        const char* what;
        std::string data;
        UINT result;
        std::string tessel; // content afterwards
    } cases[] = {
        {"first choice", harbor, ERROR_SUCCESS, "Berths=12\r\n"},
        {"another choice replaces it", coastal, ERROR_SUCCESS, "Berths=3\r\n"},
        {"a missing file leaves it", folder + "\\gone.ini", ERROR_SUCCESS, "Berths=3\r\n"},
        {"no data", "", ERROR_FILE_NOT_FOUND, "Berths=3\r\n"},
    };
    Session session;
    ExpectOpen(session);
    ASSERT_FALSE(HasFatalFailure());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(session.Set("CustomActionData", c.data), ERROR_SUCCESS);
        EXPECT_EQ(Run("ConfigureHarbor", session), c.result);
        EXPECT_EQ(ReadText(tessel), c.tessel);
    }
    EXPECT_EQ(ReadText(harbor), "Berths=12\r\n") << "the source stays as it was";
}

} // namespace
