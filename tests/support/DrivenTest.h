#pragma once

#include <gtest/gtest.h>

// Tests that only another test runs, in a second run of this program:
//   ON_SERVER_TEST_F / ON_SERVER_TEST: on the suite's private X server, started by
//     XvfbTest::runOnServer (or the suite's own driver) from the test beside it;
//   CHILD_TEST: in a child process that its driver kills halfway.
// They are GoogleTest's disabled tests underneath ("DISABLED_" before the name):
// a plain run of a test program, and CTest, list them as disabled and never run
// them on their own. The driver names them as "Suite.DISABLED_Name" together
// with --gtest_also_run_disabled_tests.
#define ON_SERVER_TEST_F(suite, name) TEST_F(suite, DISABLED_##name)
#define ON_SERVER_TEST(suite, name) TEST(suite, DISABLED_##name)
#define CHILD_TEST(suite, name) TEST(suite, DISABLED_##name)
