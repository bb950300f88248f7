// The posed cages a run deforms with, frame by frame: posed cage OBJ files
// named one by one, or one animation given alone: numbered OBJ files
// ("cage.####.obj", "cage.%04d.obj"), a folder of OBJ files, a wildcard
// pattern ("frames/*/cage.obj"), or a PC2 or MDD cache of the cage.
//
// The frames are listed up front (the names, the cache's header and length)
// and then read one at a time, so that a long animation is never held whole.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "checks/pose_check.h"
#include "cli/frame_files.h"
#include "host/host.h"
#include "host/point_cache.h"

namespace cli {

class CageAnimation {
 public:
  struct Frame {
    // The frame's number: from its file's name for numbered files, else its
    // place from 1 (a cache's first frame is frame 1).
    long number = 0;
    std::string path;  // its OBJ file; for a cache's frame, the cache
  };

  // No frames.
  CageAnimation();
  // Lists the frames the arguments name: every one, or those range holds.
  // Numbered frames missing between the first and the last (or within range)
  // are refused, naming the first, unless allowGaps: then they are skipped
  // and counted in skippedCount(). Throws ArgumentError when an animation is not
  // given alone; UserError when a file is missing, a pattern or folder gives
  // no file, range asks for frames that are not there, or a cache's header or
  // length is unsound. rangeText is range as the user gave it.
  CageAnimation(const std::vector<std::string>& arguments, const std::optional<FrameRange>& range,
                const std::string& rangeText, bool allowGaps);
  ~CageAnimation();
  CageAnimation(CageAnimation&&) noexcept;
  CageAnimation& operator=(CageAnimation&&) noexcept;

  const std::vector<Frame>& frames() const { return frames_; }
  size_t size() const { return frames_.size(); }
  // The numbered frames skipped as missing: how many, and the first few.
  size_t skippedCount() const { return skippedCount_; }
  const std::vector<long>& firstSkipped() const { return skipped_; }
  // The argument that names the animation, as given ("" for OBJ files).
  const std::string& given() const { return given_; }
  // Frame numbers from one frame to the next, gaps aside.
  long step() const { return step_; }
  // The input cache's header; null when the frames are OBJ files.
  const host::PointCacheHeader* cacheHeader() const;
  // Whether each frame is a file of its own (and so has a name).
  bool namedFrames() const { return cache_ == nullptr; }
  // How progress and the preview name frame i: "cage_bend.obj", "frame 12 of cage.pc2".
  std::string label(size_t i) const;

  // Every frame read from here on is converted so (--pose-axis); null: none.
  void convert(const checks::AxisConversion* conversion) { conversion_ = conversion; }

  // Reads every frame once, keeping none, so that a frame that does not fit
  // the bound cage is refused before any work: its point count, its faces
  // (OBJ files), finite coordinates. Throws UserError naming the file. each,
  // when given, sees every frame's points as read.
  void check(const host::Mesh& cage, const std::function<void(size_t, const std::vector<Vec3>&)>& each = {});
  // Frame i's cage points, into points; checked as check() checks them.
  void read(size_t i, const host::Mesh& cage, std::vector<Vec3>& points);

 private:
  void listCache(const std::string& path, const std::optional<FrameRange>& range, const std::string& rangeText);
  void listNumbered(const std::string& pattern, const std::optional<FrameRange>& range, bool allowGaps);
  void listPlaces(std::vector<std::string> paths, const std::optional<FrameRange>& range, const std::string& rangeText);

  std::vector<Frame> frames_;
  std::vector<long> skipped_;
  size_t skippedCount_ = 0;
  std::string given_;
  long step_ = 1;
  std::unique_ptr<host::PointCacheReader> cache_;
  const checks::AxisConversion* conversion_ = nullptr;
};

}  // namespace cli
