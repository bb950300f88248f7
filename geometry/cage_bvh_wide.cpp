#include "geometry/cage_bvh_wide.h"

#include <cmath>
#include <initializer_list>

namespace ostrand {
namespace {

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
    for (int b = 0; b < 3; ++b) {
      wide.bounds[b][k] = k < count ? bvh->nodes[slots[k]].box[b] : INFINITY;
      wide.bounds[3 + b][k] = k < count ? bvh->nodes[slots[k]].box[3 + b] : -INFINITY;
    }
    if (k >= count) continue;
    const BvhNode& c = bvh->nodes[slots[k]];
    wide.lowest[k] = c.lowest;
    wide.child[k] = c.count > 0 ? -1 - c.offset : Widen(bvh, slots[k]);
    wide.size[k] = c.count;
  }
  bvh->wide[index] = wide;
  return index;
}

}  // namespace

void WidenCageBvh(CageBvh* bvh) {
  bvh->wideCount = 0;
  if (bvh->nodeCount > 0) Widen(bvh, 0);
}

}  // namespace ostrand
