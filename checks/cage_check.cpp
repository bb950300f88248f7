#include "checks/cage_check.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "checks/cage_interior.h"
#include "checks/self_intersection.h"
#include "checks/vector_math.h"
#include "checks/warnings.h"

namespace checks {

namespace {

constexpr size_t kExamples = 5;
// Relative to the cage's size (frame units), cubed for volumes, squared for areas.
constexpr double kFlatThickness = 1e-9;
constexpr double kFlatVolume = 1e-9;
constexpr double kNoArea = 1e-13;
constexpr double kNoAreaPerCorner = 1e-15;  // rounding grows with the corners

bool Same(const Vec3& a, const Vec3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

std::string Number(long double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*Lg", digits, value);
  return text;
}

// The first examples, then "..." when there are more.
std::string Examples(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size() && i < kExamples; ++i) text += (i ? ", " : "") + items[i];
  if (items.size() > kExamples) text += ", ...";
  return text;
}

// What a finding names of a list: the texts its line shows (and one more,
// which tells that there are more) and the first items as indices.
struct Listed {
  std::vector<std::string> texts;
  std::vector<std::vector<uint32_t>> items;
  void note(std::vector<uint32_t> item, std::string text) {
    if (texts.size() <= kExamples) texts.push_back(std::move(text));
    if (items.size() < kExamples) items.push_back(std::move(item));
  }
  bool empty() const { return texts.empty(); }
};

uint32_t Index(int32_t value) { return static_cast<uint32_t>(value); }

// One use of an undirected edge by a face.
struct EdgeUse {
  int32_t lo, hi, face, corner;
  bool forward;  // the face runs from lo to hi
  bool operator<(const EdgeUse& o) const {
    if (lo != o.lo) return lo < o.lo;
    if (hi != o.hi) return hi < o.hi;
    if (face != o.face) return face < o.face;
    return corner < o.corner;
  }
  uint32_t from() const { return Index(forward ? lo : hi); }
  uint32_t to() const { return Index(forward ? hi : lo); }
  std::string text() const { return std::to_string(from() + 1) + "-" + std::to_string(to() + 1); }
};

// Why the face is degenerate, "" when it is not.
std::string FaceFault(const std::vector<int32_t>& face, const std::vector<Vec3>& points, const std::vector<Vec3>& framed,
                      double size) {
  if (face.size() < 3) return "fewer than 3 corners";
  for (int32_t k : face)
    if (k < 0 || static_cast<size_t>(k) >= points.size()) return "a corner names no point";
  for (int32_t k : face)
    if (!Finite(points[k])) return "point " + std::to_string(k + 1) + " is not finite";
  std::vector<int32_t> sorted(face);
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 1; i < sorted.size(); ++i)
    if (sorted[i] == sorted[i - 1]) return "point " + std::to_string(sorted[i] + 1) + " twice";
  auto before = [&](int32_t a, int32_t b) {
    const Vec3 &p = points[a], &q = points[b];
    if (p.x != q.x) return p.x < q.x;
    if (p.y != q.y) return p.y < q.y;
    return p.z < q.z;
  };
  std::sort(sorted.begin(), sorted.end(), before);
  for (size_t i = 1; i < sorted.size(); ++i)
    if (Same(points[sorted[i]], points[sorted[i - 1]]))
      return "points " + std::to_string(std::min(sorted[i], sorted[i - 1]) + 1) + " and " +
             std::to_string(std::max(sorted[i], sorted[i - 1]) + 1) + " at one place";
  // Newell's normal: twice the area, for any number of corners.
  Vec3 normal{0, 0, 0};
  for (size_t i = 0; i < face.size(); ++i) {
    const Vec3& p = framed[face[i]];
    const Vec3& q = framed[face[(i + 1) % face.size()]];
    normal.x += (p.y - q.y) * (p.z + q.z);
    normal.y += (p.z - q.z) * (p.x + q.x);
    normal.z += (p.x - q.x) * (p.y + q.y);
  }
  if (Norm(normal) <= (kNoArea + kNoAreaPerCorner * static_cast<double>(face.size())) * size * size) return "no area";
  return "";
}

// Whether the points lie in a plane (or on a line, or at one place), in
// frame units of the given size.
bool Coplanar(const std::vector<Vec3>& points, double size) {
  if (points.empty()) return true;
  const Vec3& p0 = points[0];
  const Vec3* p1 = &p0;
  for (const Vec3& p : points)
    if (Norm(Sub(p, p0)) > Norm(Sub(*p1, p0))) p1 = &p;
  const Vec3 axis = Sub(*p1, p0);
  if (Norm(axis) <= kFlatThickness * size) return true;
  Vec3 normal{0, 0, 0};
  for (const Vec3& p : points) {
    const Vec3 n = Cross(axis, Sub(p, p0));
    if (Norm(n) > Norm(normal)) normal = n;
  }
  // The distance of the farthest point from the line p0-p1.
  if (Norm(normal) <= kFlatThickness * size * Norm(axis)) return true;
  const double length = Norm(normal);
  for (const Vec3& p : points)
    if (std::fabs(Dot(normal, Sub(p, p0))) / length > kFlatThickness * size) return false;
  return true;
}

// Consistently orientable parts over the edges two faces share: per part, the
// faces of the smaller side (which run shared edges the same way as their
// neighbours) are misoriented; a part whose faces cannot agree is one-sided.
void CheckOrientation(size_t faceCount, const std::vector<std::array<int32_t, 3>>& shared, CageCheck* check,
                      Listed* misoriented, Listed* oneSided) {
  std::vector<std::vector<std::pair<int32_t, int32_t>>> neighbours(faceCount);
  for (const auto& [a, b, flip] : shared) {
    neighbours[a].push_back({b, flip});
    neighbours[b].push_back({a, flip});
  }
  std::vector<int8_t> side(faceCount, -1);
  for (size_t start = 0; start < faceCount; ++start) {
    if (side[start] >= 0 || neighbours[start].empty()) continue;
    std::vector<int32_t> part{static_cast<int32_t>(start)};
    side[start] = 0;
    bool agrees = true;
    for (size_t k = 0; k < part.size(); ++k)
      for (const auto& [next, flip] : neighbours[part[k]]) {
        const auto wanted = static_cast<int8_t>(side[part[k]] ^ flip);
        if (side[next] < 0) side[next] = wanted, part.push_back(next);
        else if (side[next] != wanted) agrees = false;
      }
    std::sort(part.begin(), part.end());
    if (!agrees) {
      ++check->oneSidedParts;
      oneSided->note({Index(part[0])}, std::to_string(part[0] + 1));
      continue;
    }
    size_t ones = 0;
    for (int32_t f : part) ones += side[f];
    const int8_t minority = ones * 2 <= part.size() ? 1 : 0;
    for (int32_t f : part)
      if (side[f] == minority) ++check->misorientedFaces, misoriented->note({Index(f)}, std::to_string(f + 1));
  }
}

}  // namespace

