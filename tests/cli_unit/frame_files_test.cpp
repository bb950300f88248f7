// The files of a frame sequence: numbered names both ways, the ranges the
// user picks and natural order. (The files a pattern, a folder or a wildcard
// gives are listed through the command, in tests/cli/animation_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "cli/frame_files.h"

namespace {

using cli::FindFramePattern;
using cli::FrameRange;
using cli::ParseFrameRange;

TEST(FramePattern, NamesAndNumbersGoBothWaysExactly) {
  for (const char* text : {"shots/cage.####.obj", "shots/cage.%04d.obj"}) {
    SCOPED_TRACE(text);
    const auto pattern = FindFramePattern(text);
    ASSERT_TRUE(pattern);
    EXPECT_EQ(pattern->name(12), "shots/cage.0012.obj");
    EXPECT_EQ(pattern->printfText(), "shots/cage.%04d.obj");
    EXPECT_EQ(pattern->name(12345), "shots/cage.12345.obj");  // wider than the padding
    EXPECT_EQ(pattern->number("shots/cage.0012.obj"), 12);
    EXPECT_EQ(pattern->number("shots/cage.12345.obj"), 12345);
    // Only what name() writes: other spellings of a number are other files.
    for (const char* other : {"shots/cage.12.obj", "shots/cage.00012.obj", "shots/cage.001a.obj", "shots/cage..obj",
                              "shots/cage.0012.obj.bak", "other/cage.0012.obj"})
      EXPECT_EQ(pattern->number(other), std::nullopt) << other;
  }
  const auto plain = FindFramePattern("c%d.obj");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->number("c0.obj"), 0);
  EXPECT_EQ(plain->printfText(), "c%d.obj");
  EXPECT_EQ(plain->number("c10.obj"), 10);
  EXPECT_EQ(plain->number("c010.obj"), std::nullopt);
  EXPECT_EQ(plain->number("c1234567890.obj"), std::nullopt);  // beyond nine digits

  for (const char* none : {"cage.obj", "100%.obj", "c%5d.obj", "c%x.obj", ""})
    EXPECT_EQ(FindFramePattern(none), std::nullopt) << none;
  for (const char* wrong : {"c.##.%02d.obj", "c#.#.obj", "f####/cage.obj", "c##########.obj"})
    EXPECT_THROW(FindFramePattern(wrong), std::invalid_argument) << wrong;
}

TEST(FrameRange, AcceptsRangesStepsAndSingleFramesOnly) {
  const auto range = [](const char* text) { return ParseFrameRange(text); };
  ASSERT_TRUE(range("1-10"));
  EXPECT_EQ(range("1-10")->first, 1);
  EXPECT_EQ(range("1-10")->last, 10);
  EXPECT_EQ(range("1-10")->step, 1);
  EXPECT_EQ(range("0-100:5")->step, 5);
  EXPECT_EQ(range("7")->first, 7);
  EXPECT_EQ(range("7")->last, 7);
  EXPECT_EQ(range("0-999999999")->last, 999999999);
  for (const char* bad : {"", "a", "3-1", "1-5:0", "1:2", "-3", "1-", "1-5:", "1-5:2:3", "1000000000", "1 - 5",
                          "+1-5", "1-5:-1", "0x10"})
    EXPECT_EQ(range(bad), std::nullopt) << bad;

  const FrameRange everyThird = *range("10-20:3");
  std::vector<long> held;
  for (long n = 0; n < 30; ++n)
    if (everyThird.holds(n)) held.push_back(n);
  EXPECT_EQ(held, (std::vector<long>{10, 13, 16, 19}));
}

TEST(NaturalOrder, NumbersCompareAsNumbers) {
  std::vector<std::string> names = {"c10.obj", "c2.obj", "c1.obj", "c01.obj", "b.obj", "c2a.obj", "c2.obj2", "c"};
  std::mt19937 shuffle(3);
  for (int round = 0; round < 5; ++round) {
    std::shuffle(names.begin(), names.end(), shuffle);
    std::sort(names.begin(), names.end(), cli::NaturalLess);
    EXPECT_EQ(names, (std::vector<std::string>{"b.obj", "c", "c01.obj", "c1.obj", "c2.obj", "c2.obj2", "c2a.obj",
                                               "c10.obj"}));
  }
  EXPECT_TRUE(cli::NaturalLess("shots/2/cage.obj", "shots/10/cage.obj"));
  EXPECT_TRUE(cli::NaturalLess("f99999999999999999999", "f100000000000000000000"));  // beyond any integer type
  EXPECT_FALSE(cli::NaturalLess("c1", "c1"));
}

}  // namespace
