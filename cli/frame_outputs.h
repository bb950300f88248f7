// Where a run's deformed frames go: an OBJ file per frame, named after its
// posed cage (deformed-<name>.obj) or from a numbered pattern, and a point
// cache of them all, PC2 or MDD.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/cage_animation.h"
#include "cli/job.h"
#include "host/point_cache.h"

namespace cli {

// A point cache of the deformed frames, written frame by frame.
struct FrameCache {
  std::filesystem::path path;
  host::PointCacheFormat format = host::PointCacheFormat::kPc2;
};

struct FrameOutputs {
  std::vector<std::filesystem::path> objFiles;  // one per frame; empty when no OBJ files are written
  std::string objPattern;                       // what named them, "" when named after the posed cages
  std::vector<FrameCache> caches;               // in the order given; none for no cache
  double fps = 24.0;
  // The number the outputs give the first frame (the later ones keep their
  // distance from it); none: the frames' own numbers.
  std::optional<long> startFrame;
};

// The cache format a file name asks for: ".pc2" or ".mdd", in any case; none
// for another name.
std::optional<host::PointCacheFormat> CacheFormatOfName(const std::string& path);

// Whether a name given below the output folder stays inside it: relative,
// with no ".." among its parts.
bool StaysInside(const std::string& name);

// Names each frame's outputs as the job asks; with a start frame, numbered
// OBJ files take the numbers from it on. Throws ArgumentError when frames
// without names of their own (a cache's) are to be written as
// deformed-<name>.obj, or a start frame numbers nothing or numbers the last
// frame beyond kLargestFrame; UserError (output) when two posed cages give
// one name.
FrameOutputs PlanFrameOutputs(const Job& job, const CageAnimation& cages);

// The header of the deformed target's cache of cages.size() frames of points
// points. Times come from the input cache, for the frames deformed: a PC2's
// start frame and sample rate, an MDD's time of each frame (converted with
// fps when the formats differ); without an input cache, from the frames'
// numbers: a PC2 starts at the first and steps by the frames' step, an MDD
// gives each frame its number over fps. A start frame moves them all in
// time: a PC2 then starts there (its rate kept), an MDD's first time is the
// start frame over fps and every later one keeps its distance from it.
host::PointCacheHeader TargetCacheHeader(const CageAnimation& cages, host::PointCacheFormat format, uint32_t points,
                                         double fps, std::optional<long> startFrame = std::nullopt);

}  // namespace cli
