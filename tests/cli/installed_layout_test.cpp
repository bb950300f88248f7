// The command as installed: <prefix>/bin/ostrand takes the module from
// <prefix>/lib/ostrand/ and the bundled example from
// <prefix>/share/ostrand/examples/ before those of the trees it was built in,
// which it uses when nothing is installed beside it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ostrand_runner.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

class InstalledLayoutTest : public OstrandTest {
 protected:
  void SetUp() override {
    OstrandTest::SetUp();
    prefix_ = root_ / "prefix";
    fs::create_directories(prefix_ / "bin");
    fs::copy_file(OSTRAND_CLI_PATH, program());
    fs::create_directories(root_ / "work");
  }

  fs::path program() const { return prefix_ / "bin" / "ostrand"; }
  fs::path moduleDir() const { return prefix_ / "lib" / "ostrand"; }
  fs::path exampleDir() const { return prefix_ / "share" / "ostrand" / "examples"; }

  void installModule() const {
    fs::create_directories(moduleDir());
    fs::copy_file(OSTRAND_MODULE_PATH, moduleDir() / "libOstrand64.so");
  }

  // Runs the copied program in root_/work, with its standard output and
  // error kept apart.
  Outcome run(const std::string& arguments) const {
    const fs::path out = root_ / "stdout.txt", err = root_ / "stderr.txt";
    const std::string command = "cd '" + (root_ / "work").string() + "' && '" + program().string() + "' " +
                                arguments + " >'" + out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = read("stdout.txt");
    outcome.err = read("stderr.txt");
    return outcome;
  }

  fs::path prefix_;
};

TEST_F(InstalledLayoutTest, LoadsTheModuleInstalledBesideIt) {
  // Something that is no module there: the command fails on it rather than
  // passing over it to the built module.
  fs::create_directories(moduleDir());
  write("prefix/lib/ostrand/libOstrand64.so", "not a module\n");
  const std::string installed = (moduleDir() / "libOstrand64.so").string();
  Outcome broken = run("example -o out");
  EXPECT_EQ(broken.status, 1) << broken.out << broken.err;
  EXPECT_EQ(broken.err.rfind("ostrand: " + installed + ": ", 0), 0u) << broken.err;
  EXPECT_EQ(broken.err.find('\n'), broken.err.size() - 1) << broken.err;  // one line

  fs::remove(moduleDir() / "libOstrand64.so");
  installModule();
  Outcome help = run("--help");
  EXPECT_NE(help.out.find("--module FILE=" + installed + "\n"), std::string::npos) << help.out;
  Outcome example = run("example -o out -q");
  ASSERT_EQ(example.status, 0) << example.err;
  EXPECT_TRUE(fs::is_regular_file(root_ / "work" / "out" / "deformed-cage_bend.obj"));
  // The module keeps its log beside the file it was loaded from.
  EXPECT_NE(read("prefix/lib/ostrand/ostrand.log").find("FX_PLUGIN_OK"), std::string::npos);
}

TEST_F(InstalledLayoutTest, ReadsTheExampleInstalledBesideIt) {
  installModule();
  fs::create_directories(exampleDir());
  for (const char* name : {"cage.obj", "cage_bend.obj", "cage_twist.obj", "cage_squash.obj"})
    fs::copy_file(example(name), exampleDir() / name);
  // No target.obj among the installed ones: the source tree's is not taken instead.
  Outcome missing = run("example -o out");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("ostrand: " + (exampleDir() / "target.obj").string() + ": ", 0), 0u) << missing.err;

  fs::copy_file(example("target.obj"), exampleDir() / "target.obj");
  Outcome run1 = run("example -o out -q");
  ASSERT_EQ(run1.status, 0) << run1.err;
  const ObjMesh deformed = ReadObjMesh(file("work/out/deformed-cage_twist.obj"));
  EXPECT_EQ(deformed.points.size(), ReadObjMesh(example("target.obj")).points.size());
}

TEST_F(InstalledLayoutTest, WithNothingBesideItUsesTheTreesItWasBuiltIn) {
  Outcome help = run("--help");
  EXPECT_NE(help.out.find("--module FILE=" + std::string(OSTRAND_MODULE_PATH) + "\n"), std::string::npos) << help.out;
  // A private copy of the built module (--threads), whose log and settings
  // stay out of the build tree.
  Outcome example = run("example -o out -q --threads 2");
  ASSERT_EQ(example.status, 0) << example.err;
  EXPECT_TRUE(fs::is_regular_file(root_ / "work" / "out" / "deformed-cage_squash.obj"));
  EXPECT_FALSE(fs::exists(prefix_ / "lib"));
}

}  // namespace
}  // namespace cli_test
