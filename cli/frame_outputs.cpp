#include "cli/frame_outputs.h"

#include <algorithm>
#include <map>

#include "cli/argument_errors.h"
#include "driver/user_error.h"

namespace cli {

namespace fs = std::filesystem;

std::optional<host::PointCacheFormat> CacheFormatOfName(const std::string& path) {
  std::string suffix = fs::path(path).extension().string();
  std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
  if (suffix == ".pc2") return host::PointCacheFormat::kPc2;
  if (suffix == ".mdd") return host::PointCacheFormat::kMdd;
  return std::nullopt;
}

bool StaysInside(const std::string& name) {
  const fs::path path(name);
  if (path.is_absolute() || path.has_root_path()) return false;
  return std::none_of(path.begin(), path.end(), [](const fs::path& part) { return part == ".."; });
}

FrameOutputs PlanFrameOutputs(const Job& job, const CageAnimation& cages) {
  FrameOutputs plan;
  plan.fps = job.fps;
  plan.startFrame = job.startFrame;
  for (const std::string& cache : job.caches)
    plan.caches.push_back({cache, CacheFormatOfName(cache).value_or(host::PointCacheFormat::kPc2)});
  const std::vector<CageAnimation::Frame>& frames = cages.frames();
  if (job.startFrame) {
    if (job.outPattern.empty() && job.caches.empty())
      throw ArgumentError("--start-frame", "numbers the frames of --out-pattern and --cache; give one of them");
    if (!frames.empty() && frames.back().number - frames.front().number > kLargestFrame - *job.startFrame)
      throw ArgumentError("--start-frame", std::to_string(*job.startFrame) + " numbers the last frame " +
                                               std::to_string(*job.startFrame + frames.back().number -
                                                              frames.front().number) +
                                               ", beyond " + std::to_string(kLargestFrame));
  }
  const fs::path folder = job.output;
  if (!job.outPattern.empty()) {
    const FramePattern pattern = *FindFramePattern(job.outPattern);
    plan.objPattern = (folder / job.outPattern).string();
    // From the start frame on, each frame as far from the first as it is in the input.
    const long shift = job.startFrame && !frames.empty() ? *job.startFrame - frames.front().number : 0;
    for (const CageAnimation::Frame& frame : frames) plan.objFiles.push_back(folder / pattern.name(frame.number + shift));
    return plan;
  }
  if (!job.caches.empty()) return plan;
  if (!cages.namedFrames() && cages.size() > 0)
    throw ArgumentError(cages.given(), "its frames have no file names to write deformed-<name>.obj under; give "
                                       "--out-pattern NAME.####.obj or --cache FILE.pc2");
  std::map<fs::path, std::string> written;
  for (const CageAnimation::Frame& frame : cages.frames()) {
    const fs::path output = folder / DeformedName(frame.path);
    auto [earlier, fresh] = written.emplace(output, frame.path);
    if (!fresh)
      throw driver::UserError(driver::ErrorKind::kOutput, frame.path,
                              "would be written to " + output.string() + " like " + earlier->second +
                                  "; give posed cages different names, or --out-pattern NAME.####.obj");
    plan.objFiles.push_back(output);
  }
  return plan;
}

host::PointCacheHeader TargetCacheHeader(const CageAnimation& cages, host::PointCacheFormat format, uint32_t points,
                                         double fps, std::optional<long> startFrame) {
  using host::PointCacheFormat;
  host::PointCacheHeader header;
  header.format = format;
  header.points = points;
  header.frames = static_cast<uint32_t>(cages.size());
  const std::vector<CageAnimation::Frame>& frames = cages.frames();
  if (frames.empty()) return header;
  const host::PointCacheHeader* in = cages.cacheHeader();
  const bool fromPc2 = in != nullptr && in->format == PointCacheFormat::kPc2;
  const bool fromMdd = in != nullptr && in->format == PointCacheFormat::kMdd;
  // Each frame's place in time, counted in frames. An input cache's frame k
  // is frame number k + 1.
  auto place = [&](size_t i) {
    const long k = frames[i].number - 1;
    if (fromPc2) return double(in->startFrame) + double(in->sampleRate) * double(k);
    if (fromMdd) return double(in->times[static_cast<size_t>(k)]) * fps;
    return double(frames[i].number);
  };
  const double step = double(cages.step());
  if (format == PointCacheFormat::kPc2) {
    header.startFrame = static_cast<float>(startFrame ? double(*startFrame) : place(0));
    if (fromPc2)
      header.sampleRate = static_cast<float>(double(in->sampleRate) * step);
    else if (fromMdd && frames.size() > 1)
      header.sampleRate = static_cast<float>(place(1) - place(0));
    else
      header.sampleRate = static_cast<float>(step);
    return header;
  }
  // Moved to the start frame, each time is its distance from the first (zero
  // for the first itself, so that it is the start frame exactly) added to it.
  auto inputTime = [&](size_t i) { return in->times[static_cast<size_t>(frames[i].number - 1)]; };
  for (size_t i = 0; i < frames.size(); ++i) {
    if (!startFrame)
      header.times.push_back(fromMdd ? inputTime(i) : static_cast<float>(place(i) / fps));
    else if (fromMdd)
      header.times.push_back(
          static_cast<float>(double(inputTime(i)) - double(inputTime(0)) + double(*startFrame) / fps));
    else
      header.times.push_back(static_cast<float>((place(i) - place(0) + double(*startFrame)) / fps));
  }
  return header;
}

}  // namespace cli
