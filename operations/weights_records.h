// Reading the target records of a weights file into staging records, checked
// in full before the reader replaces anything in the instance.
#pragma once

#include <cstdint>

#include "operations/weights_stream.h"
#include "ostrand/types.h"

namespace ostrand {

// What a record is checked against.
struct RecordLimits {
  int32_t mode;            // the header's Mode (equal to the instance's)
  uint32_t cagePoints;     // every cage point number must be below it
  Vec3* cagePositions;     // CagePoints entries; CageRefs point into it
};

// One target's record as read. entry.PointCount is the stored point count;
// with Mode 0 and a matching point count, entry holds the arrays of the
// record's points and weights (SetupPositions still zero), obtained with
// AllocateArray and owned by the staging record until they are handed over.
struct StagedTarget {
  bool matches;      // the stored point count equals the host's
  bool outOfMemory;  // reading stopped because an array could not be obtained
  TargetEntry entry;
};

// Reads the next target record, hostPointCount being the target's point count
// now. A record whose point count differs is read through (its point blocks
// checked, not kept), so that the next record follows. Returns false when the
// record is malformed or ends early, or when an array cannot be obtained (then
// outOfMemory is set); the staging record then holds no arrays.
bool ReadTargetRecord(WordReader& in, const RecordLimits& limits, int32_t hostPointCount, StagedTarget* staged);

// Frees the arrays a staging record still holds.
void FreeStagedTarget(StagedTarget* staged);

}  // namespace ostrand
