// The weights file: the exact layout, reading back, and files that must
// change nothing (wrong header, short, malformed, no memory); writing it never
// costs the user the file that was there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "host_interface/memory.h"
#include "instance/instance.h"
#include "operations/weights_file.h"
#include "platform/file_replace.h"
#include "support/dense_rows.h"
#include "support/module_fixture.h"
#include "support/weights_invariants.h"

namespace {

using test_support::CubeMesh;
using test_support::ModuleTest;
using test_support::PointCloud;
using Bytes = std::vector<uint8_t>;

// Mode 0, 8 cage points, 6 polygons, one target of 10 points; point 4 has 0.5
// on cage points 1 and 5, point 7 has 1.0 on cage point 3.
const Bytes kExample = {
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x06,
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03,
    0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x3F, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x05, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x01,
    0x00, 0x00, 0x00, 0x03, 0x3F, 0x80, 0x00, 0x00};

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void Save(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
}

Bytes WithWord(Bytes bytes, size_t offset, uint32_t word) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(word >> (24 - 8 * i));
  return bytes;
}

std::vector<Vec3> Line(int n) {
  std::vector<Vec3> points;
  for (int i = 0; i < n; ++i) points.push_back({0.25 * i, 0.5, -0.5});
  return points;
}

// Everything a read may change: counts and array contents.
struct TargetState {
  int32_t pointCount, weightCount;
  uint32_t activeCount;
  std::vector<uint32_t> points;
  std::vector<int32_t> counts, offsets, cage;
  std::vector<double> weights;
  bool operator==(const TargetState&) const = default;
};

std::vector<TargetState> Snapshot(const EffectInstance* instance) {
  std::vector<TargetState> state;
  const bool readable = instance->Mode == 0 && test_support::CheckWeights(instance).empty();
  for (int32_t t = 0; t < ostrand::TargetCount(instance); ++t) {
    const TargetEntry* e = ostrand::TargetAt(instance, t);
    TargetState s{e->PointCount, e->WeightCount, e->ActiveCount, {}, {}, {}, {}, {}};
    if (readable) {
      s.points.assign(e->PointIndices, e->PointIndices + e->ActiveCount);
      s.counts.assign(e->WeightCounts, e->WeightCounts + e->ActiveCount);
      s.offsets.assign(e->WeightOffsets, e->WeightOffsets + e->ActiveCount);
      s.cage.assign(e->CageIndices, e->CageIndices + e->WeightCount);
      s.weights.assign(e->Weights, e->Weights + e->WeightCount);
    }
    state.push_back(s);
  }
  return state;
}

class WeightsFileTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    path_ = testing::TempDir() + "ostrand_" + testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
            std::to_string(getpid()) + ".cw";
    cage_ = host().addObject("cage", CubeMesh());
  }
  void TearDown() override {
    std::remove(path_.c_str());
    ModuleTest::TearDown();
  }

  // An effect on targets_ whose weights were calculated: dense entry k of
  // active point i of target t is weight(t, i, k).
  EffectInstance* calculatedInstance(uint32_t setupMask, std::function<double(int, uint32_t, uint32_t)> weight) {
    EffectInstance* instance = boundInstance();
    instance->SetupMask = setupMask;
    test_support::PrepareDenseTargets(instance);
    for (int t = 0; t < ostrand::TargetCount(instance); ++t) {
      TargetEntry* e = ostrand::TargetAt(instance, t);
      for (uint32_t i = 0; i < e->ActiveCount; ++i)
        for (uint32_t k = 0; k < instance->CagePoints; ++k) e->Weights[i * instance->CagePoints + k] = weight(t, i, k);
    }
    test_support::CompactDenseWeights(instance);
    instance->Mode = 0;
    return instance;
  }
  // An effect on targets_ as after a scene load: cage read, Mode 0, no weights.
  EffectInstance* loadedInstance(int32_t mode = 0) {
    EffectInstance* instance = boundInstance();
    EXPECT_TRUE(ostrand::ReadCageGeometry(instance));
    instance->Mode = mode;
    return instance;
  }
  // The example's instance.
  EffectInstance* exampleInstance() {
    targets_ = {host().addObject("target", PointCloud(Line(10)))};
    uint32_t mask = host().addWeightMap(targets_[0], "setup", {0, 0, 0, 0, 1, 0, 0, 0.5f, 0, 0});
    return calculatedInstance(mask, [](int, uint32_t i, uint32_t k) {
      if (i == 0) return k == 1 || k == 5 ? 0.5 : 0.0;
      return k == 3 ? 1.0 : 0.0;
    });
  }
  // Every point of every target active, with weights unlike the example's.
  EffectInstance* uniformInstance() {
    return calculatedInstance(0, [](int, uint32_t, uint32_t) { return 0.125; });
  }

  EffectInstance* boundInstance() {
    EffectInstance* instance = instanceOf(makeEffect(targets_));
    instance->Cage = cage_;
    std::strcpy(instance->WeightsPath, path_.c_str());
    return instance;
  }

  std::string path_;
  uint32_t cage_ = 0;
  std::vector<uint32_t> targets_;
};

