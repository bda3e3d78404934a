// The update flag in the simulated router's private /tmp.
#include <gtest/gtest.h>
#include <unistd.h>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using UpdateFlag = brim_test::SandboxTest;

TEST_F(UpdateFlag, SetClearAndMissing) {
  EXPECT_EQ(set_vz_update_flag(), 0);
  EXPECT_EQ(brim_test::read_file("/tmp/update_flag"), "1\n");
  EXPECT_EQ(get_vz_update_flag(), 1);
  EXPECT_EQ(clear_vz_update_flag(), 0);
  EXPECT_EQ(brim_test::read_file("/tmp/update_flag"), "0\n");
  EXPECT_EQ(get_vz_update_flag(), 0);
  EXPECT_EQ(set_vz_update_flag(), 0);
  unlink("/tmp/update_flag");
  EXPECT_EQ(get_vz_update_flag(), 0);
  ASSERT_TRUE(brim_test::write_file("/tmp/update_flag", ""));  // between truncation and write
  EXPECT_EQ(get_vz_update_flag(), 0);
}

}  // namespace
