// Entry of every Windows test executable: boxes are recorded, never shown, in this process and
// in the child processes that death tests start (they run this same main).
#include <gtest/gtest.h>

#include "tests/support/message_recorder.h"

int main(int argc, char** argv) {
  tambrel::test::install_message_recorder();
  testing::InitGoogleTest(&argc, argv);
  // Threadsafe death tests re-run the executable, so the child starts clean.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