TEST_F(WeightsFileTest, WritesTheExampleByteForByteAndReadsItBack) {
  EffectInstance* example = exampleInstance();
  ostrand::WriteWeightsFile(example);
  ASSERT_EQ(Load(path_), kExample);

  EffectInstance* loaded = loadedInstance();
  ostrand::ReadWeightsFile(loaded);
  EXPECT_EQ(test_support::CheckWeights(loaded), "");
  EXPECT_EQ(Snapshot(loaded), Snapshot(example));
  EXPECT_EQ(Snapshot(loaded)[0].points, (std::vector<uint32_t>{4, 7}));
  // Setup positions come from the host; rest and output positions start at zero.
  const TargetEntry* e = ostrand::TargetAt(loaded, 0);
  EXPECT_EQ(e->SetupPositions[1].x, 1.75);
  EXPECT_EQ(e->RestPositions[1].x, 0.0);
  EXPECT_EQ(e->OutPositions[0].y, 0.0);

  // What was read writes the same file again.
  std::remove(path_.c_str());
  ostrand::WriteWeightsFile(loaded);
  EXPECT_EQ(Load(path_), kExample);
}

TEST_F(WeightsFileTest, RecordSizesFollowModeAndActivePoints) {
  // Mode 0 without active points: a 12-byte record.
  targets_ = {host().addObject("target", PointCloud(Line(10)))};
  uint32_t none = host().addWeightMap(targets_[0], "none", std::vector<float>(10, 0.0f));
  ostrand::WriteWeightsFile(calculatedInstance(none, [](int, uint32_t, uint32_t) { return 1.0; }));
  Bytes expected(kExample.begin(), kExample.begin() + 32);
  expected = WithWord(WithWord(expected, 24, 0), 28, 0);
  EXPECT_EQ(Load(path_), expected);
  EffectInstance* loaded = loadedInstance();
  ostrand::ReadWeightsFile(loaded);
  EXPECT_EQ(ostrand::TargetAt(loaded, 0)->PointCount, 10);  // accepted
  EXPECT_EQ(ostrand::TargetAt(loaded, 0)->ActiveCount, 0u);

  // Another Mode: header and counts only, and only those are read.
  EffectInstance* example = exampleInstance();
  example->Mode = 7;
  ostrand::WriteWeightsFile(example);
  expected.assign(kExample.begin(), kExample.begin() + 32);
  EXPECT_EQ(Load(path_), WithWord(expected, 4, 7));
  EffectInstance* other = loadedInstance(7);
  ostrand::ReadWeightsFile(other);
  const TargetEntry* e = ostrand::TargetAt(other, 0);
  EXPECT_EQ(e->ActiveCount, 2u);
  EXPECT_EQ(e->WeightCount, 3);
  EXPECT_EQ(e->PointIndices, nullptr);

  // No targets: a 20-byte header that no instance accepts.
  targets_.clear();
  EffectInstance* empty = calculatedInstance(0, [](int, uint32_t, uint32_t) { return 1.0; });
  ostrand::WriteWeightsFile(empty);
  expected.assign(kExample.begin(), kExample.begin() + 20);
  EXPECT_EQ(Load(path_), WithWord(expected, 16, 0));
  ostrand::ReadWeightsFile(empty);
  EXPECT_EQ(empty->Mode, 0);
}

