// Mean value weights of a point on a cage polygon.
#pragma once

#include <cstdint>

#include "ostrand/types.h"

namespace ostrand {

// Per-corner quantities of PolygonWeights, kept by the caller so that a hit
// costs no heap traffic. Entry i belongs to corner i and the edge from corner
// i to corner i + 1 (mod n).
struct PolygonCorner {
  Vec3 d;       // P(i) - x
  double r;     // |d(i)|
  double area;  // half |d(i) x d(i+1)|: area of the triangle x, P(i), P(i+1)
  double dot;   // d(i) . d(i+1)
};

// Writes into weights[0..n) the share of s that each of the n corners of a
// polygon (points in boundary order) takes for the point x:
// - x within 1e-6 of a corner (the first such corner): all of s to it;
// - x on an edge (the first edge whose dot product is negative and whose
//   triangle area is below 1e-6): s split between its two ends in inverse
//   proportion to their distances;
// - otherwise mean value weights scaled to sum to s.
// corners must hold n + 2 entries; their content on entry does not matter. Every
// weight is written. When the mean value terms all vanish (x in line with
// every edge, only possible for a degenerate polygon), all weights are 0.
void PolygonWeights(int32_t n, const Vec3* points, const Vec3& x, double s, PolygonCorner* corners, double* weights);

// How many corners PolygonWeights works at a time: one, two (SSE2) or four
// (AVX2), always to the same bits. PolygonWeights takes the widest the
// processor offers (WidestCornerLanes); PolygonWeightsIn takes the lanes
// given, or the widest offered when they are not.
enum class CornerLanes { kOne, kTwo, kFour };
CornerLanes WidestCornerLanes();
void PolygonWeightsIn(CornerLanes lanes, int32_t n, const Vec3* points, const Vec3& x, double s,
                      PolygonCorner* corners, double* weights);

// The same, one corner at a time through `corners` (n entries): what tests
// hold the others to.
void PolygonWeightsOneByOne(int32_t n, const Vec3* points, const Vec3& x, double s, PolygonCorner* corners,
                            double* weights);

}  // namespace ostrand
