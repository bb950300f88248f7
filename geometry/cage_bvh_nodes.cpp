#include "geometry/cage_bvh_nodes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "geometry/bvh_box.h"

namespace ostrand {
namespace {

constexpr int kBins = 16;
// Below this depth nodes split at the median piece instead, which keeps
// every path under kSahDepth + 30 nodes (there are at most 2^30 pieces).
constexpr int kSahDepth = 48;
static_assert(kSahDepth + 30 < kBvhStackSize);
// Relative costs for the split choice: the slab tests of a node's two
// children (side by side), of a leaf entry's box (two entries side by side),
// and a ray test through the host.
constexpr double kNodeCost = 1.0;
constexpr double kEntryCost = 0.5;
constexpr double kTriangleCost = 4.0;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

using Box = BvhBox;

// What the splits ask of a piece at every level, worked out once.
struct PieceFacts {
  double centre[3];
  double halfArea;
};

struct Builder {
  const BvhPiece* pieces;
  const PieceFacts* facts;  // by piece number
  int32_t* order;           // piece numbers, reordered into leaves
  BvhNode* nodes;
  int32_t nodeCount;
  BvhEntry* entries;
  int32_t entryCount;
};

void Centre(const Box& box, double c[3]) {
  for (int a = 0; a < 3; ++a) c[a] = box.lo[a] * 0.5 + box.hi[a] * 0.5;
}

// The bin of a centre coordinate; binning and partitioning must agree.
int BinOf(double c, double low, double scale) {
  const double v = (c - low) * scale;
  if (v >= kBins) return kBins - 1;
  return v > 0 ? static_cast<int>(v) : 0;
}

struct Split {
  int axis = -1;
  int bin = 0;              // triangles in bins below it go to the first child
  double cost = kInfinity;  // the children's half areas times their pieces
};

// The cheapest binned split over the three axes; axis -1 when the centres
// cannot be told apart. The pieces are binned on all three axes in one pass.
Split BestSplit(const Builder& b, int32_t begin, int32_t end, const Box& centres) {
  Split best;
  double scale[3];
  bool spread[3];
  for (int axis = 0; axis < 3; ++axis) {
    const double extent = centres.hi[axis] - centres.lo[axis];
    spread[axis] = extent > 0;
    scale[axis] = spread[axis] ? kBins / extent : 0.0;
  }
  if (!spread[0] && !spread[1] && !spread[2]) return best;
  Box bins[3][kBins];
  int32_t counts[3][kBins] = {};
  for (auto& axisBins : bins)
    for (Box& bin : axisBins) bin = EmptyBox();
  for (int32_t i = begin; i < end; ++i) {
    const int32_t piece = b.order[i];
    const double* c = b.facts[piece].centre;
    for (int axis = 0; axis < 3; ++axis) {
      const int bin = BinOf(c[axis], centres.lo[axis], scale[axis]);
      ++counts[axis][bin];
      Grow(&bins[axis][bin], b.pieces[piece].box);
    }
  }
  for (int axis = 0; axis < 3; ++axis) {
    if (!spread[axis]) continue;
    // Sweep from the right, then from the left, costing every boundary.
    double rightArea[kBins];
    int32_t rightCount[kBins];
    Box right = EmptyBox();
    int32_t n = 0;
    for (int i = kBins - 1; i > 0; --i) {
      Grow(&right, bins[axis][i]);
      n += counts[axis][i];
      rightArea[i] = HalfArea(right);
      rightCount[i] = n;
    }
    Box left = EmptyBox();
    int32_t m = 0;
    for (int i = 1; i < kBins; ++i) {
      Grow(&left, bins[axis][i - 1]);
      m += counts[axis][i - 1];
      if (m == 0 || rightCount[i] == 0) continue;
      const double cost = HalfArea(left) * m + rightArea[i] * rightCount[i];
      if (cost < best.cost) best = Split{axis, i, cost};
    }
  }
  return best;
}

// Reorders [begin, end) so that the first child's triangles come first;
// returns where the second child's start.
int32_t Partition(Builder& b, int32_t begin, int32_t end, const Box& centres, const Split& split) {
  const double scale = kBins / (centres.hi[split.axis] - centres.lo[split.axis]);
  int32_t* middle = std::partition(b.order + begin, b.order + end, [&](int32_t t) {
    return BinOf(b.facts[t].centre[split.axis], centres.lo[split.axis], scale) < split.bin;
  });
  return static_cast<int32_t>(middle - b.order);
}

// Halves [begin, end) at the median centre along the widest axis.
int32_t MedianPartition(Builder& b, int32_t begin, int32_t end, const Box& centres) {
  int axis = 0;
  for (int a = 1; a < 3; ++a)
    if (centres.hi[a] - centres.lo[a] > centres.hi[axis] - centres.lo[axis]) axis = a;
  const int32_t middle = begin + (end - begin) / 2;
  std::nth_element(b.order + begin, b.order + middle, b.order + end, [&](int32_t s, int32_t t) {
    const double cs = b.facts[s].centre[axis], ct = b.facts[t].centre[axis];
    return cs < ct || (cs == ct && s < t);
  });
  return middle;
}

// Builds the subtree of order[begin, end) depth first; returns its node index.
int32_t BuildNode(Builder& b, int32_t begin, int32_t end, int depth) {
  const int32_t index = b.nodeCount++;
  Box box = EmptyBox(), centres = EmptyBox();
  double entries = 0.0;  // the half areas of the entries a leaf would test
  for (int32_t i = begin; i < end; ++i) {
    const int32_t piece = b.order[i];
    Grow(&box, b.pieces[piece].box);
    GrowByPoint(&centres, b.facts[piece].centre);
    entries += b.facts[piece].halfArea;
  }
  const int32_t count = end - begin;

  // Split choice: a leaf when it is no dearer than the best split and small
  // enough; past kSahDepth, or when the centres coincide, the median.
  int32_t middle = begin;
  if (count > 1) {
    const Split split = depth < kSahDepth ? BestSplit(b, begin, end, centres) : Split{};
    // A leaf tests its entries' boxes, and a triangle only when the line
    // touches its entry's box; the split is costed as two leaves.
    const double leafCost = kEntryCost * count * HalfArea(box) + kTriangleCost * entries;
    const double splitCost = kNodeCost * HalfArea(box) + kEntryCost * split.cost + kTriangleCost * entries;
    if (count > kBvhLeafSize || splitCost < leafCost)
      middle = split.axis >= 0 ? Partition(b, begin, end, centres, split)
                               : (count > kBvhLeafSize ? MedianPartition(b, begin, end, centres) : begin);
  }

  BvhNode& node = b.nodes[index];
  for (int a = 0; a < 3; ++a) {
    node.box[a] = box.lo[a];
    node.box[3 + a] = box.hi[a];
  }
  if (middle == begin) {
    node.offset = b.entryCount;
    node.count = WriteLeafEntries(b.pieces, b.order + begin, end - begin, b.entries + b.entryCount);
    node.lowest = b.entries[node.offset].triangle;
    b.entryCount += node.count;
    return index;
  }
  BuildNode(b, begin, middle, depth + 1);
  const int32_t second = BuildNode(b, middle, end, depth + 1);
  b.nodes[index].offset = second;
  b.nodes[index].count = 0;
  b.nodes[index].lowest = std::min(b.nodes[index + 1].lowest, b.nodes[second].lowest);
  return index;
}

}  // namespace

size_t BvhNodesScratchBytes(int32_t count) { return sizeof(PieceFacts) * static_cast<size_t>(count); }

int32_t BuildBvhNodes(const BvhPiece* pieces, int32_t count, void* scratch, int32_t* order, BvhNode* nodes,
                      BvhEntry* entries, int32_t* entryCount) {
  PieceFacts* facts = static_cast<PieceFacts*>(scratch);
  for (int32_t i = 0; i < count; ++i) {
    order[i] = i;
    Centre(pieces[i].box, facts[i].centre);
    facts[i].halfArea = HalfArea(pieces[i].box);
  }
  Builder builder{pieces, facts, order, nodes, 0, entries, 0};
  BuildNode(builder, 0, count, 0);
  *entryCount = builder.entryCount;
  return builder.nodeCount;
}

}  // namespace ostrand
