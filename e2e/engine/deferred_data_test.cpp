// The package's SetVantorDeferredData action, run by the engine itself: it
// formats the data string that the deferred actions split field by field.
#include "engine_session.h"

#include <gtest/gtest.h>

using namespace engine;

namespace {

struct Field {
    const char* name;
    const char* value;
};

class DeferredData : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(session_.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session_.openResult();
    }
    void SetFields(std::initializer_list<Field> fields) {
        for (const Field& field : fields)
            ASSERT_EQ(session_.Set(field.name, field.value), ERROR_SUCCESS) << field.name;
    }

    Session session_;
};

TEST_F(DeferredData, HoldsTheEightFieldsInOrderEachBehindAnX) {
    SetFields({{"INSTALLDIR", "C:\\Program Files\\Vantor Demo\\"},
               {"DEFAULT_CONVERTER", "3001"},
               {"ProductVersion", "2.5.1"},
               {"DEFAULT_PAR_PORT", "1"},
               {"DEFAULT_COM_PORT", "3"},
               {"ProductLanguage", "1031"},
               {"SERIAL_NUMBER", "AB123"},
               {"REINSTALLMODE", "vomus"}});

    ASSERT_EQ(session_.DoAction("SetVantorDeferredData"), ERROR_SUCCESS);

    EXPECT_EQ(session_.Get("VANTOR_DEFERRED_DATA"),
              "XC:\\Program Files\\Vantor Demo\\|X3001|X2.5.1|X1|X3|X1031|XAB123|Xvomus");
}

TEST_F(DeferredData, KeepsAnEmptyValueAsALoneX) {
    SetFields({{"INSTALLDIR", "D:\\Demo\\"},
               {"DEFAULT_CONVERTER", "12"},
               {"ProductVersion", "1.0.0"},
               {"DEFAULT_PAR_PORT", ""},
               {"DEFAULT_COM_PORT", "2"},
               {"ProductLanguage", "1033"},
               {"SERIAL_NUMBER", ""},
               {"REINSTALLMODE", ""}});

    ASSERT_EQ(session_.DoAction("SetVantorDeferredData"), ERROR_SUCCESS);

    EXPECT_EQ(session_.Get("VANTOR_DEFERRED_DATA"), "XD:\\Demo\\|X12|X1.0.0|X|X2|X1033|X|X");
}

} // namespace
