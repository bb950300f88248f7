#include "geometry/cage_bvh_wide.h"

#include <cmath>
#include <initializer_list>
#include <limits>

namespace ostrand {
namespace {

constexpr float kFloatInfinity = std::numeric_limits<float>::infinity();

// The nearest float at or below v, and at or above it: the bounds of a box
// that holds the exact one.
float FloatBelow(double v) {
  const float f = static_cast<float>(v);
  return static_cast<double>(f) > v ? std::nextafter(f, -kFloatInfinity) : f;
}

float FloatAbove(double v) {
  const float f = static_cast<float>(v);
  return static_cast<double>(f) < v ? std::nextafter(f, kFloatInfinity) : f;
}

void SetBox(float bounds[6][4], int slot, const double box[6]) {
  for (int b = 0; b < 3; ++b) {
    bounds[b][slot] = FloatBelow(box[b]);
    bounds[3 + b][slot] = FloatAbove(box[3 + b]);
  }
}

void SetEmpty(float bounds[6][4], int slot) {
  for (int b = 0; b < 3; ++b) {
    bounds[b][slot] = kFloatInfinity;
    bounds[3 + b][slot] = -kFloatInfinity;
  }
}

int32_t GroupsOf(int32_t entries) { return (entries + 3) / 4; }

// Puts the leaf's entries into groups from bvh->groupCount on; returns the
// first group's index.
int32_t GroupLeaf(CageBvh* bvh, const BvhNode& leaf) {
  const int32_t first = bvh->groupCount;
  for (int32_t i = 0; i < leaf.count; i += 4) {
    BvhLeafGroup& group = bvh->groups[bvh->groupCount++];
    for (int k = 0; k < 4; ++k) {
      if (i + k < leaf.count) {
        const BvhEntry& entry = bvh->entries[leaf.offset + i + k];
        SetBox(group.bounds, k, entry.box);
        group.triangle[k] = entry.triangle;
      } else {
        SetEmpty(group.bounds, k);
        group.triangle[k] = -1;
      }
    }
  }
  return first;
}

// Makes the wide node over binary node `node` (inner, or the root leaf),
// depth first; returns its index.
int32_t Widen(CageBvh* bvh, int32_t node) {
  const int32_t index = bvh->wideCount++;
  int32_t slots[4];
  int count = 0;
  const BvhNode& n = bvh->nodes[node];
  if (n.count > 0) {
    slots[count++] = node;
  } else {
    for (const int32_t child : {node + 1, n.offset}) {
      const BvhNode& c = bvh->nodes[child];
      if (c.count > 0) {
        slots[count++] = child;
      } else {
        slots[count++] = child + 1;
        slots[count++] = c.offset;
      }
    }
  }
  BvhWideNode wide{};
  wide.count = count;
  for (int k = 0; k < 4; ++k) {
    if (k >= count) {
      SetEmpty(wide.bounds, k);
      continue;
    }
    const BvhNode& c = bvh->nodes[slots[k]];
    SetBox(wide.bounds, k, c.box);
    wide.lowest[k] = c.lowest;
    wide.child[k] = c.count > 0 ? -1 - GroupLeaf(bvh, c) : Widen(bvh, slots[k]);
    wide.size[k] = c.count > 0 ? GroupsOf(c.count) : 0;
  }
  bvh->wide[index] = wide;
  return index;
}

}  // namespace

int32_t LeafGroupsNeeded(const CageBvh& bvh) {
  int32_t groups = 0;
  for (int32_t i = 0; i < bvh.nodeCount; ++i) groups += GroupsOf(bvh.nodes[i].count);
  return groups;
}

void WidenCageBvh(CageBvh* bvh) {
  bvh->wideCount = 0;
  bvh->groupCount = 0;
  if (bvh->nodeCount > 0) Widen(bvh, 0);
}

}  // namespace ostrand
