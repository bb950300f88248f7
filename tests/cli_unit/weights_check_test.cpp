// The check of weights no bind gives: which rows it calls damaged (and which
// it must not: the module's own unscaled rows, rows of either sign), how it
// names them, the header hint for a file bound with a setup weight map, and a
// bind whose weights come out NaN refused before anything is written.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "cli/job.h"
#include "driver/user_error.h"
#include "driver/weights_check.h"
#include "host/fault_injection.h"

namespace {

namespace fs = std::filesystem;

// An instance record holding one target's rows, as the module lays them out.
class Rows {
 public:
  explicit Rows(const std::vector<std::vector<double>>& rows) {
    for (uint32_t point = 0; point < rows.size(); ++point) {
      points_.push_back(point);
      counts_.push_back(static_cast<int32_t>(rows[point].size()));
      offsets_.push_back(static_cast<int32_t>(weights_.size()));
      weights_.insert(weights_.end(), rows[point].begin(), rows[point].end());
    }
    entry_.ActiveCount = static_cast<uint32_t>(rows.size());
    entry_.PointIndices = points_.data();
    entry_.WeightCounts = counts_.data();
    entry_.WeightOffsets = offsets_.data();
    entry_.Weights = weights_.data();
    table_.count = 1;
    table_.records = &entry_;
    instance_.Targets = &table_;
  }
  driver::WeightsDamage damage() const { return driver::FindWeightsDamage(instance_, points_.size()); }

 private:
  std::vector<uint32_t> points_;
  std::vector<int32_t> counts_, offsets_;
  std::vector<double> weights_;
  TargetEntry entry_{};
  TargetTable table_{};
  EffectInstance instance_{};
};

TEST(WeightsCheck, RefusesWhatNoBindGivesAndNothingABindGives) {
  const double nan = NAN, inf = INFINITY;
  const Rows rows({
      {0.25, 0.75},           // 1: a bind's
      {0.2, 0.3, 0.5000001},  // 2: single precision's rounding
      {4e-7, 5e-7},           // 3: unscaled, as on a cage too large to bind
      {},                     // 4: no weights: told of elsewhere
      {1.5, -0.5},            // 5: either sign, adding up to 1
      {0.5, nan},             // 6
      {inf, 0.0},             // 7
      {0.5, 0.25},            // 8: sum 0.75
      {1e37, 0.5},            // 9
      {-0.5, 0.25},           // 10: sum below 0
      {2e-6},                 // 11: above what the module leaves unscaled
  });
  const driver::WeightsDamage damage = rows.damage();
  EXPECT_EQ(damage.notFinite, 2u);
  EXPECT_EQ(damage.badSum, 4u);
  EXPECT_EQ(driver::DescribeWeightsDamage(damage),
            "2 points hold weights that are not finite numbers: 6, 7; 4 points hold weights that do not add up to 1: "
            "8 (sum 0.75), 9 (sum 1e+37), 10 (sum -0.25), 11 (sum 2e-06)");
  // Rows of an array are named from 0.
  EXPECT_EQ(driver::DescribeWeightsDamage(damage, 0, "row").substr(0, 60),
            "2 points hold weights that are not finite numbers: rows 5, 6");

  std::vector<std::vector<double>> many(40, std::vector<double>{1.0});
  for (size_t point : {33, 2, 17, 9, 25, 31, 38}) many[point][0] = NAN;
  EXPECT_EQ(driver::DescribeWeightsDamage(Rows(many).damage()),
            "7 points hold weights that are not finite numbers: 3, 10, 18, 26, 32, ...");
}

class WeightsCheckFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("ostrand-weights-check-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  // A weights file's header words, big-endian, and nothing after them.
  std::string header(const std::vector<uint32_t>& words) const {
    const std::string path = (dir_ / "w.cw").string();
    std::ofstream out(path, std::ios::binary);
    for (uint32_t w : words) {
      const char bytes[4] = {char(w >> 24), char(w >> 16), char(w >> 8), char(w)};
      out.write(bytes, 4);
    }
    return path;
  }
  fs::path dir_;
};

TEST_F(WeightsCheckFiles, SetupMapHintOnlyForAFileOfThisCageAndTargetWithFewerRows) {
  EXPECT_EQ(driver::SetupMapHint(header({1, 0, 24, 20, 1, 3138, 812, 19488}), 24, 20, 3138),
            "it holds weights for 812 of the target's 3138 points, so it was likely bound with a setup weight map");
  for (const std::vector<uint32_t>& other : std::vector<std::vector<uint32_t>>{
           {1, 0, 24, 20, 1, 3138, 3138, 75312},  // every point
           {1, 0, 25, 20, 1, 3138, 812, 19488},   // another cage
           {1, 0, 24, 20, 1, 3137, 812, 19488},   // another target
           {1, 0, 24, 20, 1, 3138, 812},          // cut short
       })
    EXPECT_EQ(driver::SetupMapHint(header(other), 24, 20, 3138), "") << other[2] << " " << other[6];
  EXPECT_EQ(driver::SetupMapHint((dir_ / "missing.cw").string(), 24, 20, 3138), "");
}

// The host stand-in answers the cage's points as (NaN, inf, -inf) once the
// module has read the cage for picking and for the calculation (its first two
// reads of each point), so every ray's polygon weights come out NaN.
TEST_F(WeightsCheckFiles, ABindGivingNaNWeightsIsRefusedBeforeAnythingIsWritten) {
  std::ofstream(dir_ / "cage.obj") << "v 0 0 0\nv 2 0 0\nv 2 2 0\nv 0 2 0\nv 0 0 2\nv 2 0 2\nv 2 2 2\nv 0 2 2\n"
                                      "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n";
  std::ofstream(dir_ / "target.obj") << "v 1 1 1\nv 0.5 1.5 1\nv 1.5 0.5 0.5\nf 1 2 3\n";
  cli::Job job;
  job.module = OSTRAND_MODULE_PATH;
  job.quiet = true;
  job.bind = true;
  job.cage = (dir_ / "cage.obj").string();
  job.target = (dir_ / "target.obj").string();
  job.output = (dir_ / "out").string();
  const uint32_t cageObject = 1;  // the first object the run adds
  host::ScopedFault fault({host::Fault::kPointNotFinite, cageObject, 2 * 8, -1});
  try {
    cli::RunJob(job);
    ADD_FAILURE() << "NaN weights were saved";
  } catch (const driver::UserError& e) {
    EXPECT_EQ(std::string(e.what()), job.target + ": 3 points hold weights that are not finite numbers: 1, 2, 3");
    EXPECT_EQ(e.kind(), driver::ErrorKind::kRefused);  // a check refused the weights
  }
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

}  // namespace
