#include "cli/preview.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <utility>

#include "cli/error_scale.h"
#include "cli/raster.h"
#include "driver/mesh_file.h"
#include "driver/user_error.h"

namespace cli {
namespace {

constexpr Rgb kBackground{246, 246, 243};
constexpr Rgb kTarget{222, 164, 96};
constexpr Rgb kCageFront{34, 68, 160};
constexpr Rgb kCageBehind{120, 140, 200};
constexpr Rgb kDivider{200, 200, 196};
constexpr Rgb kLabel{70, 70, 70};

// A fixed three-quarter view: turned about the up axis (y), then tilted
// towards the viewer, who looks down -z.
struct Camera {
  double yaw = 0.6, pitch = 0.35;
  Vec3 centre{0, 0, 0};
  double scale = 1.0;
  double originX = 0.0, originY = 0.0;

  Vec3 view(const Vec3& p) const {
    const double x = p.x - centre.x, y = p.y - centre.y, z = p.z - centre.z;
    const double x1 = std::cos(yaw) * x + std::sin(yaw) * z;
    const double z1 = -std::sin(yaw) * x + std::cos(yaw) * z;
    return {x1, std::cos(pitch) * y - std::sin(pitch) * z1, std::sin(pitch) * y + std::cos(pitch) * z1};
  }
  // Pixels, y down; depth grows away from the viewer.
  Vec3 screen(const Vec3& p) const {
    const Vec3 v = view(p);
    return {originX + scale * v.x, originY - scale * v.y, -v.z};
  }
};

// Scales and centres the camera, turned as given, so that every point fits a
// half of the picture.
Camera FitCamera(const std::vector<const std::vector<Vec3>*>& sets, int halfWidth, int height, Camera camera = {}) {
  Vec3 low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
  for (const auto* points : sets)
    for (const Vec3& p : *points) {
      low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
      high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
  if (low.x <= high.x) camera.centre = {(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2};
  double spanX = 0.0, spanY = 0.0;
  for (const auto* points : sets)
    for (const Vec3& p : *points) {
      const Vec3 v = camera.view(p);
      spanX = std::max(spanX, std::fabs(v.x));
      spanY = std::max(spanY, std::fabs(v.y));
    }
  const double margin = 0.08 * std::min(halfWidth, height);
  const double fitX = (halfWidth / 2.0 - margin) / std::max(spanX, 1e-12);
  const double fitY = (height / 2.0 - margin) / std::max(spanY, 1e-12);
  camera.scale = std::max(1e-12, std::min(fitX, fitY));
  camera.originY = height / 2.0;
  return camera;
}

// Two-sided Lambert lighting of a flat triangle (in view space) under a light
// from the upper left front: 0 edge on, 1 facing the light.
double Lighting(const Vec3& a, const Vec3& b, const Vec3& c) {
  const Vec3 u{b.x - a.x, b.y - a.y, b.z - a.z}, v{c.x - a.x, c.y - a.y, c.z - a.z};
  Vec3 n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
  const double length = std::hypot(n.x, n.y, n.z);
  if (!(length > 0.0)) return 0.0;
  const double lx = -0.35, ly = 0.55, lz = 0.76;  // of unit length
  const double lit = std::fabs((n.x * lx + n.y * ly + n.z * lz) / length);
  return std::isfinite(lit) ? lit : 0.0;  // a face too large to measure
}

Rgb Dimmed(Rgb color, double intensity) {
  auto channel = [intensity](uint8_t base) { return static_cast<uint8_t>(std::lround(base * intensity)); };
  return {channel(color.r), channel(color.g), channel(color.b)};
}

Rgb Shade(const Vec3& a, const Vec3& b, const Vec3& c) { return Dimmed(kTarget, 0.25 + 0.75 * Lighting(a, b, c)); }

std::vector<std::array<int32_t, 3>> Triangles(const host::Mesh& mesh) {
  std::vector<std::array<int32_t, 3>> triangles;
  for (const auto& polygon : mesh.polygons)
    for (const auto& t : host::TriangulatePolygon(mesh.points, polygon)) triangles.push_back(t);
  return triangles;
}

// Points as the camera sees them: on the picture, and in view space for lighting.
struct Projected {
  std::vector<Vec3> onScreen, inView;
};

Projected Project(const Camera& camera, const std::vector<Vec3>& points) {
  Projected projected{std::vector<Vec3>(points.size()), std::vector<Vec3>(points.size())};
  for (size_t i = 0; i < points.size(); ++i) {
    projected.onScreen[i] = camera.screen(points[i]);
    projected.inView[i] = camera.view(points[i]);
  }
  return projected;
}

void DrawTarget(Canvas& canvas, const Camera& camera, const std::vector<Vec3>& points,
                const std::vector<std::array<int32_t, 3>>& triangles) {
  const auto [onScreen, inView] = Project(camera, points);
  for (const auto& t : triangles)
    canvas.fillTriangle(onScreen[t[0]], onScreen[t[1]], onScreen[t[2]],
                        Shade(inView[t[0]], inView[t[1]], inView[t[2]]));
}

void DrawCage(Canvas& canvas, const Camera& camera, const std::vector<Vec3>& points,
              const std::vector<std::vector<int32_t>>& polygons, double bias) {
  std::set<std::pair<int32_t, int32_t>> edges;
  for (const auto& polygon : polygons)
    for (size_t k = 0; k < polygon.size(); ++k) {
      const int32_t a = polygon[k], b = polygon[(k + 1) % polygon.size()];
      edges.insert({std::min(a, b), std::max(a, b)});
    }
  for (const auto& [a, b] : edges)
    canvas.drawLine(camera.screen(points[a]), camera.screen(points[b]), kCageFront, kCageBehind, bias);
}

// The value at a pixel of a triangle from its corners' values and the
// pixel's weights of them: blended, or the nearest corner's when a corner
// has none (NaN), so that a point without weights keeps its own colour.
double Blend(const std::array<double, 3>& values, double wa, double wb, double wc) {
  if (std::isfinite(values[0]) && std::isfinite(values[1]) && std::isfinite(values[2]))
    return wa * values[0] + wb * values[1] + wc * values[2];
  if (wa >= wb && wa >= wc) return values[0];
  return wb >= wc ? values[1] : values[2];
}

// The target coloured by values (one per point, fractions of the error
// scale's top) on the scale. Lit more evenly than the default picture's target, so that a face's
// lightness stays mostly the scale's while the shape still reads.
void DrawErrorTarget(Canvas& canvas, const Camera& camera, const std::vector<Vec3>& points,
                     const std::vector<std::array<int32_t, 3>>& triangles, const std::vector<double>& values) {
  const auto [onScreen, inView] = Project(camera, points);
  for (const auto& t : triangles) {
    const double intensity = 0.7 + 0.3 * Lighting(inView[t[0]], inView[t[1]], inView[t[2]]);
    const std::array<double, 3> corners{values[t[0]], values[t[1]], values[t[2]]};
    canvas.shadeTriangle(onScreen[t[0]], onScreen[t[1]], onScreen[t[2]], [&](double wa, double wb, double wc) {
      return Dimmed(ErrorColor(Blend(corners, wa, wb, wc), 1.0), intensity);
    });
  }
}

void DrawOutsideDots(Canvas& canvas, const Camera& camera, const std::vector<Vec3>& points,
                     const std::vector<uint8_t>& outside, int radius, double bias) {
  for (size_t i = 0; i < std::min(points.size(), outside.size()); ++i)
    if (outside[i] != 0) canvas.drawDot(camera.screen(points[i]), radius, kOutsideDot, kOutsideRing, bias);
}

void DrawLabel(Canvas& canvas, int x, int y, const std::string& text, int scale) {
  canvas.drawText(x, y, text, scale, kLabel);
}

// Encoded in memory and written by a writer that checks every byte reaches
// the file: stbi_write_png ignores failed writes and leaves a short file.
void WritePng(const std::string& path, const Canvas& canvas) {
  std::string png;
  const auto append = [](void* context, void* data, int bytes) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(bytes));
  };
  if (stbi_write_png_to_func(append, &png, canvas.width(), canvas.height(), 3, canvas.pixels().data(),
                             canvas.width() * 3) == 0)
    throw driver::UserError(driver::ErrorKind::kOutput, path, "cannot be encoded as PNG");
  driver::WriteTextFile(path, png);
}

}  // namespace

void WritePreview(const std::string& path, PreviewSize size, const host::Mesh& restTarget, const host::Mesh& restCage,
                  const std::vector<Vec3>& posedTarget, const std::vector<Vec3>& posedCage,
                  const std::string& posedLabel) {
  const int half = size.width / 2;
  Camera camera = FitCamera({&restTarget.points, &restCage.points, &posedTarget, &posedCage}, half, size.height);
  const std::vector<std::array<int32_t, 3>> triangles = Triangles(restTarget);
  // Lines on a surface must not hide behind it: a little depth in hand
  const double bias = 2.0 / camera.scale;

  Canvas canvas(size.width, size.height, kBackground);
  camera.originX = half / 2.0;
  DrawTarget(canvas, camera, restTarget.points, triangles);
  DrawCage(canvas, camera, restCage.points, restCage.polygons, bias);
  // The same place in the right half (an odd width's last column stays empty)
  camera.originX += half;
  DrawTarget(canvas, camera, posedTarget, triangles);
  DrawCage(canvas, camera, posedCage, restCage.polygons, bias);

  const int scale = std::max(1, size.height / 200);
  canvas.fillRect(half - scale / 2, 0, std::max(1, scale / 2 + 1), size.height, kDivider);
  DrawLabel(canvas, 4 * scale, 4 * scale, "rest", scale);
  DrawLabel(canvas, half + 4 * scale, 4 * scale, posedLabel, scale);
  WritePng(path, canvas);
}

void WriteErrorPreview(const std::string& path, PreviewSize size, const host::Mesh& restTarget,
                       const host::Mesh& restCage, const ErrorView& view) {
  const size_t count = restTarget.points.size();
  const double top = ScaleTop(view.scaleTop, view.errors);
  // Each point's value as a fraction of the top: NaN for a point without
  // weights, and at most 2 (as red as any above the top), which keeps the
  // blends across faces finite.
  std::vector<double> values(count, NAN);
  ErrorLegend legend{top, 0, 0, 0};
  for (size_t i = 0; i < count; ++i) {
    const double error = i < view.errors.size() ? view.errors[i] : NAN;
    if (std::isfinite(error)) {
      values[i] = std::clamp(error / top, 0.0, 2.0);
      legend.overTop += error > top;
    } else {
      ++legend.noWeights;
    }
    legend.outside += i < view.outside.size() && view.outside[i] != 0;
  }

  // The front as in the default picture on the left, the back on the right,
  // at one scale; the legend below both.
  const int half = size.width / 2;
  const int scale = std::max(1, size.height / 200), textScale = std::max(1, size.height / 300);
  const int dotRadius = size.height / 400;
  const int viewHeight = std::max(size.height / 2, size.height - ErrorLegendHeight(textScale));
  const std::vector<const std::vector<Vec3>*> shown{&restTarget.points, &restCage.points};
  Camera front = FitCamera(shown, half, viewHeight);
  Camera behind;
  behind.yaw += std::numbers::pi;
  behind = FitCamera(shown, half, viewHeight, behind);
  front.scale = behind.scale = std::min(front.scale, behind.scale);
  front.originX = half / 2.0;
  behind.originX = half / 2.0 + half;
  const std::vector<std::array<int32_t, 3>> triangles = Triangles(restTarget);
  const double bias = 2.0 / front.scale;

  Canvas canvas(size.width, size.height, kBackground);
  for (const Camera& camera : {front, behind}) {
    DrawErrorTarget(canvas, camera, restTarget.points, triangles, values);
    DrawCage(canvas, camera, restCage.points, restCage.polygons, bias);
    DrawOutsideDots(canvas, camera, restTarget.points, view.outside, dotRadius, bias);
  }

  const int rule = std::max(1, scale / 2 + 1);
  canvas.fillRect(half - scale / 2, 0, rule, viewHeight, kDivider);
  canvas.fillRect(0, viewHeight, size.width, rule, kDivider);
  DrawLabel(canvas, 4 * scale, 4 * scale, "rest-pose error", scale);
  DrawLabel(canvas, half + 4 * scale, 4 * scale, "from behind", scale);
  DrawErrorLegend(canvas, viewHeight + rule, textScale, std::max(1, dotRadius), kLabel, legend);
  WritePng(path, canvas);
}

}  // namespace cli
