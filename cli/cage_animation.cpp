#include "cli/cage_animation.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "checks/warnings.h"
#include "cli/argument_errors.h"
#include "driver/mesh_file.h"
#include "driver/user_error.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

enum class Kind { kObjFile, kNumbered, kFolder, kWildcard, kCache };

std::string LowerSuffix(const std::string& path) {
  std::string suffix = fs::path(path).extension().string();
  std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
  return suffix;
}

// A cache by its content; else by its name, so that a damaged cache is told
// as one.
std::optional<host::PointCacheFormat> CacheFormatOf(const std::string& path) {
  if (const auto format = host::RecognisePointCache(path)) return format;
  const std::string suffix = LowerSuffix(path);
  if (suffix == ".pc2") return host::PointCacheFormat::kPc2;
  if (suffix == ".mdd") return host::PointCacheFormat::kMdd;
  return std::nullopt;
}

// What an argument names: a file or folder that is there is what it is;
// otherwise a frame number or a wildcard makes it a pattern.
Kind KindOf(const std::string& argument) {
  std::error_code error;
  const fs::file_status status = fs::status(argument, error);
  if (fs::is_directory(status)) return Kind::kFolder;
  if (fs::exists(status)) return CacheFormatOf(argument) ? Kind::kCache : Kind::kObjFile;
  try {
    if (FindFramePattern(argument)) return Kind::kNumbered;
  } catch (const std::invalid_argument& e) {
    throw ArgumentError(argument, e.what());
  }
  return HoldsWildcard(argument) ? Kind::kWildcard : Kind::kObjFile;  // a missing file is told when checked
}

}  // namespace

CageAnimation::CageAnimation() = default;
CageAnimation::~CageAnimation() = default;
CageAnimation::CageAnimation(CageAnimation&&) noexcept = default;
CageAnimation& CageAnimation::operator=(CageAnimation&&) noexcept = default;

CageAnimation::CageAnimation(const std::vector<std::string>& arguments, const std::optional<FrameRange>& range,
                             const std::string& rangeText, bool allowGaps) {
  std::vector<Kind> kinds;
  for (const std::string& argument : arguments) kinds.push_back(KindOf(argument));
  const auto animation = std::find_if(kinds.begin(), kinds.end(), [](Kind kind) { return kind != Kind::kObjFile; });
  if (animation == kinds.end()) {
    for (const std::string& path : arguments) driver::CheckReadableFile(path);
    listPlaces(arguments, range, rangeText);
    return;
  }
  given_ = arguments[static_cast<size_t>(animation - kinds.begin())];
  if (arguments.size() > 1)
    throw ArgumentError(given_, "an animation (numbered files, a folder, a wildcard pattern or a point cache) is "
                                "given alone, not with other posed cages");
  switch (*animation) {
    case Kind::kCache:
      listCache(given_, range, rangeText);
      break;
    case Kind::kNumbered:
      listNumbered(given_, range, allowGaps);
      break;
    case Kind::kFolder: {
      std::vector<std::string> paths = ObjFilesIn(given_);
      if (paths.empty()) throw driver::UserError(driver::ErrorKind::kInput, given_, "a folder without .obj files");
      listPlaces(std::move(paths), range, rangeText);
      break;
    }
    default: {
      std::vector<std::string> paths = FilesMatching(given_);
      if (paths.empty()) throw driver::UserError(driver::ErrorKind::kInput, given_, "matches no file");
      listPlaces(std::move(paths), range, rangeText);
    }
  }
}

void CageAnimation::listPlaces(std::vector<std::string> paths, const std::optional<FrameRange>& range,
                               const std::string& rangeText) {
  const long count = static_cast<long>(paths.size());
  if (range && (range->first < 1 || range->last > count)) {
    const std::string frames = "frames 1 to " + std::to_string(count);
    if (given_.empty())
      throw driver::UserError(
          driver::ErrorKind::kInput, "--frames " + rangeText,
          "there are " + checks::Counted(paths.size(), "posed cage", "posed cages") + ", " + frames);
    throw driver::UserError(driver::ErrorKind::kInput, given_,
                            "has " + frames + "; --frames " + rangeText + " reaches beyond them");
  }
  if (range) step_ = range->step;
  for (long number = 1; number <= count; ++number)
    if (!range || range->holds(number)) frames_.push_back({number, std::move(paths[static_cast<size_t>(number - 1)])});
}

void CageAnimation::listCache(const std::string& path, const std::optional<FrameRange>& range,
                              const std::string& rangeText) {
  driver::CheckReadableFile(path);
  try {
    cache_ = std::make_unique<host::PointCacheReader>(path, *CacheFormatOf(path));
  } catch (const host::PointCacheError& e) {
    throw driver::UserError(driver::ErrorKind::kInput, path, e.problem);
  }
  listPlaces(std::vector<std::string>(cache_->header().frames, path), range, rangeText);
}

