// Finding where a ray from a target point first meets the triangulated cage.
//
// The cage is the geometry module's TriangulatedCage: record j triangulates
// cage polygon j. Triangle corners are taken from the caller's copy of the
// cage positions, so the search makes no host call besides the ray test.
#pragma once

#include <cstdint>

#include "geometry/cage_bvh.h"
#include "geometry/cage_snapshot.h"
#include "geometry/direction_grids.h"
#include "ostrand/host_api.h"
#include "ostrand/types.h"

namespace ostrand {

// The triangle that a ray took, or found == false.
struct RayHit {
  bool found;
  int32_t polygon;         // index of the TriangulatedPolygon record: the cage polygon
  int32_t corners[3];      // cage point numbers, as the triangle lists them
  double barycentric[3];   // weight of each corner, in the same order
  double distance;         // as the ray test reported it; comparable only along one ray
};

// What a search reads; shared read-only by all threads of a calculation.
struct RayCastCage {
  const TriangulatedCage* cage;  // may be null or hold bad counts: read as empty
  const Vec3* positions;         // pointCount cage positions (CagePositions)
  uint32_t pointCount;           // CagePoints; corners outside it are never tested
  useful_RayIntersectTriangle_fn rayTest;  // null: nothing is ever hit
  // Built from the same cage, positions and pointCount; null: every ray
  // searches exhaustively.
  const CageBvh* bvh;
  // With bvh: offer every triangle along the whole line (FindNearestHitAlongLine)
  // instead of searching nearest first.
  bool wholeLine = false;
  // With bvh: the hierarchy's entries laid out across each sample direction
  // of the calculation, for rays along the whole line that name their
  // direction; null: the hierarchy is walked.
  const DirectionGrids* grids = nullptr;
};

// What the geometry reads of the cage from the host, beyond the positions it
// searches: the reads come in as the host's functions, so the geometry makes
// no host call of its own and runs on any mesh the caller can answer for.
struct CageReads {
  uint32_t object;            // the cage object every read asks about
  uint32_t pointCount;        // CagePoints: entries of a row; point numbers must lie below it
  fxMeshPoint_fn meshPoint;   // meshPoint(object, k, &position, 1)
  fxMeshPoly_fn meshPoly;     // meshPoly(object, j, points, capacity, &count, &second, 0)
  // The same reads taken once (TakeCageSnapshot), for the polygons it holds;
  // null: every hit asks the host.
  const CageSnapshot* snapshot = nullptr;
};

// A hit before any triangle was taken.
RayHit NoHit();

// Makes *hit the ray test's report on a triangle of `polygon` with these
// corners: distance d and the corners' weights b. Every search records its
// hits here.
inline void RecordHit(int32_t polygon, const int32_t corners[3], double d, const double b[3], RayHit* hit) {
  hit->found = true;
  hit->distance = d;
  hit->polygon = polygon;
  for (int c = 0; c < 3; ++c) {
    hit->corners[c] = corners[c];
    hit->barycentric[c] = b[c];
  }
}

// Tests one triangle with the ray and takes it into hit by the search's rule:
// taken when it is hit and either nothing was taken yet or it is strictly
// nearer (and its distance positive). Triangles must be offered in polygon
// order, and within a polygon in triangle order, for ties to go to the first.
// A triangle with a corner outside [0, pointCount) is ignored.
void ConsiderTriangle(const RayCastCage& cage, const Vec3& origin, const Vec3& direction, int32_t polygon,
                      const int32_t corners[3], RayHit* hit);

// The reference search: every triangle of every polygon, in order.
RayHit FindNearestHitExhaustive(const RayCastCage& cage, const Vec3& origin, const Vec3& direction);

// The search through the hierarchy, along the whole line: the triangles whose
// boxes the ray's line touches (CollectCandidates) are offered to
// ConsiderTriangle in the reference's order. Every triangle left out would
// have reported no hit, so the result is the reference's bit for bit. Falls
// back to the reference for a ray the hierarchy cannot take or when scratch
// cannot grow. cage.bvh must not be null; scratch belongs to the calling
// thread. A ray along sample direction `sample` (directions[sample] of the
// calculation, for which cage.grids were built) takes the candidates from
// that direction's grid when there is one.
RayHit FindNearestHitAlongLine(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                               CandidateScratch* scratch, int32_t sample = -1);

// The search through the hierarchy, nearest first: boxes ahead of the origin
// in the order the ray enters them, the nearest hit so far (ties to the
// lower triangle number) cutting off every box the ray enters beyond the far
// side of that triangle's enlarged box. Then the boxes behind the origin,
// for triangles numbered below the nearest one. Its result is the
// reference's bit for bit when the ray test, besides reporting only points
// of the ray's line (see cage_bvh.h), reports distances that grow along the
// ray and are positive exactly ahead of its origin; a ray that meets
// anything else (a distance that is not positive, or a hit on a triangle
// wholly behind the origin) is searched again along the whole line
// (FindNearestHitAlongLine), as is a ray the hierarchy cannot take.
// cage.bvh must not be null; scratch belongs to the calling thread.
RayHit FindNearestHitNearestFirst(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                                  CandidateScratch* scratch);

// How many boxes at a time the nearest-first search tests: four where the
// processor offers AVX2 (WidestBoxLanes), else two (SSE2), the same hits
// either way. FindNearestHitNearestFirst takes the widest;
// FindNearestHitNearestFirstIn takes the lanes asked, at most the widest,
// for the tests that compare them.
enum class BoxLanes { kTwo, kFour };
BoxLanes WidestBoxLanes();
RayHit FindNearestHitNearestFirstIn(BoxLanes lanes, const RayCastCage& cage, const Vec3& origin,
                                    const Vec3& direction, CandidateScratch* scratch);

// The search along the whole line over the candidates a grid lookup found
// (GridCandidates with cage.grids): those ahead of the origin first, then
// those behind it numbered below the first one hit. Its result is the
// reference's bit for bit under the same condition as for the nearest-first
// search; a ray that meets anything else is offered every candidate in the
// reference's order. cage.bvh must not be null.
RayHit FindNearestHitOnGrid(const RayCastCage& cage, const Vec3& origin, const Vec3& direction,
                            const GridLookup& listed);

// The search the calculation uses: the accelerated one (or, with wholeLine
// or grids, the one along the whole line) when cage.bvh is set and a scratch
// is given, else the reference. `sample` as for FindNearestHitAlongLine.
RayHit FindNearestHit(const RayCastCage& cage, const Vec3& origin, const Vec3& direction, CandidateScratch* scratch,
                      int32_t sample = -1);

// The point on the cage where the ray met it: b0 Q0 + b1 Q1 + b2 Q2, each
// coordinate summed in that order, with the corners Qk read again from the
// host (reads.meshPoint(reads.object, k, ., 1)), not from the positions searched.
Vec3 HitPoint(const RayHit& hit, const CageReads& reads);

}  // namespace ostrand
