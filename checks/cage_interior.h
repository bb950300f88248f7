// Which points lie inside a cage: the generalised winding number w of the
// cage's faces, |w| >= 0.5 counting as inside. For a closed cage that is the
// plain inside (w is a whole number, 0 outside); for an open one it degrades
// gracefully: a point deep inside a cage with a hole still has |w| near 1.
// The sign does not matter, so a cage whose faces all point inward works too.
//
// The faces are split into fans of triangles. When the triangles form a
// closed surface (every edge, after welding points at exactly the same
// place, used as often in one direction as in the other), w is the signed
// count of the triangles a ray from the point crosses. Otherwise each hole is
// capped with a fan of triangles from one apex over its boundary edges: the
// faces with the caps turned over form a closed surface, counted by a ray,
// and the caps' own winding number is added. For the inside test alone that
// sum is skipped where the caps cannot reach 1/2 together (far from them, or
// beside a single flat one, whose edges lie in a plane around its middle),
// then estimated with a bound on its error (checks/solid_angle_tree.h), and
// summed exactly, a solid angle per boundary edge, only where the estimate
// cannot tell.
//
// A ray that passes within a hair of an edge or a corner is cast again along
// other fixed directions; when every direction is ambiguous the solid angles
// of all triangles are summed. A point on a face (within 1e-10 of the
// cage's half-size) counts as inside. All work is done in a frame scaled by
// a power of two, so any cage of finite size is handled alike.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "checks/solid_angle_tree.h"
#include "checks/triangle_tree.h"
#include "host/host.h"
#include "ostrand/types.h"

namespace checks {

// Coordinates moved to the middle of a bounding box and scaled by a power of
// two so that the box's largest half-extent is from 0.5 to 1:
// x' = (x - centre) * 2^exponent, exact but for the subtraction.
struct Frame {
  Vec3 centre{0, 0, 0};
  int exponent = 0;
  Vec3 apply(const Vec3& p) const;
};

// The frame of the finite points among these (the unit frame when none is).
Frame FrameOf(const std::vector<Vec3>& points);

// The winding number of one point, and whether it lies on a face.
struct Winding {
  double number = 0.0;
  bool onSurface = false;
};

class CageInterior {
 public:
  // The rays' directions, in the order tried (made unit length before use).
  static constexpr std::array<Vec3, 4> kRayDirections = {
      Vec3{0.27312, 0.63128, 0.72591}, Vec3{-0.71803, 0.19277, 0.66931}, Vec3{0.41729, -0.86603, 0.27557},
      Vec3{-0.33337, -0.42187, -0.84314}};

  // Faces with fewer than 3 corners, a corner naming no point or a point that
  // is not finite are left out.
  explicit CageInterior(const host::Mesh& cage);

  // True when the triangles close up: the ray count alone gives w.
  bool closed() const { return caps_.empty(); }
  size_t holeCount() const { return caps_.size(); }

  // The winding number as a ray count (plus the caps' exact sum), falling
  // back to exactWinding when every ray direction is ambiguous; 0 for points
  // that are not finite or more than a million times the cage's half-size
  // from its middle (where |w| is below 1e-13 times the faces' area over the
  // half-size squared).
  Winding winding(const Vec3& point) const;
  // The sum of the solid angles of every face triangle over 4 pi: the reference.
  double exactWinding(const Vec3& point) const;
  // On a face, or |w| >= 0.5.
  bool inside(const Vec3& point) const;

 private:
  // A hole's cap, with a sphere around it and its area, which bound its
  // winding number far away.
  struct Cap {
    Vec3 centre{0, 0, 0};
    double radius = 0.0, area = 0.0;
    bool flat = false;  // a plane polygon the fan covers once: |w| < 1/2 everywhere
  };

  void addCaps(const std::vector<std::array<int32_t, 2>>& open, const std::vector<Vec3>& points,
               std::vector<TreeTriangle>* triangles);
  double exactInFrame(const Vec3& p) const;
  bool capsNegligible(const Vec3& p) const;
  // With the point p in the frame: the winding number, or with decideOnly
  // any number on the same side of 1/2 (in magnitude).
  Winding windingInFrame(const Vec3& p, bool decideOnly) const;

  Frame frame_;
  TriangleTree tree_;  // the faces' triangles and the caps' (turned over)
  std::vector<Cap> caps_;
  std::unique_ptr<SolidAngleTree> capTree_;  // the caps' triangles as they are; null without holes
  std::vector<Vec3> directions_;
};

// For each point, 1 when it lies outside the cage, else 0. Runs on `threads`
// threads (0 or less: one per processor); the result does not depend on the
// count.
std::vector<uint8_t> PointsOutside(const CageInterior& interior, const std::vector<Vec3>& points, int threads);

}  // namespace checks
