// Runs the built ostrand program as a separate process in a fresh folder of
// its own, with a private copy of the module (whose settings and log files
// land beside it), and reads what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace cli_test {

struct Outcome {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out, err;
};

// A mesh as written: points in full precision, polygons as 0-based point lists.
struct ObjMesh {
  std::vector<std::array<double, 3>> points;
  std::vector<std::vector<int>> polygons;
};

class OstrandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Runs ostrand with these arguments (after "--module COPY") in root_.
  Outcome ostrand(const std::vector<std::string>& arguments) const;
  // Runs it with exactly these arguments, nothing added.
  Outcome ostrandBare(const std::vector<std::string>& arguments) const;
  // Runs it as ostrand does, killed when still running after limit (status
  // -1, and err says so): for input that might keep it waiting.
  Outcome ostrandWithin(std::chrono::milliseconds limit, const std::vector<std::string>& arguments) const;
  // Runs it (after "--module COPY") with its standard output on a terminal (a
  // pseudo-terminal whose text lands in out).
  Outcome ostrandOnTerminal(const std::vector<std::string>& arguments) const;

  // Starts ostrand (after "--module COPY") in root_ without waiting for it;
  // finish() waits for it and reads what it printed. tag names its output files.
  struct Running {
    int pid = 0;
    std::filesystem::path out, err;
  };
  Running ostrandStart(const std::vector<std::string>& arguments, const std::string& tag) const;
  static Outcome finish(const Running& running);

  static std::string example(const std::string& name);  // path of a bundled example file
  // The module's settings file, beside the suite's copy of the module.
  static std::string settingsFile() { return (std::filesystem::path(module_).parent_path() / "Ostrand.ini").string(); }
  std::string file(const std::string& relative) const { return (root_ / relative).string(); }
  void write(const std::string& relative, const std::string& text) const;
  std::string read(const std::string& relative) const;  // "" when missing
  // Every file below root_, as paths relative to it.
  std::set<std::string> files() const;

  std::filesystem::path root_;

 private:
  static std::filesystem::path suiteFolder_;
  static std::string module_;
};

// Reads "v" and "f" lines with full precision; fails the test on anything else.
ObjMesh ReadObjMesh(const std::string& path);
double Distance(const std::array<double, 3>& a, const std::array<double, 3>& b);
// The diagonal of the points' bounding box.
double Diagonal(const std::vector<std::array<double, 3>>& points);

}  // namespace cli_test