TEST_F(WeightsFileTest, WeightIsStoredAsTheNearestSingle) {
  EffectInstance* instance = exampleInstance();
  ostrand::TargetAt(instance, 0)->Weights[2] = 0.1;
  ostrand::WriteWeightsFile(instance);
  Bytes bytes = Load(path_);
  EXPECT_EQ(Bytes(bytes.begin() + 68, bytes.end()), (Bytes{0x3D, 0xCC, 0xCC, 0xCD}));
  EffectInstance* loaded = loadedInstance();
  ostrand::ReadWeightsFile(loaded);
  EXPECT_EQ(ostrand::TargetAt(loaded, 0)->Weights[2], static_cast<double>(0.1f));
}

TEST_F(WeightsFileTest, UnsoundFilesChangeNothing) {
  const struct {
    size_t offset;
    uint32_t word;
    const char* what;
  } faults[] = {
      {0, 2, "format marker"},
      {4, 1, "Mode"},
      {8, 9, "cage points"},
      {12, 5, "cage polygons"},
      {16, 2, "more targets"},
      {16, 0, "no targets"},
      {20, 0xFFFFFFFF, "negative point count"},
      {24, 0xFFFFFFFF, "negative active count"},
      {28, 0xFFFFFFFF, "negative weight count"},
      {24, 0x7FFFFFFF, "active count far beyond the file"},
      {28, 0x7FFFFFFF, "weight count far beyond the file"},
      {28, 2, "blocks add up to more than WeightCount"},
      {28, 4, "blocks add up to less than WeightCount"},
      {36, 0xFFFFFFFF, "negative n"},
      {36, 4, "n beyond WeightCount"},
      {32, 10, "point number not below the point count"},
      {32, 0xFFFFFFFF, "negative point number"},
      {56, 4, "point listed twice"},
      {40, 8, "cage point number not below CagePoints"},
      {40, 0xFFFFFFFF, "negative cage point number"},
  };
  targets_ = {host().addObject("target", PointCloud(Line(10)))};
  EffectInstance* calculated = uniformInstance();
  EffectInstance* loaded = loadedInstance();
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.what);
    for (EffectInstance* instance : {calculated, loaded}) {
      std::strcpy(instance->WeightsPath, path_.c_str());
      auto before = Snapshot(instance);
      Save(path_, WithWord(kExample, fault.offset, fault.word));
      ostrand::ReadWeightsFile(instance);
      EXPECT_EQ(Snapshot(instance), before);
      EXPECT_EQ(test_support::CheckWeights(instance), "");
    }
  }

  // Every cut of a sound file, and one byte too many.
  for (size_t length = 0; length <= kExample.size(); ++length) {
    Bytes bytes(kExample.begin(), kExample.begin() + length);
    if (length == kExample.size()) bytes.push_back(0);
    Save(path_, bytes);
    auto before = Snapshot(calculated);
    ostrand::ReadWeightsFile(calculated);
    EXPECT_EQ(Snapshot(calculated), before) << length << " bytes";
  }

  // The sound file itself is taken.
  Save(path_, kExample);
  ostrand::ReadWeightsFile(calculated);
  EXPECT_EQ(ostrand::TargetAt(calculated, 0)->ActiveCount, 2u);
}

TEST_F(WeightsFileTest, TargetWithAnotherPointCountIsSkippedAndTheNextRead) {
  targets_ = {host().addObject("a", PointCloud(Line(10))), host().addObject("b", PointCloud(Line(4)))};
  EffectInstance* source = calculatedInstance(0, [](int t, uint32_t i, uint32_t k) { return k == (t + i) % 8 ? 1.0 : 0.0; });
  ostrand::WriteWeightsFile(source);
  Save(path_, WithWord(Load(path_), 20, 11));  // target a had 11 points when written

  EffectInstance* other = uniformInstance();
  ostrand::ReadWeightsFile(other);
  EXPECT_EQ(test_support::CheckWeights(other), "");
  const TargetEntry* a = ostrand::TargetAt(other, 0);
  EXPECT_EQ(a->PointCount, 10);
  EXPECT_EQ(a->ActiveCount, 0u);
  EXPECT_EQ(a->WeightCount, 0);
  EXPECT_EQ(a->Weights, nullptr);
  EXPECT_EQ(Snapshot(other)[1], Snapshot(source)[1]);
}

