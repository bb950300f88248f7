// OBJ files through the command: a deformed target keeps every record of its
// file but the coordinates, and a posed cage must keep the bound cage's faces
// corner for corner.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool StartsWith(const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; }

class ObjRecordsTest : public OstrandTest {
 protected:
  // The example target's points and faces with texture coordinates, normals,
  // objects, groups, materials and smoothing, its faces in the corner forms
  // v/vt, v//vn and v/vt/vn in turn.
  static std::string texturedTarget() {
    std::string text = "# textured capsule\r\nmtllib capsule.mtl\r\no capsule\r\n";
    int face = 0;
    for (const std::string& line : Lines(ReadFile(example("target.obj")))) {
      if (!StartsWith(line, "f ")) {
        text += line + "\n";
        continue;
      }
      if (face == 0)
        text += "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1 # last\nvn 0 -1 0\nvn 0 1 0\nvn 1 0 0 # named by no face\n"
                "g lower\nusemtl skin\ns 1\n";
      if (face == 1600) text += "g upper\r\nusemtl cloth\ns off\n";
      const std::string normal = face < 1600 ? "1" : "2";
      std::istringstream corners(line.substr(2));
      text += "f";
      int k = 0;
      for (std::string corner; corners >> corner; ++k) {
        const std::string texture = "/" + std::to_string(k % 4 + 1);
        text += " " + corner + (face % 3 == 0 ? texture : face % 3 == 1 ? "//" + normal : texture + "/" + normal);
      }
      text += face % 100 == 0 ? "  # every hundredth\n" : "\n";
      ++face;
    }
    return text + "p 1\nl 1 2 3\n# end";
  }
};

TEST_F(ObjRecordsTest, DeformedTargetKeepsEveryRecordButTheCoordinates) {
  const std::string textured = texturedTarget();
  write("textured.obj", textured);
  for (const auto& [target, output] : {std::pair{std::string("textured.obj"), "textured"},
                                       std::pair{example("target.obj"), "plain"}}) {
    const Outcome run = ostrand({"run", "--samples", "4", "--cage", example("cage.obj"), "--target", target, "-o",
                                 output, example("cage_bend.obj")});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  const std::vector<std::string> before = Lines(textured), after = Lines(read("textured/deformed-cage_bend.obj"));
  std::vector<std::string> plain = Lines(read("plain/deformed-cage_bend.obj"));
  plain.erase(std::remove_if(plain.begin(), plain.end(), [](auto& line) { return !StartsWith(line, "v "); }),
              plain.end());
  ASSERT_EQ(after.size(), before.size());
  size_t point = 0, moved = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    if (StartsWith(before[i], "v ")) {
      // The same points as the plain target's, deformed the same way.
      ASSERT_LT(point, plain.size());
      EXPECT_EQ(after[i], plain[point]) << "line " << i + 1;
      moved += after[i] != before[i];
      ++point;
    } else if (!StartsWith(before[i], "vn ") || before[i].find("# named by no face") != std::string::npos) {
      EXPECT_EQ(after[i], before[i]) << "line " << i + 1;
    }
  }
  EXPECT_EQ(point, 3138u);
  EXPECT_GT(moved, 3000u);  // the bent cage moves the target
}

TEST_F(ObjRecordsTest, PosedCageWhoseFaceDiffersIsRefusedAtItsLine) {
  const std::vector<std::string> cage = Lines(ReadFile(example("cage.obj")));
  std::vector<size_t> faceLines;  // 0-based
  for (size_t i = 0; i < cage.size(); ++i)
    if (StartsWith(cage[i], "f ")) faceLines.push_back(i);
  ASSERT_EQ(faceLines.size(), 20u);
  // Each edit changes the faces but neither the point nor the polygon count.
  const struct {
    const char* name;
    size_t face;  // the first face that differs, from 1
    std::vector<std::pair<size_t, std::string>> lines;
  } edits[] = {
      {"turned", 3, {{faceLines[2], "f 7 8 2 1"}}},                         // was f 1 7 8 2
      {"reversed", 20, {{faceLines[19], "f 13 19 24 18"}}},                 // was f 18 24 19 13
      {"swapped", 4, {{faceLines[3], cage[faceLines[4]]}, {faceLines[4], cage[faceLines[3]]}}},
  };
  for (const auto& edit : edits) {
    std::vector<std::string> lines = cage;
    for (const auto& [line, text] : edit.lines) lines[line] = text;
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    const std::string name = std::string(edit.name) + ".obj";
    write(name, text);
    const Outcome run = ostrand({"run", "--samples", "2", "--cage", example("cage.obj"), "--target",
                                 example("target.obj"), "-o", "out", name});
    EXPECT_EQ(run.status, 1) << edit.name;
    const std::string expected = "ostrand: " + name + ":" + std::to_string(faceLines[edit.face - 1] + 1) + ": face " +
                                 std::to_string(edit.face) + " differs ";
    EXPECT_EQ(run.err.substr(0, expected.size()), expected) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(files().count("out/")) << edit.name << ": the output folder was made";
  }
}

}  // namespace
}  // namespace cli_test
