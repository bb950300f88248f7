#include "geometry/cage_bvh.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "geometry/bvh_box.h"
#include "geometry/cage_bvh_nodes.h"
#include "geometry/cage_bvh_pieces.h"
#include "geometry/cage_bvh_wide.h"
#include "host_interface/memory.h"

namespace ostrand {
namespace {

// Beyond this the caller searches exhaustively. With the cut pieces it
// keeps node and entry numbers in int32 and the nodes' depth bounded
// (cage_bvh_nodes.cpp).
constexpr int64_t kMaxTriangles = int64_t{1} << 28;
static_assert(kMaxTriangles * (1 + kExtraPieces) <= int64_t{1} << 30);
using Box = BvhBox;

bool IsCagePoint(int32_t k, uint32_t pointCount) { return k >= 0 && static_cast<uint32_t>(k) < pointCount; }

// The triangles of polygon record j that the exhaustive search would test.
bool Testable(const int32_t corners[3], uint32_t pointCount) {
  return IsCagePoint(corners[0], pointCount) && IsCagePoint(corners[1], pointCount) &&
         IsCagePoint(corners[2], pointCount);
}

bool FiniteBox(const Box& box) {
  for (int a = 0; a < 3; ++a)
    if (!std::isfinite(box.lo[a]) || !std::isfinite(box.hi[a])) return false;
  return true;
}

Box TriangleBox(const CageTriangle& triangle, const Vec3* positions) {
  Box box = EmptyBox();
  for (int32_t k : triangle.corners) {
    const double xyz[3] = {positions[k].x, positions[k].y, positions[k].z};
    GrowByPoint(&box, xyz);
  }
  return box;
}

}  // namespace

namespace {

// What numbering the triangles found.
struct Numbered {
  int32_t boxed = 0;      // triangles with a finite box
  int32_t unbounded = 0;  // the others
  bool thin = false;      // whether any boxed one is long and thin
};

// Numbers into bvh->triangles what the exhaustive search would test, in its
// order, and sets bvh->magnitude; a non-finite corner leaves a triangle to be
// tested by every ray. False when there are too many or no memory.
bool NumberTriangles(const TriangulatedCage* cage, const Vec3* positions, uint32_t pointCount, CageBvh* bvh,
                     Numbered* found) {
  const bool readable = cage != nullptr && cage->polygons != nullptr && cage->polygonCount > 0 && positions != nullptr;
  const int32_t polygons = readable ? cage->polygonCount : 0;
  int64_t total = 0;
  for (int32_t j = 0; j < polygons; ++j) {
    const TriangulatedPolygon& polygon = cage->polygons[j];
    if (polygon.triangles == nullptr) continue;
    for (int32_t t = 0; t < polygon.triangleCount; ++t) total += Testable(polygon.triangles[t], pointCount);
    if (total > kMaxTriangles) return false;
  }
  if (!AllocateArray(bvh->triangles, static_cast<size_t>(total))) return false;
  int32_t id = 0;
  for (int32_t j = 0; j < polygons; ++j) {
    const TriangulatedPolygon& polygon = cage->polygons[j];
    if (polygon.triangles == nullptr) continue;
    for (int32_t t = 0; t < polygon.triangleCount; ++t) {
      const int32_t* corners = polygon.triangles[t];
      if (!Testable(corners, pointCount)) continue;
      bvh->triangles[id++] = CageTriangle{j, {corners[0], corners[1], corners[2]}};
      const Box box = TriangleBox(bvh->triangles[id - 1], positions);
      if (!FiniteBox(box)) {
        ++found->unbounded;
        continue;
      }
      ++found->boxed;
      found->thin = found->thin || IsThin(bvh->triangles[id - 1], positions);
      for (int a = 0; a < 3; ++a)
        bvh->magnitude = std::fmax(bvh->magnitude, std::fmax(std::fabs(box.lo[a]), std::fabs(box.hi[a])));
    }
  }
  bvh->triangleCount = id;
  return true;
}

// The build's own arrays, freed however it ends.
struct BuildArrays {
  BvhPiece* pieces = nullptr;
  int32_t count = 0;  // pieces made
  int32_t* order = nullptr;
  char* scratch = nullptr;
  BuildArrays() = default;
  BuildArrays(const BuildArrays&) = delete;
  BuildArrays& operator=(const BuildArrays&) = delete;
  ~BuildArrays() {
    FreeArray(pieces);
    FreeArray(order);
    FreeArray(scratch);
  }
};

// One piece per boxed triangle, with room for cuts when any is thin (and the
// memory for them can be had), then the thin ones cut.
bool MakePieces(const CageBvh& bvh, const Vec3* positions, const Numbered& found, BuildArrays* arrays) {
  int32_t capacity = found.boxed;
  if (found.thin && AllocateArray(arrays->pieces, static_cast<size_t>(found.boxed) * (1 + kExtraPieces)))
    capacity = found.boxed * (1 + kExtraPieces);
  if (arrays->pieces == nullptr && !AllocateArray(arrays->pieces, static_cast<size_t>(found.boxed))) return false;
  for (int32_t t = 0; t < bvh.triangleCount; ++t) {
    const Box box = TriangleBox(bvh.triangles[t], positions);
    if (FiniteBox(box)) arrays->pieces[arrays->count++] = BvhPiece{box, t};
  }
  if (found.thin)
    arrays->count =
        CutThinTriangles(bvh.triangles, positions, bvh.magnitude, arrays->pieces, arrays->count, capacity);
  return true;
}

// The binary nodes over the pieces, the list of triangles without a box, and
// the wide nodes and leaf groups the nearest-first walk reads.
bool BuildTree(const Vec3* positions, const Numbered& found, BuildArrays* arrays, CageBvh* bvh) {
  const int32_t count = arrays->count;
  const size_t nodes = count > 0 ? 2 * static_cast<size_t>(count) - 1 : 0;
  if (!AllocateArray(arrays->order, static_cast<size_t>(count)) ||
      !AllocateArray(arrays->scratch, BvhNodesScratchBytes(count)) || !AllocateArray(bvh->nodes, nodes) ||
      !AllocateArray(bvh->entries, static_cast<size_t>(count)) ||
      !AllocateArray(bvh->unbounded, static_cast<size_t>(found.unbounded)))
    return false;
  for (int32_t t = 0; t < bvh->triangleCount; ++t)
    if (!FiniteBox(TriangleBox(bvh->triangles[t], positions))) bvh->unbounded[bvh->unboundedCount++] = t;
  if (count == 0) return true;
  bvh->nodeCount = BuildBvhNodes(arrays->pieces, count, arrays->scratch, arrays->order, bvh->nodes, bvh->entries,
                                 &bvh->entryCount);
  FreeArray(arrays->scratch);  // before the wide nodes take their memory
  if (!AllocateArray(bvh->wide, static_cast<size_t>(bvh->nodeCount)) ||
      !AllocateArray(bvh->groups, static_cast<size_t>(LeafGroupsNeeded(*bvh))))
    return false;
  WidenCageBvh(bvh);
  return true;
}

}  // namespace

bool BuildCageBvh(const TriangulatedCage* cage, const Vec3* positions, uint32_t pointCount, CageBvh* bvh) {
  *bvh = CageBvh{};
  Numbered found;
  BuildArrays arrays;
  if (NumberTriangles(cage, positions, pointCount, bvh, &found) && MakePieces(*bvh, positions, found, &arrays) &&
      BuildTree(positions, found, &arrays, bvh))
    return true;
  FreeCageBvh(bvh);
  return false;
}

void FreeCageBvh(CageBvh* bvh) {
  FreeArray(bvh->triangles);
  FreeArray(bvh->entries);
  FreeArray(bvh->nodes);
  FreeArray(bvh->wide);
  FreeArray(bvh->groups);
  FreeArray(bvh->unbounded);
  *bvh = CageBvh{};
}

}  // namespace ostrand
