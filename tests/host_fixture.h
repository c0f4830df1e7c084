// Every host test starts on a fresh stand-in machine with one installation
// session, and ends by checking that the code under test closed every
// handle and freed every heap block it took.
#pragma once

#include "platform/host/control.h"

#include <gtest/gtest.h>

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::Reset();
        session = host::OpenSession();
    }
    void TearDown() override {
        EXPECT_EQ(host::OpenHandles(), 0) << "handles or heap blocks left open";
        host::Reset();
    }

    MSIHANDLE session = 0;
};
