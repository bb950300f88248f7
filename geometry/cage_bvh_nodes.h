// The binary nodes of a CageBvh, built over the pieces of its triangles by
// binned surface-area splits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry/cage_bvh.h"
#include "geometry/cage_bvh_pieces.h"

namespace ostrand {

// The bytes of scratch BuildBvhNodes needs for count pieces (suitably
// aligned for doubles, as an allocation is).
size_t BvhNodesScratchBytes(int32_t count);

// Builds the nodes over pieces[0, count) (count > 0) depth first, nodes[0]
// the root, with at most kBvhLeafSize pieces a leaf, written into entries
// (WriteLeafEntries). nodes needs room for 2 * count - 1 nodes and entries
// for count entries; order for count piece numbers, which it reorders.
// Stores the entries written in *entryCount; returns the nodes made.
int32_t BuildBvhNodes(const BvhPiece* pieces, int32_t count, void* scratch, int32_t* order, BvhNode* nodes,
                      BvhEntry* entries, int32_t* entryCount);

}  // namespace ostrand
