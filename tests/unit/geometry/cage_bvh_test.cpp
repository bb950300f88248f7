// The bounding volume hierarchy over a triangulated cage: what it holds,
// how deep it gets, and what happens when memory cannot be had.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/cage_bvh.h"
#include "geometry/cage_bvh_pieces.h"
#include "geometry/ray_casting.h"
#include "geometry/sample_directions.h"
#include "host_interface/memory.h"
#include "support/cages.h"
#include "support/ray_search_support.h"

namespace {

using namespace ostrand;
using test_support::OwnedTriangulation;
using test_support::AcceleratedCage;
using test_support::SameHit;

// Depth of the deepest leaf, checking on the way that each node's box holds
// its children's and its entries' boxes, that a leaf holds each triangle once
// and that each node knows its lowest triangle; collects each triangle's
// entries.
int CheckNode(const CageBvh& bvh, int32_t index, std::vector<std::vector<const BvhEntry*>>* entries) {
  const BvhNode& node = bvh.nodes[index];
  auto holds = [&](const BvhNode& outer, const double* box) {
    for (int a = 0; a < 3; ++a)
      if (!(outer.box[a] <= box[a] && box[3 + a] <= outer.box[3 + a])) return false;
    return true;
  };
  if (node.count > 0) {
    EXPECT_LE(node.count, kBvhLeafSize);
    for (int32_t i = node.offset; i < node.offset + node.count; ++i) {
      const BvhEntry& entry = bvh.entries[i];
      (*entries)[entry.triangle].push_back(&entry);
      EXPECT_TRUE(holds(node, entry.box)) << "triangle " << entry.triangle;
      if (i > node.offset) {
        EXPECT_LT(bvh.entries[i - 1].triangle, entry.triangle);
      }
    }
    EXPECT_EQ(node.lowest, bvh.entries[node.offset].triangle);
    return 1;
  }
  for (int32_t child : {index + 1, node.offset}) EXPECT_TRUE(holds(node, bvh.nodes[child].box));
  EXPECT_EQ(node.lowest, std::min(bvh.nodes[index + 1].lowest, bvh.nodes[node.offset].lowest));
  return 1 + std::max(CheckNode(bvh, index + 1, entries), CheckNode(bvh, node.offset, entries));
}

// Whether the float bounds hold the exact box and are the nearest floats
// that do: the box rounded outwards, no wider.
bool RoundedOutwards(const double* bounds, const double* exact) {
  for (int a = 0; a < 3; ++a) {
    const float lo = static_cast<float>(bounds[a]), hi = static_cast<float>(bounds[3 + a]);
    if (!(lo <= exact[a] && std::nextafter(lo, INFINITY) > exact[a])) return false;
    if (!(hi >= exact[3 + a] && std::nextafter(hi, -INFINITY) < exact[3 + a])) return false;
  }
  return true;
}

// Walks the wide nodes from wide[index], checking that a leaf child carries
// its leaf's box (rounded outwards to float) and lowest number, with the
// leaf's entries in order in its groups, each within its slot's box and the
// slots left over empty, and that a wide child boxes its own children;
// returns the lowest number under it and counts the leaves reached.
int32_t CheckWide(const CageBvh& bvh, int32_t index, const double* outer, std::vector<int>* reached) {
  const BvhWideNode& wide = bvh.wide[index];
  EXPECT_GE(wide.count, 1);
  EXPECT_LE(wide.count, 4);
  int32_t lowest = INT32_MAX;
  for (int k = 0; k < wide.count; ++k) {
    double box[6];
    for (int b = 0; b < 6; ++b) box[b] = wide.bounds[b][k];
    for (int a = 0; a < 3 && outer != nullptr; ++a) {
      EXPECT_TRUE(outer[a] <= box[a] && box[3 + a] <= outer[3 + a]);
    }
    const int32_t child = wide.child[k];
    if (child >= 0) {
      EXPECT_EQ(wide.lowest[k], CheckWide(bvh, child, box, reached));
      lowest = std::min(lowest, wide.lowest[k]);
      continue;
    }
    const BvhLeafGroup* groups = bvh.groups - 1 - child;
    // The leaf not reached yet whose entries the groups hold.
    const auto leaf = std::find_if(bvh.nodes, bvh.nodes + bvh.nodeCount, [&](const BvhNode& n) {
      if (n.count <= 0 || (*reached)[&n - bvh.nodes] != 0 || (n.count + 3) / 4 != wide.size[k]) return false;
      for (int32_t i = 0; i < n.count; ++i)
        if (groups[i / 4].triangle[i % 4] != bvh.entries[n.offset + i].triangle) return false;
      return true;
    });
    if (leaf == bvh.nodes + bvh.nodeCount) {
      ADD_FAILURE() << "no leaf left holds the entries of groups from " << -1 - child;
      continue;
    }
    EXPECT_TRUE(RoundedOutwards(box, leaf->box));
    EXPECT_EQ(wide.lowest[k], leaf->lowest);
    for (int32_t slot = 0; slot < 4 * wide.size[k]; ++slot) {
      const BvhLeafGroup& group = groups[slot / 4];
      double bounds[6];
      for (int b = 0; b < 6; ++b) bounds[b] = group.bounds[b][slot % 4];
      if (slot < leaf->count) {
        EXPECT_TRUE(RoundedOutwards(bounds, bvh.entries[leaf->offset + slot].box));
      } else {
        EXPECT_EQ(group.triangle[slot % 4], -1);
        EXPECT_TRUE(bounds[0] > bounds[3]) << "a slot left over has an empty box";
      }
    }
    ++(*reached)[leaf - bvh.nodes];
    lowest = std::min(lowest, wide.lowest[k]);
  }
  return lowest;
}

// Whether every point of a 24 x 24 grid over each triangle (corners and
// edges included) lies in the box of one of the triangle's entries, up to
// the rounding of the point (far below the cut's widening and the margin).
bool EntriesCoverTheirTriangles(const CageBvh& bvh, const std::vector<Vec3>& positions,
                                const std::vector<std::vector<const BvhEntry*>>& entries) {
  constexpr int kSteps = 24;
  const double rounding = 1e-14 * bvh.magnitude;
  for (int32_t t = 0; t < bvh.triangleCount; ++t) {
    const int32_t* k = bvh.triangles[t].corners;
    for (int i = 0; i <= kSteps; ++i)
      for (int j = 0; i + j <= kSteps; ++j) {
        const double u = static_cast<double>(i) / kSteps, v = static_cast<double>(j) / kSteps, w = 1 - u - v;
        const Vec3& a = positions[k[0]];
        const Vec3& b = positions[k[1]];
        const Vec3& c = positions[k[2]];
        const double p[3] = {w * a.x + u * b.x + v * c.x, w * a.y + u * b.y + v * c.y, w * a.z + u * b.z + v * c.z};
        const bool covered = std::any_of(entries[t].begin(), entries[t].end(), [&](const BvhEntry* e) {
          for (int d = 0; d < 3; ++d)
            if (!(e->box[d] - rounding <= p[d] && p[d] <= e->box[3 + d] + rounding)) return false;
          return true;
        });
        if (!covered) {
          ADD_FAILURE() << "triangle " << t << " at (" << u << ", " << v << ") is in no box of its own";
          return false;
        }
      }
  }
  return true;
}

// Triangles whose boxes are close to them are never cut (each sits in one
// leaf); the long thin triangles of a 250-gon's fan are, and their pieces'
// boxes still cover them. The wide nodes reach every leaf once.
TEST(CageBvh, CoversEveryTriangleWithItsEntriesInNestedBoxesAtBoundedDepth) {
  // A subdivided cube, and triangles at sizes doubling 900 times, on which
  // surface-area splits peel off one triangle at a time.
  host::Mesh doubling;
  for (int i = 0; i < 900; ++i) {
    const double s = std::pow(2.0, 0.5 * i);
    doubling.points.insert(doubling.points.end(), {{s, 0, 0}, {s, s, 0}, {s, 0, s}});
    doubling.polygons.push_back({3 * i, 3 * i + 1, 3 * i + 2});
  }
  const host::Mesh fan = test_support::Prism(test_support::RegularPolygon(250, 1.0), 0.75);
  const host::Mesh cube = test_support::SubdividedCube(9);
  for (const host::Mesh* mesh : {&cube, static_cast<const host::Mesh*>(&doubling), &fan}) {
    OwnedTriangulation triangulation(*mesh);
    const RayCastCage cage{&triangulation.cage, mesh->points.data(), static_cast<uint32_t>(mesh->points.size()),
                           &host::RayIntersectTriangle, nullptr};
    AcceleratedCage accelerated(cage);
    ASSERT_TRUE(accelerated.built());
    const CageBvh& bvh = accelerated.bvh();
    ASSERT_EQ(bvh.triangleCount, static_cast<int32_t>(triangulation.triangleCount()));
    std::vector<std::vector<const BvhEntry*>> entries(bvh.triangleCount);
    const int depth = CheckNode(bvh, 0, &entries);
    EXPECT_LT(depth, kBvhStackSize);
    std::vector<int> reached(bvh.nodeCount, 0);
    CheckWide(bvh, 0, nullptr, &reached);
    for (int32_t i = 0; i < bvh.nodeCount; ++i) EXPECT_EQ(reached[i], bvh.nodes[i].count > 0 ? 1 : 0) << i;
    EXPECT_TRUE(EntriesCoverTheirTriangles(bvh, mesh->points, entries));
    const auto once = std::count_if(entries.begin(), entries.end(), [](const auto& e) { return e.size() == 1; });
    if (mesh == &fan) {
      EXPECT_GT(bvh.entryCount, 2 * bvh.triangleCount);
      EXPECT_LE(bvh.entryCount, (1 + kExtraPieces) * bvh.triangleCount);
    } else {
      EXPECT_EQ(once, bvh.triangleCount);
    }
    EXPECT_TRUE(accelerated.collect(Vec3{0.5, 0.5, 0.5}, Vec3{0, 6e5, 8e5}));
  }
}

TEST(CageBvh, WithoutMemoryHoldsNothingAndNoCageGivesAnEmptyHierarchy) {
  const host::Mesh mesh = test_support::Cube();
  OwnedTriangulation triangulation(mesh);
  for (long n = 0; n < 6; ++n) {
    CageBvh bvh{};
    SetAllocationFailure(n);
    EXPECT_FALSE(BuildCageBvh(&triangulation.cage, mesh.points.data(), 8, &bvh)) << n;
    SetAllocationFailure(-1);
    EXPECT_EQ(bvh.triangles, nullptr);
    EXPECT_EQ(bvh.nodes, nullptr);
    EXPECT_EQ(bvh.wide, nullptr);
    EXPECT_EQ(bvh.nodeCount, 0);
  }

  // Without the room for pieces (allocation 1) or the cut's scratch (2),
  // thin triangles are boxed whole, and the search is as exact.
  const host::Mesh fan = test_support::Prism(test_support::RegularPolygon(40, 1.0), 0.75);
  OwnedTriangulation fanTriangles(fan);
  const RayCastCage fanCage{&fanTriangles.cage, fan.points.data(), static_cast<uint32_t>(fan.points.size()),
                            &host::RayIntersectTriangle, nullptr};
  for (long n : {1, 2}) {
    SetAllocationFailure(n);
    AcceleratedCage whole(fanCage);
    SetAllocationFailure(-1);
    ASSERT_TRUE(whole.built()) << n;
    EXPECT_EQ(whole.bvh().entryCount, whole.bvh().triangleCount) << n;
    Vec3* samples = BuildSampleDirections(32);
    for (int i = 0; i < 32; ++i)
      EXPECT_TRUE(SameHit(whole.find(Vec3{0.2, 0.1, -0.3}, samples[i]),
                          FindNearestHitExhaustive(fanCage, Vec3{0.2, 0.1, -0.3}, samples[i])));
    FreeArray(samples);
  }

  CageBvh empty{};
  EXPECT_TRUE(BuildCageBvh(nullptr, mesh.points.data(), 8, &empty));
  EXPECT_EQ(empty.triangleCount, 0);
  CandidateScratch scratch{};
  EXPECT_TRUE(CollectCandidates(empty, Vec3{0, 0, 0}, Vec3{1e6, 0, 0}, &scratch));
  EXPECT_EQ(scratch.count, 0);
  FreeCageBvh(&empty);
}

}  // namespace
