// Where a run's deformed frames go: an OBJ file per frame, named after its
// posed cage (deformed-<name>.obj) or from a numbered pattern, and a point
// cache of them all, PC2 or MDD.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cage_animation.h"
#include "cli/job.h"
#include "host/point_cache.h"

namespace cli {

struct FrameOutputs {
  std::vector<std::filesystem::path> objFiles;  // one per frame; empty when no OBJ files are written
  std::string objPattern;                       // what named them, "" when named after the posed cages
  std::filesystem::path cache;                  // "" for none
  host::PointCacheFormat cacheFormat = host::PointCacheFormat::kPc2;
  double fps = 24.0;
};

// The cache format a file name asks for: ".pc2" or ".mdd", in any case; none
// for another name.
std::optional<host::PointCacheFormat> CacheFormatOfName(const std::string& path);

// Whether a name given below the output folder stays inside it: relative,
// with no ".." among its parts.
bool StaysInside(const std::string& name);

// Names each frame's outputs as the job asks. Throws ArgumentError when
// frames without names of their own (a cache's) are to be written as
// deformed-<name>.obj, UserError when two posed cages give one name.
FrameOutputs PlanFrameOutputs(const Job& job, const CageAnimation& cages);

// The header of the deformed target's cache of cages.size() frames of points
// points. Times come from the input cache, for the frames deformed: a PC2's
// start frame and sample rate, an MDD's time of each frame (converted with
// fps when the formats differ); without an input cache, from the frames'
// numbers: a PC2 starts at the first and steps by the frames' step, an MDD
// gives each frame its number over fps.
host::PointCacheHeader TargetCacheHeader(const CageAnimation& cages, host::PointCacheFormat format, uint32_t points,
                                         double fps);

}  // namespace cli
