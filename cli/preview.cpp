#include "cli/preview.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_easy_font.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <string>
#include <utility>

#include "cli/mesh_file.h"
#include "cli/raster.h"
#include "cli/user_error.h"

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

// Scales and centres the camera so that every point fits a half of the picture.
Camera FitCamera(const std::vector<const std::vector<Vec3>*>& sets, int halfWidth, int height) {
  Camera camera;
  Vec3 low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
  for (const auto* points : sets)
    for (const Vec3& p : *points) {
      low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
      high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
  camera.centre = {(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2};
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

// Two-sided Lambert shading of a flat triangle under a light from the upper left front.
Rgb Shade(const Vec3& a, const Vec3& b, const Vec3& c) {
  const Vec3 u{b.x - a.x, b.y - a.y, b.z - a.z}, v{c.x - a.x, c.y - a.y, c.z - a.z};
  Vec3 n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
  const double length = std::hypot(n.x, n.y, n.z);
  double lit = 0.0;
  if (length > 0.0) {
    const double lx = -0.35, ly = 0.55, lz = 0.76;  // of unit length
    lit = std::fabs((n.x * lx + n.y * ly + n.z * lz) / length);
  }
  const double intensity = 0.25 + 0.75 * lit;
  auto channel = [intensity](uint8_t base) { return static_cast<uint8_t>(std::lround(base * intensity)); };
  return {channel(kTarget.r), channel(kTarget.g), channel(kTarget.b)};
}

void DrawTarget(Canvas& canvas, const Camera& camera, const std::vector<Vec3>& points,
                const std::vector<std::array<int32_t, 3>>& triangles) {
  std::vector<Vec3> onScreen(points.size()), inView(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    onScreen[i] = camera.screen(points[i]);
    inView[i] = camera.view(points[i]);
  }
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

void DrawLabel(Canvas& canvas, int x, int y, const std::string& text, int scale) {
  std::string shown = text.substr(0, 60);
  std::vector<float> buffer(shown.size() * 100 + 64);  // at most about 270 bytes a character
  const int quads =
      stb_easy_font_print(0, 0, shown.data(), nullptr, buffer.data(), static_cast<int>(buffer.size() * sizeof(float)));
  const float* vertex = buffer.data();
  for (int q = 0; q < quads; ++q, vertex += 16) {  // four vertices of x, y, z, colour
    const int left = static_cast<int>(vertex[0]), top = static_cast<int>(vertex[1]);
    const int right = static_cast<int>(vertex[8]), bottom = static_cast<int>(vertex[9]);
    canvas.fillRect(x + left * scale, y + top * scale, (right - left) * scale, (bottom - top) * scale, kLabel);
  }
}

}  // namespace

void WritePreview(const std::string& path, PreviewSize size, const host::Mesh& restTarget, const host::Mesh& restCage,
                  const std::vector<Vec3>& posedTarget, const std::vector<Vec3>& posedCage,
                  const std::string& posedLabel) {
  const int half = size.width / 2;
  Camera camera = FitCamera({&restTarget.points, &restCage.points, &posedTarget, &posedCage}, half, size.height);
  std::vector<std::array<int32_t, 3>> triangles;
  for (const auto& polygon : restTarget.polygons)
    for (const auto& t : host::TriangulatePolygon(restTarget.points, polygon)) triangles.push_back(t);
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

  // Encoded in memory and written by a writer that checks every byte reaches
  // the file: stbi_write_png ignores failed writes and leaves a short file.
  std::string png;
  const auto append = [](void* context, void* data, int bytes) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(bytes));
  };
  if (stbi_write_png_to_func(append, &png, size.width, size.height, 3, canvas.pixels().data(), size.width * 3) == 0)
    throw UserError(path, "cannot be encoded as PNG");
  WriteTextFile(path, png);
}

}  // namespace cli