void CageAnimation::listNumbered(const std::string& text, const std::optional<FrameRange>& range, bool allowGaps) {
  const FramePattern pattern = *FindFramePattern(text);
  auto inRange = [&](std::vector<NumberedFile> files) {
    if (range)
      files.erase(std::remove_if(files.begin(), files.end(), [&](const NumberedFile& f) { return !range->holds(f.number); }),
                  files.end());
    return files;
  };
  std::vector<NumberedFile> found = inRange(FindNumberedFiles(pattern));
  if (found.empty()) {
    const std::string problem = "matches no file" + std::string(range ? " of the frames --frames asks for" : "");
    // Frames numbered without padding ("cage1.obj", as some programs write
    // them) are no frames of "cage####.obj": the pattern that finds them is named.
    const FramePattern unpadded{pattern.before, pattern.after, 1};
    const std::vector<NumberedFile> plain = pattern.width > 1 ? inRange(FindNumberedFiles(unpadded)) : found;
    if (!plain.empty())
      throw driver::UserError(driver::ErrorKind::kInput, text,
                              problem + "; the frames there are numbered without padding (" + plain.front().path +
                                  (plain.size() > 1 ? " ..." : "") + "): give '" + unpadded.printfText() + "'");
    throw driver::UserError(driver::ErrorKind::kInput, text,
                            problem + " (such as " + pattern.name(range ? range->first : 1) + ")");
  }
  const long first = range ? range->first : found.front().number;
  const long last = range ? range->last : found.back().number;
  step_ = range ? range->step : 1;
  skippedCount_ = static_cast<size_t>((last - first) / step_ + 1) - found.size();
  // The first few missing frames, for the messages: a walk that stops there.
  size_t next = 0;
  for (long number = first; number <= last && skipped_.size() < 5 && skipped_.size() < skippedCount_;
       number += step_) {
    if (next < found.size() && found[next].number == number)
      ++next;
    else
      skipped_.push_back(number);
  }
  if (skippedCount_ > 0 && !allowGaps) {
    std::string list = std::to_string(skipped_[0]) + " (" + pattern.name(skipped_[0]) + ")";
    for (size_t k = 1; k < skipped_.size(); ++k) list += ", " + std::to_string(skipped_[k]);
    if (skippedCount_ > skipped_.size()) list += ", ...";
    const std::string missing =
        skippedCount_ == 1 ? "frame " + std::to_string(skipped_[0]) + " is missing (" + pattern.name(skipped_[0]) + ")"
                           : std::to_string(skippedCount_) + " frames are missing: " + list;
    throw driver::UserError(driver::ErrorKind::kInput, text, missing + "; --allow-gaps skips missing frames");
  }
  for (NumberedFile& file : found) frames_.push_back({file.number, std::move(file.path)});
}

const host::PointCacheHeader* CageAnimation::cacheHeader() const { return cache_ ? &cache_->header() : nullptr; }

std::string CageAnimation::label(size_t i) const {
  const Frame& frame = frames_.at(i);
  const std::string name = fs::path(frame.path).filename().string();
  return cache_ ? "frame " + std::to_string(frame.number) + " of " + name : name;
}

void CageAnimation::check(const host::Mesh& cage, const std::function<void(size_t, const std::vector<Vec3>&)>& each) {
  std::vector<Vec3> points;
  for (size_t i = 0; i < frames_.size(); ++i) {
    read(i, cage, points);
    if (each) each(i, points);
  }
}

void CageAnimation::read(size_t i, const host::Mesh& cage, std::vector<Vec3>& points) {
  const Frame& frame = frames_.at(i);
  if (cache_) {
    if (cache_->header().points != cage.points.size())
      throw driver::UserError(driver::ErrorKind::kInput, frame.path,
                              "holds " + std::to_string(cache_->header().points) +
                                  " points per frame, the bound cage " + std::to_string(cage.points.size()));
    try {
      cache_->readFrame(static_cast<uint32_t>(frame.number - 1), points);
    } catch (const host::PointCacheError& e) {
      throw driver::UserError(driver::ErrorKind::kInput, frame.path, e.problem);
    }
    if (conversion_) checks::Convert(*conversion_, points);
    return;
  }
  host::ObjFile file = driver::ReadMeshFile(frame.path);
  const host::Mesh& mesh = file.mesh;
  if (mesh.points.size() != cage.points.size() || mesh.polygons.size() != cage.polygons.size())
    throw driver::UserError(driver::ErrorKind::kInput, frame.path,
                            "the posed cage has " + std::to_string(mesh.points.size()) + " points and " +
                                std::to_string(mesh.polygons.size()) + " polygons, the bound cage " +
                                std::to_string(cage.points.size()) + " and " + std::to_string(cage.polygons.size()));
  driver::CheckSameFaces(file, cage);
  points = std::move(file.mesh.points);
  if (conversion_) checks::Convert(*conversion_, points);
}

}  // namespace cli
