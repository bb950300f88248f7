#include "cli/raster.h"

#include <stb/stb_easy_font.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace cli {
namespace {

constexpr size_t kLongestText = 60;

}  // namespace

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
  shadeTriangle(a, b, c, [color](double, double, double) { return color; });
}

void Canvas::shadeTriangle(const Vec3& a, const Vec3& b, const Vec3& c, const TriangleShader& shader) {
  // Edge functions over the pixel centres inside the clipped bounding box
  const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
  if (!(std::fabs(area) > 1e-12)) return;
  // Clipped before converting, so that a point far off (or not finite) stays harmless
  const double left = std::max(0.0, std::floor(std::min({a.x, b.x, c.x})));
  const double right = std::min(width_ - 1.0, std::ceil(std::max({a.x, b.x, c.x})));
  const double top = std::max(0.0, std::floor(std::min({a.y, b.y, c.y})));
  const double bottom = std::min(height_ - 1.0, std::ceil(std::max({a.y, b.y, c.y})));
  if (!(left <= right && top <= bottom)) return;
  const int x0 = static_cast<int>(left), x1 = static_cast<int>(right);
  const int y0 = static_cast<int>(top), y1 = static_cast<int>(bottom);
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
      put(x, y, shader(wa, wb, wc));
    }
  }
}

void Canvas::drawLine(const Vec3& a, const Vec3& b, Rgb front, Rgb behind, double bias) {
  const double steps = std::ceil(std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y)));
  if (!std::isfinite(steps)) return;
  const int count = std::max(1, static_cast<int>(std::min(steps, 1e6)));
  for (int i = 0; i <= count; ++i) {
    const double t = static_cast<double>(i) / count;
    const double fx = std::floor(a.x + (b.x - a.x) * t), fy = std::floor(a.y + (b.y - a.y) * t);
    if (!(fx >= 0 && fy >= 0 && fx < width_ && fy < height_)) continue;
    const int x = static_cast<int>(fx), y = static_cast<int>(fy);
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

void Canvas::drawDot(const Vec3& p, int radius, Rgb centre, Rgb ring, double bias) {
  const double fx = std::floor(p.x), fy = std::floor(p.y);
  if (!(fx >= 0 && fy >= 0 && fx < width_ && fy < height_)) return;
  const int x = static_cast<int>(fx), y = static_cast<int>(fy);
  if (!(p.z <= depth_[static_cast<size_t>(y) * width_ + x] + bias)) return;
  if (radius > 0) fillRect(x - radius, y - radius, 2 * radius + 1, 2 * radius + 1, ring);
  const int inner = std::max(0, radius - 1);
  fillRect(x - inner, y - inner, 2 * inner + 1, 2 * inner + 1, centre);
}

void Canvas::fillRect(int x, int y, int width, int height, Rgb color) {
  for (int row = std::max(0, y); row < std::min(height_, y + height); ++row)
    for (int column = std::max(0, x); column < std::min(width_, x + width); ++column) put(column, row, color);
}

void Canvas::drawText(int x, int y, const std::string& text, int scale, Rgb color) {
  std::string shown = text.substr(0, kLongestText);
  std::vector<float> buffer(shown.size() * 100 + 64);  // at most about 270 bytes a character
  const int quads =
      stb_easy_font_print(0, 0, shown.data(), nullptr, buffer.data(), static_cast<int>(buffer.size() * sizeof(float)));
  const float* vertex = buffer.data();
  for (int q = 0; q < quads; ++q, vertex += 16) {  // four vertices of x, y, z, colour
    const int left = static_cast<int>(vertex[0]), top = static_cast<int>(vertex[1]);
    const int right = static_cast<int>(vertex[8]), bottom = static_cast<int>(vertex[9]);
    fillRect(x + left * scale, y + top * scale, (right - left) * scale, (bottom - top) * scale, color);
  }
}

int TextWidth(const std::string& text, int scale) {
  std::string shown = text.substr(0, kLongestText);
  return stb_easy_font_width(shown.data()) * scale;
}

}  // namespace cli
