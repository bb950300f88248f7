// A small z-buffered rasteriser: filled triangles, depth-tested lines and
// point markers, and text, on an RGB canvas. Screen points are (x right,
// y down, depth), x and y in pixels, depth growing away from the viewer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ostrand/types.h"

namespace cli {

struct Rgb {
  uint8_t r, g, b;
};

inline bool operator==(const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// The colour of a pixel of a triangle from its barycentric weights of the
// corners a, b and c (each 0 to 1, adding up to 1).
using TriangleShader = std::function<Rgb(double wa, double wb, double wc)>;

class Canvas {
 public:
  Canvas(int width, int height, Rgb background);
  int width() const { return width_; }
  int height() const { return height_; }

  // Fills the triangle (either winding) where it is nearer than what is drawn.
  void fillTriangle(const Vec3& a, const Vec3& b, const Vec3& c, Rgb color);
  // The same, each pixel coloured by shader.
  void shadeTriangle(const Vec3& a, const Vec3& b, const Vec3& c, const TriangleShader& shader);
  // Draws a line without writing depth: in front where it is no further than
  // the surface drawn there plus bias, else mixed faintly into the surface as
  // behind.
  void drawLine(const Vec3& a, const Vec3& b, Rgb front, Rgb behind, double bias);
  // Draws a square dot of 2 * radius + 1 pixels a side, centre inside a ring
  // one pixel wide (radius 0: one pixel of centre), over everything when the point is no further than the surface drawn at
  // its pixel plus bias; hidden points are not drawn. Writes no depth.
  void drawDot(const Vec3& p, int radius, Rgb centre, Rgb ring, double bias);
  // Paints a rectangle over everything (labels, dividers).
  void fillRect(int x, int y, int width, int height, Rgb color);
  // Writes text (ASCII, its first 60 characters) over everything with its
  // top left corner at x, y, each font pixel scale pixels a side.
  void drawText(int x, int y, const std::string& text, int scale, Rgb color);

  // Rows top to bottom, three bytes a pixel.
  const std::vector<uint8_t>& pixels() const { return pixels_; }
  Rgb at(int x, int y) const;

 private:
  void put(int x, int y, Rgb color);

  int width_, height_;
  std::vector<uint8_t> pixels_;
  std::vector<double> depth_;
};

// The width in pixels of text as drawText draws it at scale.
int TextWidth(const std::string& text, int scale);

}  // namespace cli
