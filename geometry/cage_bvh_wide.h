// The wide nodes of a CageBvh: each binary inner node's children, an inner
// child replaced by its own two, so that a walk down the hierarchy takes one
// step where the binary nodes take two, with four slab tests side by side;
// and the leaves' entries four by four, for the same tests.
#pragma once

#include "geometry/cage_bvh.h"

namespace ostrand {

// The groups of four that the leaves of bvh's binary nodes take.
int32_t LeafGroupsNeeded(const CageBvh& bvh);

// Fills bvh->wide, which has room for bvh->nodeCount nodes (enough: each wide
// node stands for a distinct binary inner node, or for the root leaf), and
// bvh->groups, which has room for LeafGroupsNeeded, from the binary nodes.
void WidenCageBvh(CageBvh* bvh);

}  // namespace ostrand
