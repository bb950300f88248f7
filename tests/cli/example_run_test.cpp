// The program run as a user first meets it: no arguments, the bundled example.
#include <gtest/gtest.h>

#include <algorithm>

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <regex>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

using ExampleRunTest = OstrandTest;

// Pixels, three bytes each, of a PNG file; fails the test when it is no PNG.
std::vector<uint8_t> LoadPng(const std::string& path, int* width, int* height) {
  int channels = 0;
  uint8_t* data = stbi_load(path.c_str(), width, height, &channels, 3);
  EXPECT_NE(data, nullptr) << path << ": " << stbi_failure_reason();
  if (data == nullptr) return {};
  std::vector<uint8_t> pixels(data, data + size_t(*width) * *height * 3);
  stbi_image_free(data);
  return pixels;
}

// Pixels of the left and right halves that differ clearly (not by a shade),
// and how many of each half are not the background of a bottom corner.
struct Halves {
  long differing = 0, drawnLeft = 0, drawnRight = 0;
};

Halves CompareHalves(const std::vector<uint8_t>& pixels, int width, int height) {
  Halves h;
  const int half = width / 2;
  auto at = [&](int x, int y) { return &pixels[(size_t(y) * width + x) * 3]; };
  auto apart = [](const uint8_t* a, const uint8_t* b) {
    return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) > 24;
  };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < half; ++x) {
      const uint8_t *left = at(x, y), *right = at(x + half, y);
      h.differing += apart(left, right);
      h.drawnLeft += !std::equal(left, left + 3, at(0, height - 1));
      h.drawnRight += !std::equal(right, right + 3, at(width - 1, height - 1));
    }
  return h;
}

TEST_F(ExampleRunTest, WithoutArgumentsBindsAndDeformsTheExampleIntoOstrandOut) {
  Outcome run = ostrand({});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::set<std::string> expected = {
      "ostrand-out/",
      "ostrand-out/weights.cw",
      "ostrand-out/scene.json",
      "ostrand-out/deformed-cage_twist.obj",
      "ostrand-out/deformed-cage_bend.obj",
      "ostrand-out/deformed-cage_squash.obj",
      "ostrand-out/preview.png",
  };
  EXPECT_EQ(files(), expected);  // nothing else, no temporary file left behind

  // Progress as plain lines (the output is no terminal), then the summary.
  EXPECT_NE(run.out.find("100%  target: calculating coordinates 10 / 10\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  for (const char* line : {"  points bound      3138 of 3138\n", "  weights per point mean ", "  bind time         ",
                           "  deform time       ", "(3 frames, ", "  rest-pose error   largest "})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;

  // Each deformed target has the target's polygons in order, and has moved.
  const ObjMesh target = ReadObjMesh(example("target.obj"));
  for (const char* pose : {"twist", "bend", "squash"}) {
    const ObjMesh deformed = ReadObjMesh(file(std::string("ostrand-out/deformed-cage_") + pose + ".obj"));
    EXPECT_EQ(deformed.polygons, target.polygons) << pose;
    ASSERT_EQ(deformed.points.size(), target.points.size()) << pose;
    double largest = 0;
    for (size_t i = 0; i < target.points.size(); ++i)
      largest = std::max(largest, Distance(deformed.points[i], target.points[i]));
    EXPECT_GT(largest, 0.05) << pose;
  }

  int width = 0, height = 0;
  const auto pixels = LoadPng(file("ostrand-out/preview.png"), &width, &height);
  EXPECT_EQ(width, 1200);
  EXPECT_EQ(height, 600);
}

TEST_F(ExampleRunTest, PreviewIsAPngOfTheGivenSizeWhoseHalvesDiffer) {
  Outcome run = ostrand({"run", "--samples", "4", "--cage", example("cage.obj"), "--target", example("target.obj"),
                         example("cage_twist.obj"), example("cage_bend.obj"), "--preview", "pictures/bend.png",
                         "--preview-size", "321x160", "--preview-pose", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  int width = 0, height = 0;
  const auto pixels = LoadPng(file("pictures/bend.png"), &width, &height);
  ASSERT_EQ(width, 321);
  ASSERT_EQ(height, 160);
  const Halves halves = CompareHalves(pixels, width, height);
  EXPECT_GT(halves.drawnLeft, width * height / 20);  // the rest target and cage are there
  EXPECT_GT(halves.drawnRight, width * height / 20);
  EXPECT_GT(halves.differing, width * height / 50);  // and the bent one differs from them

  // The rest cage as the pose: the halves differ little (labels, divider), once
  // the bind gives the rest pose back closely.
  Outcome rest = ostrand({"run", "--samples", "32", "--cage", example("cage.obj"), "--target", example("target.obj"),
                          example("cage.obj"), "--preview", "rest.png", "--preview-size", "321x160"});
  ASSERT_EQ(rest.status, 0) << rest.err;
  const auto restPixels = LoadPng(file("rest.png"), &width, &height);
  EXPECT_LT(CompareHalves(restPixels, width, height).differing, halves.differing / 4);
}

TEST_F(ExampleRunTest, OnATerminalProgressIsABarRedrawnInPlace) {
  Outcome run = ostrandOnTerminal({"example", "--samples", "2", "-o", "out"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\r\033[K[###...........................]  10%  target: calculating coordinates 1 / 10"),
            std::string::npos)
      << run.out;
  // The bar ends its line before the next one starts, and the summary follows.
  EXPECT_NE(run.out.find("[##############################] 100%  target: calculating coordinates 10 / 10\r\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("100%  writing out/scene.json\r\nSummary"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\n 10%"), std::string::npos);  // no plain lines
}

TEST_F(ExampleRunTest, QuietPrintsNothingButWarningsAndBadArgumentsExitWithTwo) {
  // Two samples leave the rest pose far off: warned of, however quiet.
  Outcome quiet = ostrand({"example", "--samples", "2", "-o", "out", "--quiet"});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err.rfind("ostrand: warning: rest-pose error above 0.01 of the cage's size at ", 0), 0u) << quiet.err;
  EXPECT_EQ(std::count(quiet.err.begin(), quiet.err.end(), '\n'), 1) << quiet.err;
  EXPECT_TRUE(files().count("out/preview.png"));
  quiet = ostrand({"example", "--samples", "2", "-o", "out", "--quiet", "--warn-rest-error", "1"});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out + quiet.err, "");

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"run", "--samples", "0", "--cage", "c.obj", "--target", "t.obj", "p.obj"},
        {"bind", "--cage", "c.obj"},
        {"deform", "p.obj"},
        {"deform", "--scene", "s.json", "--cage", "c.obj", "p.obj"},
        {"run", "--cage", "c.obj", "--target", "t.obj", "p.obj", "--preview-size", "12x"},
        {"unknown"}}) {
    Outcome bad = ostrand(arguments);
    EXPECT_EQ(bad.status, 2) << arguments[0] << " " << arguments[1] << "\n" << bad.err;
    EXPECT_NE(bad.err, "");
  }
  EXPECT_EQ(files(), (std::set<std::string>{"out/", "out/deformed-cage_bend.obj", "out/deformed-cage_squash.obj",
                                            "out/deformed-cage_twist.obj", "out/preview.png", "out/scene.json",
                                            "out/weights.cw"}));

  Outcome help = ostrandBare({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"bind", "deform", "run", "example", "--module", "Weight map files"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace cli_test
