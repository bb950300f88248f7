#include "cli/raster.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace cli {

Canvas::Canvas(int width, int height, Rgb background)
    : width_(width),
      height_(height),
      pixels_(static_cast<size_t>(width) * height * 3),
      depth_(static_cast<size_t>(width) * height, std::numeric_limits<double>::infinity()) {
  for (size_t i = 0; i < pixels_.size(); i += 3) {
    pixels_[i] = background.r;
    pixels_[i + 1] = background.g;
    pixels_[i + 2] = background.b;
  }
}

void Canvas::put(int x, int y, Rgb color) {
  uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 3];
  p[0] = color.r;
  p[1] = color.g;
  p[2] = color.b;
}

Rgb Canvas::at(int x, int y) const {
  const uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 3];
  return {p[0], p[1], p[2]};
}

void Canvas::fillTriangle(const Vec3& a, const Vec3& b, const Vec3& c, Rgb color) {
  // Edge functions over the pixel centres inside the clipped bounding box
  const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
  if (!(std::fabs(area) > 1e-12)) return;
  const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
  const int x1 = std::min(width_ - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
  const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
  const int y1 = std::min(height_ - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
  for (int y = y0; y <= y1; ++y) {
    const double py = y + 0.5;
    for (int x = x0; x <= x1; ++x) {
      const double px = x + 0.5;
      const double wa = ((b.x - px) * (c.y - py) - (b.y - py) * (c.x - px)) / area;
      const double wb = ((c.x - px) * (a.y - py) - (c.y - py) * (a.x - px)) / area;
      const double wc = 1.0 - wa - wb;
      if (wa < 0.0 || wb < 0.0 || wc < 0.0) continue;
      // Depth test against what is drawn
      const double depth = wa * a.z + wb * b.z + wc * c.z;
      double& stored = depth_[static_cast<size_t>(y) * width_ + x];
      if (!(depth < stored)) continue;
      stored = depth;
      put(x, y, color);
    }
  }
}

void Canvas::drawLine(const Vec3& a, const Vec3& b, Rgb front, Rgb behind, double bias) {
  const double steps = std::ceil(std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y)));
  if (!std::isfinite(steps)) return;
  const int count = std::max(1, static_cast<int>(steps));
  for (int i = 0; i <= count; ++i) {
    const double t = static_cast<double>(i) / count;
    const int x = static_cast<int>(std::floor(a.x + (b.x - a.x) * t));
    const int y = static_cast<int>(std::floor(a.y + (b.y - a.y) * t));
    if (x < 0 || y < 0 || x >= width_ || y >= height_) continue;
    const double depth = a.z + (b.z - a.z) * t;
    if (depth <= depth_[static_cast<size_t>(y) * width_ + x] + bias) {
      put(x, y, front);
    } else {
      const Rgb under = at(x, y);
      auto mix = [](uint8_t s, uint8_t l) { return static_cast<uint8_t>((2 * s + l) / 3); };
      put(x, y, {mix(under.r, behind.r), mix(under.g, behind.g), mix(under.b, behind.b)});
    }
  }
}

void Canvas::fillRect(int x, int y, int width, int height, Rgb color) {
  for (int row = std::max(0, y); row < std::min(height_, y + height); ++row)
    for (int column = std::max(0, x); column < std::min(width_, x + width); ++column) put(column, row, color);
}

}  // namespace cli
