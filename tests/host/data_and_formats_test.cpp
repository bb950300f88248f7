// Data records, formats and named values.
#include <gtest/gtest.h>

#include <cstring>

#include "host_test_support.h"

namespace {

using host::Host;

TEST(DataRecords, KeptPerIdAndKey) {
  Host host;
  const uint32_t effect = host.createEffect({});
  int first = 1, second = 2;
  auto set = HOST_FN(fxDataSet);
  auto get = HOST_FN(fxDataGet);
  auto release = HOST_FN(fxDataFree);
  EXPECT_EQ(get(effect, ostrand::kInstanceDataKey, 0), nullptr);
  set(effect, ostrand::kInstanceDataKey, 0, &first);
  set(effect, "other", 0, &second);
  set(777, ostrand::kInstanceDataKey, 0, &second);  // an id that is no effect item
  EXPECT_EQ(get(effect, ostrand::kInstanceDataKey, 0), &first);
  EXPECT_EQ(host.effect(effect)->data.at(ostrand::kInstanceDataKey), &first);
  EXPECT_EQ(get(777, ostrand::kInstanceDataKey, 0), &second);
  EXPECT_EQ(release(effect, ostrand::kInstanceDataKey, 0), 1);
  EXPECT_EQ(get(effect, ostrand::kInstanceDataKey, 0), nullptr);
  EXPECT_EQ(get(effect, "other", 0), &second);
  EXPECT_EQ(release(effect, ostrand::kInstanceDataKey, 0), 0);
}

class Formats : public ::testing::Test {
 protected:
  Host host;
  uint32_t effect = host.createEffect({});
  void* handle = host.handleOf(effect);
};

TEST_F(Formats, EveryTypeRoundTripsThroughTheStoredFormat) {
  void* format = HOST_FN(fxFormatNew)(handle, "Ostrand", 0);
  ASSERT_NE(format, nullptr);
  const int32_t weight[3] = {7, -1, 3};
  EXPECT_EQ(HOST_FN(fxArgSaveInt)(format, "i", -5, 0), 1);
  EXPECT_EQ(HOST_FN(fxArgSaveDouble)(format, "d", 0.1, 0), 1);
  EXPECT_EQ(HOST_FN(fxArgSaveObj)(format, "o", 4000000000u, 0), 1);
  EXPECT_EQ(HOST_FN(fxArgSaveWeight)(format, "w", weight, 0), 1);
  EXPECT_EQ(HOST_FN(fxArgSaveString)(format, "s", "a path/with spaces", 0), 1);
  EXPECT_EQ(HOST_FN(fxArgSaveInt)(format, "i", 6, 0), 1);  // a second save replaces

  const host::Format& stored = host.effect(effect)->formats.at("Ostrand");
  ASSERT_EQ(stored.values.size(), 5u);
  EXPECT_EQ(stored.values[0].first, "i");
  EXPECT_EQ(stored.values[4].first, "s");

  void* loaded = HOST_FN(fxFormatGet)(handle, "Ostrand");
  int32_t i = 0;
  double d = 0;
  uint32_t o = 0;
  int32_t w[3] = {0, 0, 0};
  char s[64];
  EXPECT_EQ(HOST_FN(fxArgLoadInt)(loaded, "i", &i), 1);
  EXPECT_EQ(HOST_FN(fxArgLoadDouble)(loaded, "d", &d), 1);
  EXPECT_EQ(HOST_FN(fxArgLoadObj)(loaded, "o", &o), 1);
  EXPECT_EQ(HOST_FN(fxArgLoadWeight)(loaded, "w", w), 1);
  EXPECT_EQ(HOST_FN(fxArgLoadString)(loaded, "s", s, sizeof s), 1);
  EXPECT_EQ(i, 6);
  EXPECT_EQ(d, 0.1);
  EXPECT_EQ(o, 4000000000u);
  EXPECT_EQ(std::vector<int32_t>(w, w + 3), (std::vector<int32_t>{7, -1, 3}));
  EXPECT_STREQ(s, "a path/with spaces");

  // fxFormatNew starts the format afresh
  HOST_FN(fxFormatNew)(handle, "Ostrand", 0);
  EXPECT_EQ(HOST_FN(fxArgLoadInt)(HOST_FN(fxFormatGet)(handle, "Ostrand"), "i", &i), 0);
}

TEST_F(Formats, LoadOfMissingOrOtherTypedKeyLeavesDestinationUntouched) {
  void* format = HOST_FN(fxFormatNew)(handle, "Ostrand", 0);
  HOST_FN(fxArgSaveInt)(format, "count", 3, 0);
  HOST_FN(fxArgSaveString)(format, "path", "x", 0);
  void* loaded = HOST_FN(fxFormatGet)(handle, "Ostrand");
  int32_t i = 41;
  double d = 2.5;
  uint32_t o = 9;
  int32_t w[3] = {1, 2, 3};
  char s[8] = "keep";
  EXPECT_EQ(HOST_FN(fxArgLoadInt)(loaded, "missing", &i), 0);
  EXPECT_EQ(HOST_FN(fxArgLoadDouble)(loaded, "count", &d), 0);  // saved as int
  EXPECT_EQ(HOST_FN(fxArgLoadObj)(loaded, "count", &o), 0);
  EXPECT_EQ(HOST_FN(fxArgLoadWeight)(loaded, "path", w), 0);
  EXPECT_EQ(HOST_FN(fxArgLoadString)(loaded, "count", s, sizeof s), 0);
  EXPECT_EQ(i, 41);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(o, 9u);
  EXPECT_EQ(w[2], 3);
  EXPECT_STREQ(s, "keep");

  // A format never saved reads as empty and takes no values
  void* empty = HOST_FN(fxFormatGet)(handle, "Never");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(HOST_FN(fxArgLoadInt)(empty, "count", &i), 0);
  EXPECT_EQ(HOST_FN(fxArgSaveInt)(empty, "count", 1, 0), 0);
  EXPECT_EQ(HOST_FN(fxArgLoadInt)(HOST_FN(fxFormatGet)(handle, "Never"), "count", &i), 0);
  EXPECT_EQ(i, 41);
  // Handles and formats that are not the host's
  int notAHandle = 0;
  EXPECT_EQ(HOST_FN(fxFormatNew)(&notAHandle, "Ostrand", 0), nullptr);
  EXPECT_EQ(HOST_FN(fxArgSaveInt)(&notAHandle, "count", 1, 0), 0);
  EXPECT_EQ(HOST_FN(fxArgLoadInt)(nullptr, "count", &i), 0);
}

TEST_F(Formats, LoadStringWritesAtMostSizeBytes) {
  void* format = HOST_FN(fxFormatNew)(handle, "Ostrand", 0);
  HOST_FN(fxArgSaveString)(format, "path", "abcdefgh", 0);
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(HOST_FN(fxArgLoadString)(format, "path", buffer, 4), 1);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], '#');
  EXPECT_EQ(HOST_FN(fxArgLoadString)(format, "path", buffer, 0), 0);
  EXPECT_EQ(buffer[0], 'a');
}

TEST(Paths, BoundedCopiesOfPluginPathAndBaseDirectory) {
  Host host;
  host.setPluginPath("/opt/orrery/plugins/libOstrand64.so");
  host.setBaseDirectory("/projects/scene");
  char buffer[64], small[6];
  EXPECT_EQ(HOST_FN(fxPluginPath)(buffer, sizeof buffer, 0), 1);
  EXPECT_STREQ(buffer, "/opt/orrery/plugins/libOstrand64.so");
  EXPECT_EQ(HOST_FN(fxPathGet)(ostrand::kPathKindBase, buffer, sizeof buffer, 0), 1);
  EXPECT_STREQ(buffer, "/projects/scene");
  EXPECT_EQ(HOST_FN(fxPathGet)(ostrand::kPathKindBase, small, sizeof small, 0), 1);
  EXPECT_STREQ(small, "/proj");
  EXPECT_EQ(HOST_FN(fxPathGet)(3, buffer, sizeof buffer, 0), 0);
  EXPECT_EQ(HOST_FN(fxPluginPath)(nullptr, 10, 0), 0);
}

}  // namespace
