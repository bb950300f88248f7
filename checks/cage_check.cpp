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

// What the steps of a cage check find, before the findings are written.
struct Survey {
  Frame frame;
  std::vector<Vec3> framed;  // the points in the frame
  long double size = 0;      // the bounding-box diagonal of the finite points
  double frameSize = 0;      // the same in frame units
  Listed nonFinite, degenerate, boundaryEdges, nonManifoldEdges, misoriented, oneSided, crossingPairs;
  std::vector<EdgeUse> uses;  // every edge of every usable face
  std::vector<Vec3> used;     // the finite points the usable faces use
  double volume = 0.0;        // in frame units
  size_t usableFaces = 0;
  std::vector<EdgeUse> boundary, nonManifold;
  std::vector<FacePair> crossing;
  bool tooLarge = false, tooSmall = false;
};

// The points: which are not finite, the size and where the cage lies.
void SurveyPoints(const std::vector<Vec3>& points, CageCheck* check, Survey* s) {
  s->frame = FrameOf(points);
  s->framed.resize(points.size());
  long double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (size_t i = 0; i < points.size(); ++i) {
    s->framed[i] = s->frame.apply(points[i]);
    const Vec3& p = points[i];
    if (!Finite(p)) {
      ++check->nonFinitePoints;
      s->nonFinite.note({static_cast<uint32_t>(i)}, std::to_string(i + 1));
      continue;
    }
    const long double c[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) lo[a] = std::fmin(lo[a], c[a]), hi[a] = std::fmax(hi[a], c[a]);
  }
  const bool none = check->nonFinitePoints == points.size();
  s->size = none ? 0.0L
                 : std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                             (hi[2] - lo[2]) * (hi[2] - lo[2]));
  check->size = static_cast<double>(s->size);
  s->frameSize = static_cast<double>(std::ldexp(s->size, s->frame.exponent));
  if (!none) {
    const long double centre[3] = {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};
    check->centreDistance =
        static_cast<double>(std::sqrt(centre[0] * centre[0] + centre[1] * centre[1] + centre[2] * centre[2]));
  }
  check->farFromOrigin =
      s->size > 0 && std::isfinite(check->size) && check->centreDistance > kFarthestCageDistance * s->size;
  s->tooLarge = s->size > kLargestCageSize;
  s->tooSmall = s->size > 0 && s->size < kSmallestCageSize;
}

// Faces: faults, area, volume, and the edges they use.
void SurveyFaces(const host::Mesh& cage, CageCheck* check, Survey* s) {
  const std::vector<Vec3>& points = cage.points;
  for (size_t j = 0; j < cage.polygons.size(); ++j) {
    const std::vector<int32_t>& face = cage.polygons[j];
    const std::string fault = FaceFault(face, points, s->framed, s->frameSize);
    if (!fault.empty())
      ++check->degenerateFaces,
          s->degenerate.note({static_cast<uint32_t>(j)}, std::to_string(j + 1) + " (" + fault + ")");
    const bool indicesGood = face.size() >= 3 && std::all_of(face.begin(), face.end(), [&](int32_t k) {
      return k >= 0 && static_cast<size_t>(k) < points.size();
    });
    if (!indicesGood) continue;
    ++s->usableFaces;
    bool finite = true;
    for (size_t i = 0; i < face.size(); ++i) {
      const int32_t a = face[i], b = face[(i + 1) % face.size()];
      finite = finite && Finite(s->framed[a]);
      if (Finite(s->framed[a])) s->used.push_back(s->framed[a]);
      if (a != b)
        s->uses.push_back({std::min(a, b), std::max(a, b), static_cast<int32_t>(j), static_cast<int32_t>(i), a < b});
    }
    if (finite)
      for (size_t i = 1; i + 1 < face.size(); ++i)
        s->volume += Dot(s->framed[face[0]], Cross(s->framed[face[i]], s->framed[face[i + 1]])) / 6.0;
  }
}

