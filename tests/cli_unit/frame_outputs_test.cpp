// What the deformed frames are written as: the names of the OBJ files, the
// times in the deformed target's cache, and the cache's place in the run's
// outputs, which land together or not at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "cli/argument_errors.h"
#include "cli/cage_animation.h"
#include "cli/frame_outputs.h"
#include "cli/output_files.h"
#include "driver/user_error.h"

namespace {

namespace fs = std::filesystem;
using host::PointCacheFormat;

class FrameOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("ostrand-frame-outputs-" + std::to_string(std::random_device{}()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  void write(const std::string& relative, const std::string& text) const {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative, std::ios::binary) << text;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(root_ / relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // A cache of one point; an MDD's times 1/25 s apart unless given.
  std::string cache(const std::string& name, host::PointCacheHeader header) const {
    header.points = 1;
    if (header.format == PointCacheFormat::kMdd && header.times.empty())
      for (uint32_t k = 0; k < header.frames; ++k) header.times.push_back(float(k) / 25);
    host::PointCacheWriter writer(path(name), header);
    for (uint32_t k = 0; k < header.frames; ++k) writer.writeFrame({{double(k), 0, 0}});
    writer.close();
    return path(name);
  }
  fs::path root_;
};

TEST_F(FrameOutputs, CacheTimesComeFromTheInputCacheForTheFramesDeformed) {
  host::PointCacheHeader pc2;
  pc2.frames = 6;
  pc2.startFrame = 10.0f;
  pc2.sampleRate = 0.5f;
  const cli::CageAnimation fromPc2({cache("in.pc2", pc2)}, cli::FrameRange{2, 6, 2}, "2-6:2", false);
  ASSERT_EQ(fromPc2.size(), 3u);
  host::PointCacheHeader out = cli::TargetCacheHeader(fromPc2, PointCacheFormat::kPc2, 7, 24.0);
  EXPECT_EQ(out.points, 7u);
  EXPECT_EQ(out.frames, 3u);
  EXPECT_EQ(out.startFrame, 10.5f);  // the second sample's place
  EXPECT_EQ(out.sampleRate, 1.0f);   // every second sample
  out = cli::TargetCacheHeader(fromPc2, PointCacheFormat::kMdd, 7, 24.0);
  EXPECT_EQ(out.times, (std::vector<float>{float(10.5 / 24), float(11.5 / 24), float(12.5 / 24)}));

  host::PointCacheHeader mdd;
  mdd.format = PointCacheFormat::kMdd;
  mdd.frames = 4;
  const cli::CageAnimation fromMdd({cache("in.mdd", mdd)}, std::nullopt, "", false);
  EXPECT_EQ(cli::TargetCacheHeader(fromMdd, PointCacheFormat::kMdd, 1, 24.0).times,
            (std::vector<float>{0.0f, 1.0f / 25, 2.0f / 25, 3.0f / 25}));
  // Times as the file has them, bit for bit; irregular ones too.
  mdd.times = {0.5f, 0.54f, 0.58f, 0.7f};
  const cli::CageAnimation timed({cache("times.mdd", mdd)}, cli::FrameRange{2, 4, 1}, "2-4", false);
  EXPECT_EQ(cli::TargetCacheHeader(timed, PointCacheFormat::kMdd, 1, 24.0).times,
            (std::vector<float>{0.54f, 0.58f, 0.7f}));
  out = cli::TargetCacheHeader(timed, PointCacheFormat::kPc2, 1, 25.0);
  // Seconds in float32 times the rate: frames within float32's precision.
  EXPECT_NEAR(out.startFrame, 13.5, 1e-5);
  EXPECT_NEAR(out.sampleRate, 1.0, 1e-5);

  // Numbered files: their numbers, and over --fps for MDD.
  for (const char* name : {"seq/c.10.obj", "seq/c.20.obj", "seq/c.30.obj", "seq/c.25.obj"}) write(name, "");
  const cli::CageAnimation numbered({path("seq/c.%d.obj")}, cli::FrameRange{10, 30, 10}, "10-30:10", false);
  out = cli::TargetCacheHeader(numbered, PointCacheFormat::kPc2, 1, 25.0);
  EXPECT_EQ(out.startFrame, 10.0f);
  EXPECT_EQ(out.sampleRate, 10.0f);
  EXPECT_EQ(cli::TargetCacheHeader(numbered, PointCacheFormat::kMdd, 1, 25.0).times,
            (std::vector<float>{0.4f, 0.8f, 1.2f}));
}

// --start-frame moves every output to start there, each frame keeping its
// distance from the first; without it, the frames' own places.
TEST_F(FrameOutputs, AStartFrameMovesTheCachesAndTheNumberedNamesKeepingTheSpacing) {
  host::PointCacheHeader pc2;
  pc2.frames = 6;
  pc2.startFrame = 10.0f;
  pc2.sampleRate = 0.5f;
  const cli::CageAnimation fromPc2({cache("in.pc2", pc2)}, cli::FrameRange{2, 6, 2}, "2-6:2", false);
  host::PointCacheHeader out = cli::TargetCacheHeader(fromPc2, PointCacheFormat::kPc2, 1, 24.0, 1);
  EXPECT_EQ(out.startFrame, 1.0f);
  EXPECT_EQ(out.sampleRate, 1.0f);  // every second sample, as without a start frame
  EXPECT_EQ(cli::TargetCacheHeader(fromPc2, PointCacheFormat::kMdd, 1, 24.0, 1).times,
            (std::vector<float>{float(1 / 24.0), float(2 / 24.0), float(3 / 24.0)}));

  // An MDD whose first time is 0 starts a PC2 at frame 0, or where asked.
  host::PointCacheHeader mdd;
  mdd.format = PointCacheFormat::kMdd;
  mdd.frames = 4;
  mdd.times = {0.0f, 0.25f, 0.5f, 1.125f};  // irregular, every one exact in float32
  const cli::CageAnimation fromMdd({cache("in.mdd", mdd)}, std::nullopt, "", false);
  EXPECT_EQ(cli::TargetCacheHeader(fromMdd, PointCacheFormat::kPc2, 1, 24.0).startFrame, 0.0f);
  out = cli::TargetCacheHeader(fromMdd, PointCacheFormat::kPc2, 1, 24.0, 1);
  EXPECT_EQ(out.startFrame, 1.0f);
  EXPECT_EQ(out.sampleRate, 6.0f);  // 0.25 s at 24 frames/s, kept
  // Its own times, all moved by one amount: the first to 24 frames over 24 frames/s.
  EXPECT_EQ(cli::TargetCacheHeader(fromMdd, PointCacheFormat::kMdd, 1, 24.0, 24).times,
            (std::vector<float>{1.0f, 1.25f, 1.5f, 2.125f}));
  const cli::CageAnimation laterMdd({path("in.mdd")}, cli::FrameRange{2, 4, 1}, "2-4", false);
  EXPECT_EQ(cli::TargetCacheHeader(laterMdd, PointCacheFormat::kMdd, 1, 8.0, 0).times,
            (std::vector<float>{0.0f, 0.25f, 0.875f}));

  // Numbered files: a start frame at their own first number changes nothing.
  for (const char* name : {"seq/c.10.obj", "seq/c.20.obj", "seq/c.30.obj"}) write(name, "");
  const cli::CageAnimation numbered({path("seq/c.%d.obj")}, cli::FrameRange{10, 30, 10}, "10-30:10", false);
  for (PointCacheFormat format : {PointCacheFormat::kPc2, PointCacheFormat::kMdd}) {
    const host::PointCacheHeader own = cli::TargetCacheHeader(numbered, format, 1, 25.0);
    const host::PointCacheHeader same = cli::TargetCacheHeader(numbered, format, 1, 25.0, 10);
    EXPECT_EQ(same.startFrame, own.startFrame);
    EXPECT_EQ(same.sampleRate, own.sampleRate);
    EXPECT_EQ(same.times, own.times);
  }
  out = cli::TargetCacheHeader(numbered, PointCacheFormat::kPc2, 1, 25.0, 1);
  EXPECT_EQ(out.startFrame, 1.0f);
  EXPECT_EQ(out.sampleRate, 10.0f);
  EXPECT_EQ(cli::TargetCacheHeader(numbered, PointCacheFormat::kMdd, 1, 25.0, 1).times,
            (std::vector<float>{0.04f, 0.44f, 0.84f}));

  // The names keep the frames' distances, gaps too.
  write("gaps/c.3.obj", "");
  write("gaps/c.4.obj", "");
  write("gaps/c.9.obj", "");
  const cli::CageAnimation gaps({path("gaps/c.%d.obj")}, std::nullopt, "", true);
  cli::Job job;
  job.output = path("out");
  job.outPattern = "d.####.obj";
  job.startFrame = 1;
  EXPECT_EQ(cli::PlanFrameOutputs(job, gaps).objFiles,
            (std::vector<fs::path>{root_ / "out/d.0001.obj", root_ / "out/d.0002.obj", root_ / "out/d.0007.obj"}));
  job.startFrame = cli::kLargestFrame - 6;  // the last frame at the largest number
  EXPECT_EQ(cli::PlanFrameOutputs(job, gaps).objFiles.back(), root_ / "out/d.999999999.obj");
  job.startFrame = cli::kLargestFrame - 5;
  EXPECT_THROW(cli::PlanFrameOutputs(job, gaps), cli::ArgumentError);
  job.startFrame = 1;
  job.outPattern.clear();  // nothing numbered: the start frame would do nothing
  EXPECT_THROW(cli::PlanFrameOutputs(job, gaps), cli::ArgumentError);
  job.caches = {path("a.pc2"), path("b.MDD")};
  const cli::FrameOutputs plan = cli::PlanFrameOutputs(job, gaps);
  EXPECT_TRUE(plan.objFiles.empty());
  ASSERT_EQ(plan.caches.size(), 2u);
  EXPECT_EQ(plan.caches[0].format, PointCacheFormat::kPc2);
  EXPECT_EQ(plan.caches[1].format, PointCacheFormat::kMdd);
  EXPECT_EQ(plan.startFrame, 1);
}

// Deformed files named after their posed cages would overwrite each other
// when two share a name; a pattern numbers them apart.
TEST_F(FrameOutputs, PosedCagesOfOneNameAreRefusedUnlessAPatternNamesTheFrames) {
  for (const char* name : {"a/pose.obj", "b/pose.obj"}) write(name, "");
  cli::Job job;
  job.output = path("out");
  const cli::CageAnimation clash({path("a/pose.obj"), path("b/pose.obj")}, std::nullopt, "", false);
  EXPECT_THROW(cli::PlanFrameOutputs(job, clash), driver::UserError);
  job.outPattern = "frames/d.%03d.obj";
  EXPECT_EQ(cli::PlanFrameOutputs(job, clash).objFiles,
            (std::vector<fs::path>{root_ / "out/frames/d.001.obj", root_ / "out/frames/d.002.obj"}));
}

TEST_F(FrameOutputs, AFileWrittenPieceByPieceLandsWithTheRunOrNotAtAll) {
  write("anim.pc2", "old");
  const fs::path final = root_ / "anim.pc2";
  auto writeInto = [](const std::string& temporary, const char* text) { std::ofstream(temporary) << text; };
  {
    cli::OutputTransaction outputs(root_, {final}, {});
    outputs.startFile(final, [&](const std::string& temporary) { writeInto(temporary, "new"); });
    EXPECT_EQ(read("anim.pc2"), "old");  // in place only when finished
    outputs.finishFile(final);
    EXPECT_EQ(read("anim.pc2"), "new");
  }  // no commit: the run failed
  EXPECT_EQ(read("anim.pc2"), "old");
  {
    cli::OutputTransaction outputs(root_, {final}, {});
    outputs.startFile(final, [&](const std::string& temporary) { writeInto(temporary, "half"); });
  }
  EXPECT_EQ(read("anim.pc2"), "old");
  {
    cli::OutputTransaction outputs(root_, {final}, {});
    outputs.startFile(final, [&](const std::string& temporary) { writeInto(temporary, "new"); });
    outputs.finishFile(final);
    outputs.commit();
  }
  EXPECT_EQ(read("anim.pc2"), "new");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(root_)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"anim.pc2"});  // no temporary, no file put aside
}

}  // namespace
