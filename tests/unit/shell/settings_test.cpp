// Where the settings and log files go, and paths too long for their buffers.
#include <gtest/gtest.h>

#include <string>

#include "host_interface/module_state.h"
#include "shell/settings.h"

namespace {

TEST(SettingsPaths, FilesGoBesideTheModuleOrAreSkippedWhenTooLong) {
  char out[ostrand::kPathBufferSize];
  ASSERT_TRUE(ostrand::PathBeside(out, sizeof out, "/opt/host/plugins/libOstrand64.so", "ostrand.log"));
  EXPECT_STREQ(out, "/opt/host/plugins/ostrand.log");
  ASSERT_TRUE(ostrand::PathBeside(out, sizeof out, "libOstrand64.so", "Ostrand.ini"));
  EXPECT_STREQ(out, "libOstrand64.soOstrand.ini");  // no separator: the path is used whole

  // The directory plus the name must stay below the buffer's size.
  std::string directory = "/" + std::string(2047 - 1 - 11 - 1, 'd') + "/";
  EXPECT_TRUE(ostrand::PathBeside(out, sizeof out, (directory + "m.so").c_str(), "ostrand.log"));
  EXPECT_EQ(std::string(out).size(), 2047u);
  std::string longer = "/" + std::string(2047 - 11 - 1, 'd') + "/";
  EXPECT_FALSE(ostrand::PathBeside(out, sizeof out, (longer + "m.so").c_str(), "ostrand.log"));
  EXPECT_STREQ(out, "");
}

TEST(SettingsPaths, ThreadLinesNeedTheKeyAndANumberBehindIt) {
  EXPECT_EQ(ostrand::ParseThreadsLine("num_threads: 8\n"), 8);
  EXPECT_EQ(ostrand::ParseThreadsLine("num_threads:"), 0);  // nothing behind the colon
  EXPECT_EQ(ostrand::ParseThreadsLine("num_threads:\n"), 0);
  EXPECT_EQ(ostrand::ParseThreadsLine("num_threads: +12"), 12);
  EXPECT_EQ(ostrand::ParseThreadsLine("num_threads: 4294967297\n"), 2147483647);
}

}  // namespace
