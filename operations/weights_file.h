// The binary weights file (*.cw): an instance's sparse cage coordinates kept
// outside the scene, big-endian, and read back into an instance of the same
// setup (same Mode, cage point and polygon counts, number of targets).
#pragma once

#include <cstdint>

#include "ostrand/types.h"

namespace ostrand {

// A target's counts as the host sees them now.
struct TargetCounts {
  int32_t PointCount;
  uint32_t ActiveCount;  // every point, or those active in the setup weight map
  int32_t WeightCount;   // ActiveCount x CagePoints (capped at INT32_MAX): the dense size
};

// Fills counts[t] for every target t of the instance (TargetCount entries),
// querying the host for point counts and, with a SetupMask, for weights. Does
// not change the instance: the reader keeps what it needs of these counts only
// for the targets it actually rebuilds.
void CountActivePoints(const EffectInstance* instance, TargetCounts* counts);

// Writes the instance's weights to the file named by WeightsPath, never at
// the cost of the file that is there: the words go to a temporary file beside
// it (the name with ".tmp" added), every write, the flush to the device and
// the close are checked, and only then does the temporary file take the
// named file's place in one step. On any failure (no room for the temporary
// name, the file cannot be created, a write, the flush, the close or the
// replacement fails) the named file is exactly as it was, the temporary file
// is removed and one error naming the file and the reason is shown. Does
// nothing, silently, when Mode is -1 or when WeightsPath is empty, does not
// end within its buffer or ends in a separator (a folder, as an empty name
// stored in a scene comes back). With Mode 0, a target whose arrays do not agree
// with its counts is written as having no active points.
void WriteWeightsFile(const EffectInstance* instance);

// Reads the file named by WeightsPath into the instance. The whole file is
// checked first (header matching the instance, no negative count, every point
// number below its target's point count and not repeated, every cage point
// number below CagePoints, each record's point blocks adding up to exactly its
// WeightCount, nothing missing and nothing after the last record) and read
// into new arrays. Only when all of it is sound and every array was obtained
// is anything replaced; otherwise the instance is left exactly as it was.
// Then every target gets the host's PointCount; a target whose stored point
// count differs loses its weights (arrays freed, ActiveCount and WeightCount
// 0); with Mode 0 every other target gets the file's points and weights, with
// another Mode only the file's counts (and no arrays). Mode never changes.
// File errors show no message; memory that cannot be had does (the instance
// is then left as it was, as for a file error).
void ReadWeightsFile(EffectInstance* instance);

}  // namespace ostrand