TEST_F(WeightsFileTest, AllocationFailureChangesNothingAndLeaksNothing) {
  targets_ = {host().addObject("a", PointCloud(Line(10))), host().addObject("b", PointCloud(Line(4)))};
  ostrand::WriteWeightsFile(calculatedInstance(0, [](int, uint32_t i, uint32_t k) { return k <= i % 3 ? 0.5 : 0.0; }));
  EffectInstance* reference = loadedInstance();
  ostrand::ReadWeightsFile(reference);
  EffectInstance* other = uniformInstance();
  for (long n = 0;; ++n) {
    auto before = Snapshot(other);
    ostrand::SetAllocationFailure(n);
    ostrand::ReadWeightsFile(other);
    if (ostrand::SetAllocationFailure(-1) <= n) break;  // the n-th allocation was never asked for
    EXPECT_EQ(Snapshot(other), before) << "allocation " << n << " failed";
  }
  EXPECT_EQ(Snapshot(other), Snapshot(reference));
}

TEST_F(WeightsFileTest, WriterStaysWithinTheArraysItHas) {
  EffectInstance* instance = exampleInstance();
  TargetEntry* e = ostrand::TargetAt(instance, 0);
  e->WeightCount = 2;  // per-point counts add up to 3
  ostrand::WriteWeightsFile(instance);
  Bytes expected(kExample.begin(), kExample.begin() + 32);
  EXPECT_EQ(Load(path_), WithWord(WithWord(expected, 24, 0), 28, 0));
  e->WeightCount = 3;
  ostrand::FreeTargetArrays(e);  // counts without arrays
  ostrand::WriteWeightsFile(instance);
  EXPECT_EQ(Load(path_), WithWord(WithWord(expected, 24, 0), 28, 0));
}

TEST_F(WeightsFileTest, ModeMinusOneAndUnusablePathsReadAndWriteNothing) {
  EffectInstance* instance = exampleInstance();
  instance->Mode = -1;
  ostrand::WriteWeightsFile(instance);
  EXPECT_TRUE(Load(path_).empty());

  instance->Mode = 0;
  // A file that cannot be created is told (WeightsFileWriteTest below has the rest).
  std::strcpy(instance->WeightsPath, (testing::TempDir() + "no such directory/w.cw").c_str());
  ostrand::WriteWeightsFile(instance);
  EXPECT_EQ(host().messages().size(), 1u);
  host().clearMessages();
  std::memset(instance->WeightsPath, 'w', sizeof instance->WeightsPath);  // never ends
  ostrand::WriteWeightsFile(instance);
  instance->WeightsPath[0] = '\0';
  ostrand::WriteWeightsFile(instance);
  // A folder, as a scene's empty name comes back: no file, as for the empty name.
  std::strcpy(instance->WeightsPath, testing::TempDir().c_str());
  ASSERT_EQ(instance->WeightsPath[std::strlen(instance->WeightsPath) - 1], '/');
  ostrand::WriteWeightsFile(instance);
  EXPECT_TRUE(host().messages().empty());
  EXPECT_EQ(access((testing::TempDir() + ".tmp").c_str(), F_OK), -1);
  std::memset(instance->WeightsPath, 'w', sizeof instance->WeightsPath);
  auto before = Snapshot(instance);
  ostrand::ReadWeightsFile(instance);
  instance->WeightsPath[0] = '\0';
  ostrand::ReadWeightsFile(instance);
  EXPECT_EQ(Snapshot(instance), before);
}

// --- Writing in place of the previous file ------------------------------------------

// Writing the weights file never costs the user the file that was there: a
// failure at any step (injected or real) leaves it byte for byte, removes the
// temporary file and is told once. (A namespace of their own keeps their
// helpers apart from those above: their Load reads text.)
namespace writing {

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

}  // namespace writing

}  // namespace
