#include "cli/frame_loop.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "checks/warnings.h"
#include "driver/bind_statistics.h"
#include "driver/mesh_file.h"
#include "driver/user_error.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

void WriteObjFrame(const std::string& temporary, const TargetOutput& target, const std::vector<Vec3>& points) {
  if (!target.file.text.empty()) return driver::WriteTextFile(temporary, host::DeformedObjText(target.file, points));
  try {
    host::WriteObj(temporary, host::Mesh{points, target.rest.polygons});
  } catch (const std::runtime_error& e) {
    throw driver::HostFileError(driver::ErrorKind::kOutput, temporary, e.what(), "OBJ file " + temporary + ": ");
  }
}

// Progress, redrawn at most a few times a second and whenever the percentage
// changes, so that a long run on a log stays short.
class FrameProgress {
 public:
  FrameProgress(ProgressBar& bar, const CageAnimation& cages) : bar_(bar), cages_(cages), start_(Clock::now()) {}

  void done(size_t frames) {
    const size_t total = cages_.size();
    const int percent = static_cast<int>(100 * frames / total);
    const Clock::time_point now = Clock::now();
    if (percent == percent_ && Seconds(shown_, now) < 0.25 && frames != total) return;
    percent_ = percent;
    shown_ = now;
    bar_.show(percent, "frame " + std::to_string(frames) + " of " + std::to_string(total) + " (" +
                           cages_.label(frames - 1) + "), " +
                           FrameRate(static_cast<double>(frames) / Seconds(start_, now)));
  }

 private:
  ProgressBar& bar_;
  const CageAnimation& cages_;
  Clock::time_point start_, shown_;
  int percent_ = -1;
};

}  // namespace

void DeformFrames(driver::Session& session, CageAnimation& cages, const FrameOutputs& plan, const TargetOutput& target,
                  OutputTransaction& outputs, ProgressBar& bar, Summary& summary, ShownFrame& shown) {
  if (cages.size() == 0) return;
  const host::Mesh& cageRest = session.cageRest();
  // One writer for each of the plan's caches, in its order.
  std::vector<std::unique_ptr<host::PointCacheWriter>> caches;
  // A cache's writer says what is wrong with its temporary file: told of the cache.
  auto cacheError = [&](size_t k, const host::PointCacheError& e) {
    return driver::UserError(driver::ErrorKind::kOutput, plan.caches[k].path.string(), e.problem);
  };
  const auto cachePoints = static_cast<uint32_t>(target.rest.points.size());
  for (size_t k = 0; k < plan.caches.size(); ++k) {
    const FrameCache& file = plan.caches[k];
    try {
      outputs.startFile(file.path, [&](const std::string& temporary) {
        caches.push_back(std::make_unique<host::PointCacheWriter>(
            temporary, TargetCacheHeader(cages, file.format, cachePoints, plan.fps, plan.startFrame)));
      });
    } catch (const host::PointCacheError& e) {
      throw cacheError(k, e);
    }
  }

  FrameProgress progress(bar, cages);
  bar.timed();
  std::vector<Vec3> cagePoints;
  driver::Session::Frame frame;
  const Clock::time_point loopStart = Clock::now();
  for (size_t i = 0; i < cages.size(); ++i) {
    const Clock::time_point start = Clock::now();
    cages.read(i, cageRest, cagePoints);
    const Clock::time_point read = Clock::now();
    session.deform(cagePoints, cages.frames()[i].path, frame);
    driver::KeepUnboundAtRest(target.keepInPlace, target.rest.points, frame.points.data());
    const Clock::time_point deformed = Clock::now();
    if (!plan.objFiles.empty())
      outputs.write(plan.objFiles[i],
                    [&](const std::string& temporary) { WriteObjFrame(temporary, target, frame.points); });
    for (size_t k = 0; k < caches.size(); ++k) {
      try {
        caches[k]->writeFrame(frame.points);
      } catch (const host::PointCacheError& e) {
        throw cacheError(k, e);
      }
    }
    const Clock::time_point written = Clock::now();
    summary.frameSeconds.push_back(frame.seconds);
    summary.readSeconds += Seconds(start, read);
    summary.deformSeconds += Seconds(read, deformed);
    summary.writeSeconds += Seconds(deformed, written);
    if (i == shown.index) shown = {i, cagePoints, frame.points, cages.label(i)};
    progress.done(i + 1);
  }
  for (size_t k = 0; k < caches.size(); ++k) {
    try {
      caches[k]->close();
    } catch (const host::PointCacheError& e) {
      throw cacheError(k, e);
    }
    outputs.finishFile(plan.caches[k].path);
  }
  bar.untimed();
  summary.loopSeconds = Seconds(loopStart, Clock::now());
  bar.show(100, "deformed " + std::to_string(cages.size()) + " frames");
  bar.finish();

  if (plan.objPattern.empty())
    for (const auto& file : plan.objFiles) summary.written.push_back(file.string());
  else if (!plan.objFiles.empty())
    summary.written.push_back(plan.objPattern + ": " + checks::Counted(plan.objFiles.size(), "frame", "frames") + ", " +
                              plan.objFiles.front().filename().string() + " to " +
                              plan.objFiles.back().filename().string());
  for (const FrameCache& file : plan.caches)
    summary.written.push_back(file.path.string() + ": " + host::FormatName(file.format) + ", " +
                              checks::Counted(cages.size(), "frame", "frames") + " of " +
                              checks::Counted(target.rest.points.size(), "point", "points"));
}

}  // namespace cli
