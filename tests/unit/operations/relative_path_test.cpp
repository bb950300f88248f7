// Converting the weights-file path to and from the form a scene stores, in
// the Windows form and the POSIX form alike.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "operations/relative_path.h"

namespace {

using ostrand::kPosixPaths;
using ostrand::kWindowsPaths;
using ostrand::PathStyle;

std::string Make(PathStyle style, const std::string& base, const std::string& full, size_t size = 2048) {
  std::vector<char> out(size, 'x');
  ostrand::MakeRelativePathIn(style, nullptr, out.data(), size, base.c_str(), full.c_str());
  return size == 0 ? "" : std::string(out.data(), strnlen(out.data(), size));
}

std::string Resolve(PathStyle style, const std::string& base, const std::string& stored, size_t size = 6144) {
  std::vector<char> out(size, 'x');
  ostrand::ResolveRelativePathIn(style, out.data(), size, base.c_str(), stored.c_str());
  return size == 0 ? "" : std::string(out.data(), strnlen(out.data(), size));
}

struct Row {
  const char* full;
  const char* stored;
};

TEST(RelativePath, TableBothDirectionsInBothForms) {
  const Row windows[] = {{"C:\\work\\scenes\\wa.cw", "wa.cw"},
                         {"C:\\work\\scenes\\cache\\wa.cw", "cache\\wa.cw"},
                         {"C:\\work\\weights\\wa.cw", "..\\weights\\wa.cw"},
                         {"C:\\other\\wa.cw", "..\\..\\other\\wa.cw"},
                         {"D:\\work\\wa.cw", "D:\\work\\wa.cw"}};
  for (const Row& row : windows) {
    EXPECT_EQ(Make(kWindowsPaths, "C:\\work\\scenes\\", row.full), row.stored);
    EXPECT_EQ(Make(kWindowsPaths, "C:\\work\\scenes", row.full), row.stored);
    EXPECT_EQ(Resolve(kWindowsPaths, "C:\\work\\scenes", row.stored), row.full);
    EXPECT_EQ(Resolve(kWindowsPaths, "C:\\work\\scenes\\", row.stored), row.full);
  }
  const Row posix[] = {{"/work/scenes/wa.cw", "wa.cw"},
                       {"/work/scenes/cache/wa.cw", "cache/wa.cw"},
                       {"/work/weights/wa.cw", "../weights/wa.cw"},
                       {"/other/wa.cw", "../../other/wa.cw"}};
  for (const Row& row : posix) {
    EXPECT_EQ(Make(kPosixPaths, "/work/scenes/", row.full), row.stored);
    EXPECT_EQ(Make(kPosixPaths, "/work/scenes", row.full), row.stored);
    EXPECT_EQ(Resolve(kPosixPaths, "/work/scenes", row.stored), row.full);
  }
}

TEST(RelativePath, TraceOfAFileInTheBaseDirectory) {
  FILE* trace = std::tmpfile();
  ASSERT_NE(trace, nullptr);
  char out[2048];
  ostrand::MakeRelativePathIn(kWindowsPaths, trace, out, sizeof out, "C:\\a\\", "C:\\a\\w.cw");
  std::rewind(trace);
  std::string text;
  for (int c; (c = std::fgetc(trace)) != EOF;) text += static_cast<char>(c);
  std::fclose(trace);
  EXPECT_STREQ(out, "w.cw");
  EXPECT_EQ(text,
            "STARTING\nwork_file C:\\a\\w.cw\nwork_content C:\\a\\\n"
            "\nITERATION\nslash_index 2\ncmp1 C:\ncmp2 C:\ncompare true\nwork_content a\\\nwork_file a\\w.cw\n"
            "\nITERATION\nslash_index 1\ncmp1 a\ncmp2 a\ncompare true\nwork_content \nwork_file w.cw\n");
}

#ifndef _WIN32
TEST(RelativePath, PublicFunctionsUseThePlatformFormAndTraceToStandardOutput) {
  char out[2048];
  testing::internal::CaptureStdout();
  ostrand::MakeRelativePath(out, sizeof out, "/a", "/b/w.cw");
  std::string text = testing::internal::GetCapturedStdout();
  EXPECT_STREQ(out, "../b/w.cw");
  EXPECT_EQ(text,
            "STARTING\nwork_file /b/w.cw\nwork_content /a/\n"
            "\nITERATION\nslash_index 0\ncmp1 \ncmp2 \ncompare true\nwork_content a/\nwork_file b/w.cw\n"
            "\nITERATION\nslash_index 1\ncmp1 b\ncmp2 a\ncompare false\nwork_content \nwork_file ../b/w.cw\n");
  ostrand::ResolveRelativePath(out, sizeof out, "/a", out);
  EXPECT_STREQ(out, "/b/w.cw");
}
#endif

TEST(RelativePath, AbsolutePathsAreKept) {
  // Another drive, or the same drive letter in another case.
  EXPECT_EQ(Make(kWindowsPaths, "C:\\a\\", "c:\\a\\w.cw"), "c:\\a\\w.cw");
  EXPECT_EQ(Resolve(kWindowsPaths, "C:\\a", "D:\\w.cw"), "D:\\w.cw");
  EXPECT_EQ(Resolve(kWindowsPaths, "C:\\a", "\\\\server\\share\\w.cw"), "\\\\server\\share\\w.cw");
  EXPECT_EQ(Resolve(kPosixPaths, "/a", "/b/w.cw"), "/b/w.cw");
  // A remainder that would read as absolute is not stored relative.
  EXPECT_EQ(Make(kPosixPaths, "/a", "/a//x.cw"), "/a//x.cw");
  EXPECT_EQ(Make(kWindowsPaths, "C:\\a", "C:\\a\\b:c.cw"), "C:\\a\\b:c.cw");
  // One character is never a drive.
  EXPECT_EQ(Resolve(kWindowsPaths, "C:\\a", ":"), "C:\\a\\:");
}

TEST(RelativePath, StepsUpRemoveBaseComponents) {
  EXPECT_EQ(Resolve(kWindowsPaths, "C:\\a\\b\\c", "..\\..\\x.cw"), "C:\\a\\x.cw");
  EXPECT_EQ(Resolve(kPosixPaths, "/a/b/c", "../../x.cw"), "/a/x.cw");
  // More steps than the base has components: no climbing above its root.
  EXPECT_EQ(Resolve(kWindowsPaths, "C:\\a", "..\\..\\..\\x.cw"), "C:\\x.cw");
  EXPECT_EQ(Resolve(kPosixPaths, "/a", "../../../x.cw"), "/x.cw");
  EXPECT_EQ(Resolve(kPosixPaths, "/", "../x.cw"), "/x.cw");
  // An empty stored path names the base directory itself.
  EXPECT_EQ(Resolve(kWindowsPaths, "C:\\a\\b", ""), "C:\\a\\b\\");
}

TEST(RelativePath, ComponentIsSharedOnlyWhenWhole) {
  // Base component "ab" is not the full path's "abc".
  EXPECT_EQ(Make(kWindowsPaths, "C:\\w\\ab", "C:\\w\\abc\\x.cw"), "..\\abc\\x.cw");
  EXPECT_EQ(Resolve(kWindowsPaths, "C:\\w\\ab", "..\\abc\\x.cw"), "C:\\w\\abc\\x.cw");
  EXPECT_EQ(Make(kPosixPaths, "/w/ab/", "/w/abc"), "../abc");
  EXPECT_EQ(Make(kPosixPaths, "/w/ab/", "/w/ab"), "");
  // Once the path has left the base, every further base component is a step up.
  EXPECT_EQ(Make(kPosixPaths, "/a/b/c", "/a/x/c/w.cw"), "../../x/c/w.cw");
  // A path that ends where a component ends shares nothing after it.
  EXPECT_EQ(Make(kPosixPaths, "/a//b", "/a"), "../../");
  EXPECT_EQ(Resolve(kPosixPaths, "/a//b", "../../"), "/a/");
  // A doubled separator in the base is an empty component.
  EXPECT_EQ(Make(kPosixPaths, "/a//b", "/a/w.cw"), "../../w.cw");
  EXPECT_EQ(Resolve(kPosixPaths, "/a//b", "../../w.cw"), "/a/w.cw");
}

TEST(RelativePath, OddInputsStayInsideTheirBuffers) {
  // Empty base directory or empty path.
  EXPECT_EQ(Make(kWindowsPaths, "", ""), "");
  EXPECT_EQ(Make(kWindowsPaths, "", "C:\\w.cw"), "C:\\w.cw");
  EXPECT_EQ(Make(kPosixPaths, "/a", ""), "");
  EXPECT_EQ(Resolve(kPosixPaths, "", "w.cw"), "/w.cw");
  EXPECT_EQ(Resolve(kWindowsPaths, "", "..\\w.cw"), "\\w.cw");

  // Inputs beyond the working copies and results beyond the output buffer are
  // cut; the output is always terminated within its size.
  const std::string deep = "/" + std::string(3000, 'd') + "/" + std::string(3000, 'e');
  const std::string steps = [] {
    std::string s = "/";
    for (int i = 0; i < 2500; ++i) s += "s/";
    return s;
  }();
  for (size_t size : {size_t{2048}, size_t{16}, size_t{1}}) {
    EXPECT_LE(Make(kPosixPaths, steps, "/x/w.cw", size).size(), size - 1);
    EXPECT_LE(Make(kPosixPaths, deep, deep + "/w.cw", size).size(), size - 1);
    EXPECT_LE(Make(kPosixPaths, "/q", deep, size).size(), size - 1);
    EXPECT_LE(Resolve(kPosixPaths, deep, deep, size).size(), size - 1);
    EXPECT_LE(Resolve(kPosixPaths, steps, steps.substr(1), size).size(), size - 1);
  }
  EXPECT_EQ(Make(kPosixPaths, steps, "/x/w.cw").size(), 2047u);
  EXPECT_EQ(Make(kPosixPaths, "/a", "/a/w.cw", 0), "");
  EXPECT_EQ(Resolve(kPosixPaths, "/a", "w.cw", 0), "");

  // The output may be the buffer the input came from.
  char path[64] = "C:\\a\\b\\w.cw";
  ostrand::MakeRelativePathIn(kWindowsPaths, nullptr, path, sizeof path, "C:\\a", path);
  EXPECT_STREQ(path, "b\\w.cw");
  ostrand::ResolveRelativePathIn(kWindowsPaths, path, sizeof path, "C:\\a", path);
  EXPECT_STREQ(path, "C:\\a\\b\\w.cw");
}

}  // namespace