CageCheck CheckCage(const host::Mesh& cage, const std::vector<Vec3>* target, int threads) {
  CageCheck check;
  const std::vector<Vec3>& points = cage.points;
  const Frame frame = FrameOf(points);
  std::vector<Vec3> framed(points.size());
  Listed nonFinite;
  long double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (size_t i = 0; i < points.size(); ++i) {
    framed[i] = frame.apply(points[i]);
    const Vec3& p = points[i];
    if (!Finite(p)) {
      ++check.nonFinitePoints;
      nonFinite.note({static_cast<uint32_t>(i)}, std::to_string(i + 1));
      continue;
    }
    const long double c[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) lo[a] = std::fmin(lo[a], c[a]), hi[a] = std::fmax(hi[a], c[a]);
  }
  const long double size = check.nonFinitePoints == points.size()
                               ? 0.0L
                               : std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                                           (hi[2] - lo[2]) * (hi[2] - lo[2]));
  check.size = static_cast<double>(size);
  const double frameSize = static_cast<double>(std::ldexp(size, frame.exponent));
  if (check.nonFinitePoints < points.size()) {
    const long double centre[3] = {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};
    check.centreDistance =
        static_cast<double>(std::sqrt(centre[0] * centre[0] + centre[1] * centre[1] + centre[2] * centre[2]));
  }
  check.farFromOrigin = size > 0 && std::isfinite(check.size) && check.centreDistance > kFarthestCageDistance * size;

  // Faces: faults, area, volume, and the edges they use.
  Listed degenerate;
  std::vector<EdgeUse> uses;
  std::vector<Vec3> used;
  double volume = 0.0;
  size_t usableFaces = 0;
  for (size_t j = 0; j < cage.polygons.size(); ++j) {
    const std::vector<int32_t>& face = cage.polygons[j];
    const std::string fault = FaceFault(face, points, framed, frameSize);
    if (!fault.empty())
      ++check.degenerateFaces, degenerate.note({static_cast<uint32_t>(j)}, std::to_string(j + 1) + " (" + fault + ")");
    const bool indicesGood = face.size() >= 3 && std::all_of(face.begin(), face.end(), [&](int32_t k) {
      return k >= 0 && static_cast<size_t>(k) < points.size();
    });
    if (!indicesGood) continue;
    ++usableFaces;
    bool finite = true;
    for (size_t i = 0; i < face.size(); ++i) {
      const int32_t a = face[i], b = face[(i + 1) % face.size()];
      finite = finite && Finite(framed[a]);
      if (Finite(framed[a])) used.push_back(framed[a]);
      if (a != b)
        uses.push_back({std::min(a, b), std::max(a, b), static_cast<int32_t>(j), static_cast<int32_t>(i), a < b});
    }
    if (finite)
      for (size_t i = 1; i + 1 < face.size(); ++i)
        volume += Dot(framed[face[0]], Cross(framed[face[i]], framed[face[i + 1]])) / 6.0;
  }

  // Edges: by point numbers, each with the faces that use it.
  std::sort(uses.begin(), uses.end());
  std::vector<EdgeUse> boundary, nonManifold;
  std::vector<std::array<int32_t, 3>> shared;  // face, face, 1 when they run the edge the same way
  for (size_t i = 0; i < uses.size();) {
    size_t j = i;
    while (j < uses.size() && uses[j].lo == uses[i].lo && uses[j].hi == uses[i].hi) ++j;
    if (j - i == 1) boundary.push_back(uses[i]);
    else if (j - i > 2) nonManifold.push_back(uses[i]);
    else if (uses[i].face != uses[i + 1].face)
      shared.push_back({uses[i].face, uses[i + 1].face, uses[i].forward == uses[i + 1].forward ? 1 : 0});
    i = j;
  }
  // Examples in the order of the faces and their corners.
  auto inFaceOrder = [](std::vector<EdgeUse>& edges) {
    std::sort(edges.begin(), edges.end(), [](const EdgeUse& a, const EdgeUse& b) {
      return a.face != b.face ? a.face < b.face : a.corner < b.corner;
    });
    Listed listed;
    for (size_t i = 0; i < edges.size() && i <= kExamples; ++i)
      listed.note({edges[i].from(), edges[i].to()}, edges[i].text());
    return listed;
  };
  const Listed boundaryEdges = inFaceOrder(boundary), nonManifoldEdges = inFaceOrder(nonManifold);
  check.boundaryEdges = boundary.size();
  check.nonManifoldEdges = nonManifold.size();
  check.closed = usableFaces > 0 && boundary.empty() && nonManifold.empty();
  Listed misoriented, oneSided;
  CheckOrientation(cage.polygons.size(), shared, &check, &misoriented, &oneSided);

  // Faces that pass through each other; a triangle without area is passed
  // over, as a face without area is a finding of its own.
  const std::vector<FacePair> crossing =
      usableFaces > 0 ? CrossingFaces(cage.polygons, framed, (kNoArea + 3 * kNoAreaPerCorner) * frameSize * frameSize,
                                      threads)
                      : std::vector<FacePair>{};
  check.crossingFacePairs = crossing.size();
  Listed crossingPairs;
  for (size_t i = 0; i < crossing.size() && i <= kExamples; ++i)
    crossingPairs.note({Index(crossing[i].first), Index(crossing[i].second)},
                       std::to_string(crossing[i].first + 1) + " and " + std::to_string(crossing[i].second + 1));

  // Volume and orientation.
  check.volume = static_cast<double>(std::ldexp(static_cast<long double>(volume), -3 * frame.exponent));
  const double cube = frameSize * frameSize * frameSize;
  // Parts of a surface that passes through itself may cancel in the volume.
  check.flat = usableFaces > 0 && (Coplanar(used, frameSize) ||
                                   (check.closed && crossing.empty() && std::fabs(volume) <= kFlatVolume * cube));
  // Only a closed surface, oriented consistently and not passing through
  // itself, has faces that all point into or all out of what it encloses:
  // for any other the volume's sign is no advice to flip every face.
  check.inward = check.closed && misoriented.empty() && oneSided.empty() && crossing.empty() && !check.flat &&
                 volume < 0;

  // The findings, in a fixed order.
  auto add = [&check](const char* kind, size_t count, const Listed* listed, std::string line) {
    check.found.push_back({kind, count, listed ? listed->items : std::vector<std::vector<uint32_t>>{}, line});
    check.findings.push_back(std::move(line));
  };
  if (usableFaces == 0) add("no_faces", 1, nullptr, "cage: no faces with 3 or more corners");
  if (!boundary.empty())
    add("boundary_edges", boundary.size(), &boundaryEdges,
        "cage: " + Counted(boundary.size(), "boundary edge", "boundary edges") +
            " (open: an edge used by one face only): " + Examples(boundaryEdges.texts));
  if (!nonManifold.empty())
    add("non_manifold_edges", nonManifold.size(), &nonManifoldEdges,
        "cage: " + Counted(nonManifold.size(), "non-manifold edge", "non-manifold edges") +
            " (used by more than two faces): " + Examples(nonManifoldEdges.texts));
  if (!misoriented.empty())
    add("misoriented_faces", check.misorientedFaces, &misoriented,
        "cage: " +
            (check.misorientedFaces == 1 ? std::string("1 face oriented against its neighbours (flip it): ")
                                         : std::to_string(check.misorientedFaces) +
                                               " faces oriented against their neighbours (flip them): ") +
            Examples(misoriented.texts));
  if (!oneSided.empty())
    add("one_sided_parts", check.oneSidedParts, &oneSided,
        "cage: " + Counted(check.oneSidedParts, "part", "parts") +
            (check.oneSidedParts == 1 ? " cannot be oriented consistently (it is one-sided): the part of face "
                                      : " cannot be oriented consistently (they are one-sided): the parts of faces ") +
            Examples(oneSided.texts));
  if (!crossing.empty())
    add("intersecting_faces", crossing.size(), &crossingPairs,
        "cage: " +
            (crossing.size() == 1 ? std::string("1 pair of faces intersects")
                                  : std::to_string(crossing.size()) + " pairs of faces intersect") +
            " (the surface passes through itself): " + Examples(crossingPairs.texts));
  if (check.flat)
    add("flat", 1, nullptr,
        size == 0 ? "cage: flat (no volume): all its points are at one place"
                  : "cage: flat (no volume): its faces enclose no space, so no point lies inside it");
  else if (check.inward)
    add("inward", 1, nullptr,
        "cage: faces point inward (signed volume " +
            Number(std::ldexp(static_cast<long double>(volume), -3 * frame.exponent), 6) + "): flip every face");
  if (!degenerate.empty())
    add("degenerate_faces", check.degenerateFaces, &degenerate,
        "cage: " + Counted(check.degenerateFaces, "degenerate face", "degenerate faces") + ": " +
            Examples(degenerate.texts));
  if (!nonFinite.empty())
    add("non_finite_points", check.nonFinitePoints, &nonFinite,
        "cage: " + Counted(check.nonFinitePoints, "point is", "points are") + " not finite: " +
            Examples(nonFinite.texts));
  const bool tooLarge = size > kLargestCageSize, tooSmall = size > 0 && size < kSmallestCageSize;
  if (tooLarge || tooSmall)
    add("size", 1, nullptr,
        "cage: too " + std::string(tooLarge ? "large" : "small") + " to bind accurately (size " + Number(size, 3) +
            ", the bounding-box diagonal): the module's fixed tolerances suit sizes from " +
            Number(kSmallestCageSize, 3) + " to " + Number(kLargestCageSize, 3) + "; scale the cage and the target " +
            (tooLarge ? "down" : "up") + " together");
  const std::string farText = "(centre " + Number(check.centreDistance, 3) + " away, size " + Number(size, 3) + ")";
  if (check.farFromOrigin)
    add("far_from_origin", 1, nullptr,
        "cage: far from the origin for its size " + farText + ": binding loses precision beyond " +
            Number(kFarthestCageDistance, 6) +
            " times the size; move the cage and the target towards the origin together");

  if (target) {
    check.hasTarget = true;
    check.targetPoints = target->size();
    const CageInterior interior(cage);
    check.outside = PointsOutside(interior, *target, threads);
    Listed outside;
    for (size_t i = 0; i < check.outside.size(); ++i)
      if (check.outside[i]) {
        ++check.outsidePoints;
        outside.note({static_cast<uint32_t>(i)}, std::to_string(i + 1));
      }
    if (check.outsidePoints > 0)
      add("points_outside", check.outsidePoints, &outside,
          "target: " + std::to_string(check.outsidePoints) + " of " + std::to_string(target->size()) +
              (check.outsidePoints == 1 ? " points lies" : " points lie") + " outside the cage: " +
              Examples(outside.texts));
  }

  // The likely cause, the gravest first.
  const std::string outsideText = Counted(check.outsidePoints, "point lies", "points lie");
  if (!nonFinite.empty()) check.likelyCause = "the cage has points that are not finite";
  else if (usableFaces == 0) check.likelyCause = "the cage has no faces";
  else if (tooLarge || tooSmall)
    check.likelyCause = std::string("the cage is too ") + (tooLarge ? "large" : "small") + " to bind accurately (size " +
                        Number(size, 3) + ")";
  else if (check.farFromOrigin) check.likelyCause = "the cage is far from the origin for its size " + farText;
  else if (check.flat) check.likelyCause = "the cage is flat";
  else if (!boundary.empty())
    check.likelyCause = "the cage is open (" + Counted(boundary.size(), "boundary edge", "boundary edges") + ")" +
                        (check.outsidePoints > 0 ? " and " + outsideText + " outside it" : "");
  else if (!crossing.empty())
    check.likelyCause = "the cage passes through itself (" +
                        Counted(crossing.size(), "pair of faces intersects", "pairs of faces intersect") + ")" +
                        (check.outsidePoints > 0 ? " and " + outsideText + " outside it" : "");
  else if (check.outsidePoints > 0) check.likelyCause = outsideText + " outside the cage";
  return check;
}

std::string CleanCageLine(const CageCheck& check) {
  std::string line = "cage check: closed, consistently oriented outward, no self-intersections, no degenerate faces";
  if (check.hasTarget) line += "; all " + std::to_string(check.targetPoints) + " target points inside";
  return line;
}

}  // namespace checks
