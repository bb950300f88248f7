// Why the pieces cover the triangle. A piece is the part of its triangle
// inside a clip box; cutting it splits that box in two at a plane, so the two
// clip boxes together hold the piece. Each new piece's box is the box of the
// triangle clipped to its clip box (the corners at the plane set to it
// exactly), widened by kPieceWidening * magnitude for the rounding of the
// clipped corners (a few 1e-16 of the coordinates), then kept inside the
// clip box. A part that the clipping finds empty is within rounding of the
// plane, inside the other part's widened box.
#include "geometry/cage_bvh_pieces.h"

#include <algorithm>
#include <cmath>

#include "host_interface/memory.h"

namespace ostrand {
namespace {

// Pieces whose longest side is below this fraction of the magnitude are not
// cut again: their waste is too small to pay for a leaf entry.
constexpr double kLeastCut = 1e-9;
// A triangle clipped by six planes has at most nine corners; rounding may
// add a few more before a clip gives up.
constexpr int kMostCorners = 16;

struct Polygon {
  double p[kMostCorners][3];
  int n;
};

// Keeps the part of poly on one side of the plane where coordinate `axis` is
// `bound`: at or below it when `below`. False when the corners overflow.
bool ClipToPlane(Polygon* poly, int axis, double bound, bool below) {
  Polygon out;
  out.n = 0;
  for (int i = 0; i < poly->n; ++i) {
    const double* a = poly->p[i];
    const double* b = poly->p[i + 1 == poly->n ? 0 : i + 1];
    const bool aIn = below ? a[axis] <= bound : a[axis] >= bound;
    const bool bIn = below ? b[axis] <= bound : b[axis] >= bound;
    if (out.n + 2 > kMostCorners) return false;
    if (aIn) std::copy(a, a + 3, out.p[out.n++]);
    if (aIn != bIn) {
      const double t = (bound - a[axis]) / (b[axis] - a[axis]);
      double* q = out.p[out.n++];
      for (int c = 0; c < 3; ++c) q[c] = a[c] + t * (b[c] - a[c]);
      q[axis] = bound;
    }
  }
  *poly = out;
  return true;
}

double Area(const Polygon& poly) {
  double s[3] = {0.0, 0.0, 0.0};
  const double* o = poly.p[0];
  for (int i = 1; i + 1 < poly.n; ++i) {
    const double e[3] = {poly.p[i][0] - o[0], poly.p[i][1] - o[1], poly.p[i][2] - o[2]};
    const double f[3] = {poly.p[i + 1][0] - o[0], poly.p[i + 1][1] - o[1], poly.p[i + 1][2] - o[2]};
    s[0] += e[1] * f[2] - e[2] * f[1];
    s[1] += e[2] * f[0] - e[0] * f[2];
    s[2] += e[0] * f[1] - e[1] * f[0];
  }
  return 0.5 * std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
}

// The part of the triangle inside clip, its box and its area. Returns 0 when
// the part is empty, -1 when the clipping overflowed, 1 otherwise.
int ClipTriangle(const Vec3* corners, const BvhBox& clip, double widening, BvhBox* box, double* area) {
  Polygon poly;
  poly.n = 3;
  for (int c = 0; c < 3; ++c) {
    poly.p[c][0] = corners[c].x;
    poly.p[c][1] = corners[c].y;
    poly.p[c][2] = corners[c].z;
  }
  for (int a = 0; a < 3; ++a)
    if (!ClipToPlane(&poly, a, clip.lo[a], false) || !ClipToPlane(&poly, a, clip.hi[a], true)) return -1;
  if (poly.n == 0) return 0;
  for (int a = 0; a < 3; ++a) {
    double lo = poly.p[0][a], hi = poly.p[0][a];
    for (int i = 1; i < poly.n; ++i) {
      lo = std::fmin(lo, poly.p[i][a]);
      hi = std::fmax(hi, poly.p[i][a]);
    }
    box->lo[a] = std::fmax(lo - widening, clip.lo[a]);
    box->hi[a] = std::fmin(hi + widening, clip.hi[a]);
  }
  *area = Area(poly);
  return 1;
}

// A piece waiting to be cut, by how much area its box wastes.
struct Waste {
  double excess;
  int32_t piece;
};

bool LessWasteful(const Waste& a, const Waste& b) {
  return a.excess < b.excess || (a.excess == b.excess && a.piece > b.piece);
}

double Excess(const BvhBox& box, double area) { return HalfArea(box) - kPieceBoxRatio * area; }

}  // namespace

bool IsThin(const CageTriangle& triangle, const Vec3* positions) {
  const Vec3 corners[3] = {positions[triangle.corners[0]], positions[triangle.corners[1]],
                           positions[triangle.corners[2]]};
  BvhBox whole{};
  for (int a = 0; a < 3; ++a) {
    whole.lo[a] = -INFINITY;
    whole.hi[a] = INFINITY;
  }
  BvhBox box{};
  double area = 0.0;
  return ClipTriangle(corners, whole, 0.0, &box, &area) == 1 && area > 0 && Excess(box, area) > 0;
}

int32_t CutThinTriangles(const CageTriangle* triangles, const Vec3* positions, double magnitude, BvhPiece* pieces,
                         int32_t count, int32_t capacity) {
  Waste* heap = nullptr;
  if (capacity <= count || !AllocateArray(heap, static_cast<size_t>(capacity))) return count;
  const double widening = kPieceWidening * magnitude;
  const double leastCut = kLeastCut * magnitude;
  int32_t waiting = 0;
  auto push = [&](int32_t piece, double area) {
    const BvhBox& box = pieces[piece].box;
    double longest = 0.0;
    for (int a = 0; a < 3; ++a) longest = std::fmax(longest, box.hi[a] - box.lo[a]);
    const double excess = Excess(box, area);
    // Zero-area triangles are left whole: lines meet them only by rounding.
    if (!(area > 0 && excess > 0 && longest > leastCut)) return;
    heap[waiting++] = Waste{excess, piece};
    std::push_heap(heap, heap + waiting, LessWasteful);
  };

  for (int32_t i = 0; i < count; ++i) {
    const int32_t* k = triangles[pieces[i].triangle].corners;
    const Vec3 corners[3] = {positions[k[0]], positions[k[1]], positions[k[2]]};
    double area = 0.0;
    BvhBox box{};
    if (ClipTriangle(corners, pieces[i].box, widening, &box, &area) == 1) push(i, area);
  }

  // Cut the most wasteful piece at the middle of its longest side.
  while (waiting > 0 && count < capacity) {
    std::pop_heap(heap, heap + waiting, LessWasteful);
    const int32_t piece = heap[--waiting].piece;
    const BvhPiece whole = pieces[piece];
    int axis = 0;
    for (int a = 1; a < 3; ++a)
      if (whole.box.hi[a] - whole.box.lo[a] > whole.box.hi[axis] - whole.box.lo[axis]) axis = a;
    const double middle = whole.box.lo[axis] * 0.5 + whole.box.hi[axis] * 0.5;
    if (!(whole.box.lo[axis] < middle && middle < whole.box.hi[axis])) continue;

    const int32_t* k = triangles[whole.triangle].corners;
    const Vec3 corners[3] = {positions[k[0]], positions[k[1]], positions[k[2]]};
    BvhBox clips[2] = {whole.box, whole.box};
    clips[0].hi[axis] = middle;
    clips[1].lo[axis] = middle;
    BvhPiece parts[2] = {{{}, whole.triangle}, {{}, whole.triangle}};
    double areas[2] = {0.0, 0.0};
    const int low = ClipTriangle(corners, clips[0], widening, &parts[0].box, &areas[0]);
    const int high = ClipTriangle(corners, clips[1], widening, &parts[1].box, &areas[1]);
    if (low < 0 || high < 0 || low + high == 0) continue;  // left as it is
    if (low + high == 1) {
      // One side is empty up to rounding: the piece shrinks to the other.
      pieces[piece] = parts[low == 1 ? 0 : 1];
      push(piece, areas[low == 1 ? 0 : 1]);
      continue;
    }
    pieces[piece] = parts[0];
    pieces[count] = parts[1];
    push(piece, areas[0]);
    push(count++, areas[1]);
  }
  FreeArray(heap);
  return count;
}

int32_t WriteLeafEntries(const BvhPiece* pieces, int32_t* order, int32_t count, BvhEntry* entries) {
  for (int32_t i = 1; i < count; ++i) {
    const int32_t piece = order[i];
    int32_t j = i;
    for (; j > 0 && pieces[order[j - 1]].triangle > pieces[piece].triangle; --j) order[j] = order[j - 1];
    order[j] = piece;
  }
  int32_t written = 0;
  for (int32_t i = 0; i < count; ++i) {
    const BvhPiece& piece = pieces[order[i]];
    if (written > 0 && entries[written - 1].triangle == piece.triangle) {
      BvhEntry& entry = entries[written - 1];
      for (int a = 0; a < 3; ++a) {
        entry.box[a] = std::fmin(entry.box[a], piece.box.lo[a]);
        entry.box[3 + a] = std::fmax(entry.box[3 + a], piece.box.hi[a]);
      }
      continue;
    }
    BvhEntry& entry = entries[written++];
    entry.triangle = piece.triangle;
    for (int a = 0; a < 3; ++a) {
      entry.box[a] = piece.box.lo[a];
      entry.box[3 + a] = piece.box.hi[a];
    }
  }
  return written;
}

}  // namespace ostrand
