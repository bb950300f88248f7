// Writing the weights file never costs the user the file that was there: a
// failure at any step (injected or real) leaves it byte for byte, removes the
// temporary file and is told once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "instance/instance.h"
#include "operations/weights_file.h"
#include "platform/file_replace.h"
#include "support/dense_rows.h"
#include "support/module_fixture.h"

namespace {

namespace fs = std::filesystem;
using ostrand::FileStep;
using test_support::CubeMesh;
using test_support::PointCloud;

const std::string kPrevious = "the previous weights file, whatever it held";

std::string Load(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string NotWritten(const fs::path& path, int error) {
  return "The weights file \"" + path.string() + "\" could not be written (" + std::strerror(error) +
         "); the previous file is unchanged.";
}

class WeightsFileWriteTest : public test_support::ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    dir_ = fs::path(testing::TempDir()) / ("ostrand_write_" + std::string(testing::UnitTest::GetInstance()
                                                                               ->current_test_info()
                                                                               ->name()) +
                                           "_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = dir_ / "w.cw";
  }
  void TearDown() override {
    for (int s = 0; s < static_cast<int>(FileStep::kCount); ++s) ostrand::SetFileFailure(FileStep(s), -1, 0);
    if (mounted_) std::system(("umount '" + dir_.string() + "'").c_str());
    chmod(dir_.c_str(), 0755);
    fs::remove_all(dir_);
    ModuleTest::TearDown();
  }

  // An instance of one target of `points` points, every one active, that
  // writes to path_.
  EffectInstance* calculated(int points) {
    std::vector<Vec3> cloud;
    for (int i = 0; i < points; ++i) cloud.push_back({0.001 * i, 0.25, -0.25});
    uint32_t target = host().addObject("target", PointCloud(cloud));
    EffectInstance* instance = instanceOf(makeEffect({target}));
    instance->Cage = host().addObject("cage", CubeMesh());
    test_support::PrepareDenseTargets(instance);
    TargetEntry* e = ostrand::TargetAt(instance, 0);
    for (uint32_t i = 0; i < e->ActiveCount * instance->CagePoints; ++i) e->Weights[i] = 0.125;
    test_support::CompactDenseWeights(instance);
    instance->Mode = 0;
    name(instance, path_);
    return instance;
  }
  static void name(EffectInstance* instance, const fs::path& path) {
    ASSERT_LT(path.string().size(), sizeof instance->WeightsPath);
    std::strcpy(instance->WeightsPath, path.string().c_str());
  }
  void writePrevious() { std::ofstream(path_, std::ios::binary) << kPrevious; }

  // After a failed write: the previous file as it was, nothing else in the
  // folder, and exactly this one error.
  void expectUnchanged(const std::string& text) {
    if (fs::is_directory(path_)) {
      EXPECT_TRUE(fs::is_empty(path_));
    } else {
      EXPECT_EQ(Load(path_), kPrevious);
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"w.cw"});
    ASSERT_EQ(host().messages().size(), 1u);
    EXPECT_EQ(host().messages()[0].text, text);
    EXPECT_EQ(host().messages()[0].kind, 0x100u);
    EXPECT_EQ(host().messages()[0].text2, "Error");
    host().clearMessages();
  }

  fs::path dir_, path_;
  bool mounted_ = false;
};

TEST_F(WeightsFileWriteTest, AnInjectedFailureAtEveryStepKeepsThePreviousFile) {
  EffectInstance* instance = calculated(400);  // about 29 kB: several blocks
  ostrand::WriteWeightsFile(instance);
  const std::string written = Load(path_);
  ASSERT_GT(written.size(), 3 * 8192u);
  EXPECT_TRUE(host().messages().empty());

  const struct {
    FileStep step;
    int error;
  } steps[] = {{FileStep::kWrite, ENOSPC}, {FileStep::kFlush, EIO}, {FileStep::kClose, EDQUOT},
               {FileStep::kReplace, EACCES}};
  for (const auto& s : steps) {
    for (long n = 0;; ++n) {
      SCOPED_TRACE(testing::Message() << "step " << static_cast<int>(s.step) << ", call " << n);
      writePrevious();
      ostrand::SetFileFailure(s.step, n, s.error);
      ostrand::WriteWeightsFile(instance);
      const long calls = ostrand::SetFileFailure(s.step, -1, 0);
      if (calls <= n) {  // the n-th call was never made: this write went through
        EXPECT_GE(n, s.step == FileStep::kWrite ? 4 : 1);
        EXPECT_EQ(Load(path_), written);
        EXPECT_TRUE(host().messages().empty());
        break;
      }
      expectUnchanged(NotWritten(path_, s.error));
    }
  }
}

TEST_F(WeightsFileWriteTest, UnwritablePlacesKeepThePreviousFile) {
  EffectInstance* instance = calculated(10);

  // The name is a folder: the temporary file is written, then cannot take its place.
  fs::create_directory(path_);
  ostrand::WriteWeightsFile(instance);
  expectUnchanged(NotWritten(path_, EISDIR));
  fs::remove(path_);

  // A folder that does not exist: nothing can be created.
  name(instance, dir_ / "missing" / "w.cw");
  writePrevious();
  ostrand::WriteWeightsFile(instance);
  expectUnchanged(NotWritten(dir_ / "missing" / "w.cw", ENOENT));

  // A name that leaves no room for the temporary one's suffix.
  std::string longName(sizeof instance->WeightsPath - 3, 'w');
  std::strcpy(instance->WeightsPath, longName.c_str());
  ostrand::WriteWeightsFile(instance);
  // Shown by its end, so that the reason is not cut off with the message.
  expectUnchanged("The weights file \"..." + longName.substr(longName.size() - 800) +
                  "\" could not be written (the name leaves no room for the temporary file beside it); the "
                  "previous file is unchanged.");
}

TEST_F(WeightsFileWriteTest, AReadOnlyFolderKeepsThePreviousFile) {
  EffectInstance* instance = calculated(10);
  writePrevious();
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
  if (access(dir_.c_str(), W_OK) == 0) GTEST_SKIP() << "running as root: a read-only folder is still writable";
  ostrand::WriteWeightsFile(instance);
  expectUnchanged(NotWritten(path_, EACCES));
}

TEST_F(WeightsFileWriteTest, AFullFileSystemKeepsThePreviousFile) {
  EffectInstance* instance = calculated(2000);  // about 144 kB
  if (std::system(("mount -t tmpfs -o size=64k tmpfs '" + dir_.string() + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root or CAP_SYS_ADMIN)";
  mounted_ = true;
  writePrevious();
  ostrand::WriteWeightsFile(instance);
  expectUnchanged(NotWritten(path_, ENOSPC));

  // A file that fits replaces the previous one.
  ostrand::WriteWeightsFile(calculated(10));
  EXPECT_EQ(Load(path_).size(), 20u + 12 + 10 * 72);
  EXPECT_TRUE(host().messages().empty());
}

}  // namespace