// Edges by point numbers, each with the faces that use it: open and
// non-manifold edges, and the faces' orientation across the shared ones.
void SurveyEdges(size_t faceCount, CageCheck* check, Survey* s) {
  std::vector<EdgeUse>& uses = s->uses;
  std::sort(uses.begin(), uses.end());
  std::vector<std::array<int32_t, 3>> shared;  // face, face, 1 when they run the edge the same way
  for (size_t i = 0; i < uses.size();) {
    size_t j = i;
    while (j < uses.size() && uses[j].lo == uses[i].lo && uses[j].hi == uses[i].hi) ++j;
    if (j - i == 1) s->boundary.push_back(uses[i]);
    else if (j - i > 2) s->nonManifold.push_back(uses[i]);
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
  s->boundaryEdges = inFaceOrder(s->boundary);
  s->nonManifoldEdges = inFaceOrder(s->nonManifold);
  check->boundaryEdges = s->boundary.size();
  check->nonManifoldEdges = s->nonManifold.size();
  check->closed = s->usableFaces > 0 && s->boundary.empty() && s->nonManifold.empty();
  CheckOrientation(faceCount, shared, check, &s->misoriented, &s->oneSided);
}

// Faces that pass through each other (a triangle without area is passed
// over, as a face without area is a finding of its own); then the volume,
// and whether the cage is flat or turned inside out.
void SurveyShape(const host::Mesh& cage, int threads, CageCheck* check, Survey* s) {
  const double frameSize = s->frameSize;
  if (s->usableFaces > 0)
    s->crossing = CrossingFaces(cage.polygons, s->framed, (kNoArea + 3 * kNoAreaPerCorner) * frameSize * frameSize,
                                threads);
  check->crossingFacePairs = s->crossing.size();
  for (size_t i = 0; i < s->crossing.size() && i <= kExamples; ++i)
    s->crossingPairs.note({Index(s->crossing[i].first), Index(s->crossing[i].second)},
                          std::to_string(s->crossing[i].first + 1) + " and " +
                              std::to_string(s->crossing[i].second + 1));
  check->volume = static_cast<double>(std::ldexp(static_cast<long double>(s->volume), -3 * s->frame.exponent));
  const double cube = frameSize * frameSize * frameSize;
  // Parts of a surface that passes through itself may cancel in the volume.
  check->flat = s->usableFaces > 0 && (Coplanar(s->used, frameSize) || (check->closed && s->crossing.empty() &&
                                                                        std::fabs(s->volume) <= kFlatVolume * cube));
  // Only a closed surface, oriented consistently and not passing through
  // itself, has faces that all point into or all out of what it encloses:
  // for any other the volume's sign is no advice to flip every face.
  check->inward = check->closed && s->misoriented.empty() && s->oneSided.empty() && s->crossing.empty() &&
                  !check->flat && s->volume < 0;
}

void AddFinding(CageCheck* check, const char* kind, size_t count, const Listed* listed, std::string line) {
  check->found.push_back({kind, count, listed ? listed->items : std::vector<std::vector<uint32_t>>{}, line});
  check->findings.push_back(std::move(line));
}

// "(centre 12 away, size 3)"
std::string FarText(const CageCheck& check, const Survey& s) {
  return "(centre " + Number(check.centreDistance, 3) + " away, size " + Number(s.size, 3) + ")";
}

// The cage's findings, in a fixed order.
void AddCageFindings(CageCheck* check, const Survey& s) {
  if (s.usableFaces == 0) AddFinding(check, "no_faces", 1, nullptr, "cage: no faces with 3 or more corners");
  if (!s.boundary.empty())
    AddFinding(check, "boundary_edges", s.boundary.size(), &s.boundaryEdges,
               "cage: " + Counted(s.boundary.size(), "boundary edge", "boundary edges") +
                   " (open: an edge used by one face only): " + Examples(s.boundaryEdges.texts));
  if (!s.nonManifold.empty())
    AddFinding(check, "non_manifold_edges", s.nonManifold.size(), &s.nonManifoldEdges,
               "cage: " + Counted(s.nonManifold.size(), "non-manifold edge", "non-manifold edges") +
                   " (used by more than two faces): " + Examples(s.nonManifoldEdges.texts));
  if (!s.misoriented.empty())
    AddFinding(check, "misoriented_faces", check->misorientedFaces, &s.misoriented,
               "cage: " +
                   (check->misorientedFaces == 1 ? std::string("1 face oriented against its neighbours (flip it): ")
                                                 : std::to_string(check->misorientedFaces) +
                                                       " faces oriented against their neighbours (flip them): ") +
                   Examples(s.misoriented.texts));
  if (!s.oneSided.empty())
    AddFinding(check, "one_sided_parts", check->oneSidedParts, &s.oneSided,
               "cage: " + Counted(check->oneSidedParts, "part", "parts") +
                   (check->oneSidedParts == 1
                        ? " cannot be oriented consistently (it is one-sided): the part of face "
                        : " cannot be oriented consistently (they are one-sided): the parts of faces ") +
                   Examples(s.oneSided.texts));
  if (!s.crossing.empty())
    AddFinding(check, "intersecting_faces", s.crossing.size(), &s.crossingPairs,
               "cage: " +
                   (s.crossing.size() == 1 ? std::string("1 pair of faces intersects")
                                           : std::to_string(s.crossing.size()) + " pairs of faces intersect") +
                   " (the surface passes through itself): " + Examples(s.crossingPairs.texts));
  if (check->flat)
    AddFinding(check, "flat", 1, nullptr,
               s.size == 0 ? "cage: flat (no volume): all its points are at one place"
                           : "cage: flat (no volume): its faces enclose no space, so no point lies inside it");
  else if (check->inward)
    AddFinding(check, "inward", 1, nullptr,
               "cage: faces point inward (signed volume " +
                   Number(std::ldexp(static_cast<long double>(s.volume), -3 * s.frame.exponent), 6) +
                   "): flip every face");
  if (!s.degenerate.empty())
    AddFinding(check, "degenerate_faces", check->degenerateFaces, &s.degenerate,
               "cage: " + Counted(check->degenerateFaces, "degenerate face", "degenerate faces") + ": " +
                   Examples(s.degenerate.texts));
  if (!s.nonFinite.empty())
    AddFinding(check, "non_finite_points", check->nonFinitePoints, &s.nonFinite,
               "cage: " + Counted(check->nonFinitePoints, "point is", "points are") + " not finite: " +
                   Examples(s.nonFinite.texts));
  if (s.tooLarge || s.tooSmall)
    AddFinding(check, "size", 1, nullptr,
               "cage: too " + std::string(s.tooLarge ? "large" : "small") + " to bind accurately (size " +
                   Number(s.size, 3) + ", the bounding-box diagonal): the module's fixed tolerances suit sizes from " +
                   Number(kSmallestCageSize, 3) + " to " + Number(kLargestCageSize, 3) +
                   "; scale the cage and the target " + (s.tooLarge ? "down" : "up") + " together");
  if (check->farFromOrigin)
    AddFinding(check, "far_from_origin", 1, nullptr,
               "cage: far from the origin for its size " + FarText(*check, s) + ": binding loses precision beyond " +
                   Number(kFarthestCageDistance, 6) +
                   " times the size; move the cage and the target towards the origin together");
}

// The target points outside the cage.
void CheckTargetPoints(const host::Mesh& cage, const std::vector<Vec3>& target, int threads, CageCheck* check) {
  check->hasTarget = true;
  check->targetPoints = target.size();
  const CageInterior interior(cage);
  check->outside = PointsOutside(interior, target, threads);
  Listed outside;
  for (size_t i = 0; i < check->outside.size(); ++i)
    if (check->outside[i]) {
      ++check->outsidePoints;
      outside.note({static_cast<uint32_t>(i)}, std::to_string(i + 1));
    }
  if (check->outsidePoints > 0)
    AddFinding(check, "points_outside", check->outsidePoints, &outside,
               "target: " + std::to_string(check->outsidePoints) + " of " + std::to_string(target.size()) +
                   (check->outsidePoints == 1 ? " points lies" : " points lie") + " outside the cage: " +
                   Examples(outside.texts));
}

// The likely cause of points left without weights, the gravest first.
std::string LikelyCause(const CageCheck& check, const Survey& s) {
  const std::string outsideText = Counted(check.outsidePoints, "point lies", "points lie");
  const std::string andOutside = check.outsidePoints > 0 ? " and " + outsideText + " outside it" : "";
  if (!s.nonFinite.empty()) return "the cage has points that are not finite";
  if (s.usableFaces == 0) return "the cage has no faces";
  if (s.tooLarge || s.tooSmall)
    return std::string("the cage is too ") + (s.tooLarge ? "large" : "small") + " to bind accurately (size " +
           Number(s.size, 3) + ")";
  if (check.farFromOrigin) return "the cage is far from the origin for its size " + FarText(check, s);
  if (check.flat) return "the cage is flat";
  if (!s.boundary.empty())
    return "the cage is open (" + Counted(s.boundary.size(), "boundary edge", "boundary edges") + ")" + andOutside;
  if (!s.crossing.empty())
    return "the cage passes through itself (" +
           Counted(s.crossing.size(), "pair of faces intersects", "pairs of faces intersect") + ")" + andOutside;
  if (check.outsidePoints > 0) return outsideText + " outside the cage";
  return "";
}

}  // namespace

CageCheck CheckCage(const host::Mesh& cage, const std::vector<Vec3>* target, int threads) {
  CageCheck check;
  Survey survey;
  SurveyPoints(cage.points, &check, &survey);
  SurveyFaces(cage, &check, &survey);
  SurveyEdges(cage.polygons.size(), &check, &survey);
  SurveyShape(cage, threads, &check, &survey);
  AddCageFindings(&check, survey);
  if (target) CheckTargetPoints(cage, *target, threads, &check);
  check.likelyCause = LikelyCause(check, survey);
  return check;
}

std::string CleanCageLine(const CageCheck& check) {
  std::string line = "cage check: closed, consistently oriented outward, no self-intersections, no degenerate faces";
  if (check.hasTarget) line += "; all " + std::to_string(check.targetPoints) + " target points inside";
  return line;
}

}  // namespace checks
