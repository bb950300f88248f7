// A small z-buffered rasteriser: flat-coloured triangles and depth-tested
// lines on an RGB canvas. Screen points are (x right, y down, depth), x and y
// in pixels, depth growing away from the viewer.
#pragma once

#include <cstdint>
#include <vector>

#include "ostrand/types.h"

namespace cli {

struct Rgb {
  uint8_t r, g, b;
};

class Canvas {
 public:
  Canvas(int width, int height, Rgb background);
  int width() const { return width_; }
  int height() const { return height_; }

  // Fills the triangle (either winding) where it is nearer than what is drawn.
  void fillTriangle(const Vec3& a, const Vec3& b, const Vec3& c, Rgb color);
  // Draws a line without writing depth: in front where it is no further than
  // the surface drawn there plus bias, else mixed faintly into the surface as
  // behind.
  void drawLine(const Vec3& a, const Vec3& b, Rgb front, Rgb behind, double bias);
  // Paints a rectangle over everything (labels, dividers).
  void fillRect(int x, int y, int width, int height, Rgb color);

  // Rows top to bottom, three bytes a pixel.
  const std::vector<uint8_t>& pixels() const { return pixels_; }

 private:
  void put(int x, int y, Rgb color);
  Rgb at(int x, int y) const;

  int width_, height_;
  std::vector<uint8_t> pixels_;
  std::vector<double> depth_;
};

}  // namespace cli
