// The cage as the weights of a hit read it, read once: every polygon's point
// numbers and every cage point's position, taken through the same host reads
// a hit would make, so that a calculation's rows read memory instead of
// calling the host per hit (from many threads) and give the same bits.
#pragma once

#include <cstdint>

#include "ostrand/types.h"

namespace ostrand {

struct CageReads;

struct CageSnapshot {
  int32_t polygonCount;  // polygons read: 0 to polygonCount - 1
  // Per polygon, the point count the host gave (any value: a hit on a
  // polygon whose count is not in [1, CagePoints] is ignored), and whether
  // every point number it wrote lies in [0, CagePoints).
  int32_t* counts;
  uint8_t* usable;
  int64_t* starts;   // per polygon, where its point numbers begin in points
  int32_t* points;   // the point numbers of the polygons whose counts are in range
  Vec3* positions;   // CagePoints positions, (0, 0, 0) where the host gave none
  Vec3* corners;     // beside points, the position of each point of a usable polygon
};

// Reads polygons 0 to polygonCount - 1 and every point of reads.pointCount
// on the calling thread. Returns false, with the snapshot empty, when the
// memory cannot be had (or the host claims more point numbers than is worth
// holding): the hits then read the host as before, with the same result.
bool TakeCageSnapshot(const CageReads& reads, int32_t polygonCount, CageSnapshot* snapshot);
void FreeCageSnapshot(CageSnapshot* snapshot);

}  // namespace ostrand
