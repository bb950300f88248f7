// A bounding volume hierarchy over the triangles of a triangulated cage, so
// that a ray is offered to the host's ray test only for the triangles that its
// line can meet.
//
// The hierarchy answers one question: which triangles have a box that the
// ray's supporting line touches, both ways along the line and at any distance.
// A long thin triangle may have several boxes, one for each piece of it
// (cage_bvh_pieces.h); together they hold the whole triangle. The boxes are
// enlarged by a margin that grows with the magnitude of the coordinates
// involved (see CollectCandidates), so a ray test that reports only points of
// the ray's line, up to its own rounding, can never report a hit on a
// triangle left out.
#pragma once

#include <cstdint>

#include "ostrand/types.h"

namespace ostrand {

// A triangle the exhaustive search would offer to the ray test. Its index in
// CageBvh::triangles is its number in that search's order (polygon, then
// triangle), so ascending numbers give the exhaustive order back.
struct CageTriangle {
  int32_t polygon;     // index of its TriangulatedPolygon record
  int32_t corners[3];  // cage point numbers, as the record lists them
};

// A node's box and what it holds. Inner nodes are followed by their first
// child; `offset` is the second child's node index. Leaves hold `count` > 0
// entries from CageBvh::entries[offset].
struct BvhNode {
  double box[6];  // low x, y, z, then high x, y, z
  int32_t offset;
  int32_t count;   // 0 for an inner node
  int32_t lowest;  // the lowest triangle number under the node
};

// A triangle in a leaf, with a box around its part there: a triangle cut
// into pieces (cage_bvh_pieces.h) is in every leaf that holds one of them,
// once a leaf.
struct BvhEntry {
  double box[6];
  int32_t triangle;
};

// Two levels of the binary hierarchy in one node, the boxes of up to four
// children side by side: what the nearest-first search walks. A child is a
// wide node (its index, >= 0) or a leaf: -1 - the index of its first group in
// CageBvh::groups, with `size` groups. The bounds are the binary nodes' boxes
// rounded outwards to float: only ever larger, so that a line they keep out
// is kept out by the exact boxes too, and half the memory to read.
struct BvhWideNode {
  float bounds[6][4];  // bound b of child c at [b][c], b as in BvhNode::box
  int32_t child[4];
  int32_t size[4];    // a leaf's groups; 0 for a wide node
  int32_t lowest[4];  // the lowest triangle number under each child
  int32_t count;      // children in use, from the first: 1 to 4
};

// Up to four entries of a leaf side by side, as the nearest-first search
// tests them: their boxes rounded outwards to float, as a wide node's. A slot
// left over at a leaf's end has an empty box, which no line touches, and
// triangle -1.
struct BvhLeafGroup {
  float bounds[6][4];
  int32_t triangle[4];
};

// Built once per target from the same triangulation, positions and point
// count that the search is given; read-only and shared by all threads.
struct CageBvh {
  CageTriangle* triangles;  // every triangle with its corners in [0, pointCount)
  int32_t triangleCount;
  BvhEntry* entries;  // in leaf order
  int32_t entryCount;
  BvhNode* nodes;  // nodes[0] is the root; none when no triangle has a box
  int32_t nodeCount;
  BvhWideNode* wide;  // wide[0] is the root, over the same leaves; none with no nodes
  int32_t wideCount;
  BvhLeafGroup* groups;  // the leaves' entries four by four, leaf after leaf
  int32_t groupCount;
  int32_t* unbounded;      // triangles with a non-finite corner coordinate, ascending:
  int32_t unboundedCount;  //   no box holds them, so every ray is offered them
  double magnitude;        // largest |coordinate| of a boxed triangle's corner
};

// Builds the hierarchy (thin triangles cut into pieces, then binned
// surface-area splits, at most kBvhLeafSize entries a leaf, depth below
// kBvhStackSize). Triangles whose corners are not all in [0, pointCount) are
// left out, as the exhaustive search skips them. Null or bad records read as no triangles, as in that search.
// Returns false, with bvh emptied and nothing held, when memory cannot be had
// or the cage is beyond 2^28 triangles; the caller then searches exhaustively.
bool BuildCageBvh(const TriangulatedCage* cage, const Vec3* positions, uint32_t pointCount, CageBvh* bvh);

// Frees and empties; harmless on an empty or zero-initialised hierarchy.
void FreeCageBvh(CageBvh* bvh);

inline constexpr int32_t kBvhLeafSize = 8;
inline constexpr int kBvhStackSize = 128;

// Per-thread list of candidate triangle numbers, grown as rays need and kept
// for the thread's later rays. Zero-initialise; release with FreeCandidates.
struct CandidateScratch {
  int32_t capacity;
  int32_t count;
  int32_t* ids;
};

void FreeCandidates(CandidateScratch* scratch);

// Relative and absolute box margins: far above double rounding (and above the
// rounding of a ray test computed in single precision), far below the size of
// any triangle worth a hierarchy.
inline constexpr double kBvhRelativeMargin = 1e-6;
inline constexpr double kBvhAbsoluteMargin = 1e-9;

// Collects into scratch, in ascending order and once each, every triangle
// with a leaf entry whose box, enlarged on all sides by kBvhRelativeMargin *
// (magnitude + largest |origin coordinate|) + kBvhAbsoluteMargin, the line
// through origin along direction touches, plus every unbounded triangle.
// Returns false (scratch then holds nothing useful) when origin or direction
// is not finite, the direction is zero, or the list cannot grow: the caller
// must then search exhaustively.
bool CollectCandidates(const CageBvh& bvh, const Vec3& origin, const Vec3& direction, CandidateScratch* scratch);

}  // namespace ostrand
