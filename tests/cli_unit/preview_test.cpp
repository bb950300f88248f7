// The preview pictures, drawn in process: the colour scale of the error
// picture, what the error picture shows of a cube with known errors, and the
// default picture, which must stay as it was.
#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "cli/error_scale.h"
#include "cli/preview.h"
#include "driver/mesh_file.h"

namespace cli {
namespace {

// A file name of this process's own: test programs may run side by side.
std::string UniqueTempName(const std::string& name) {
  static const std::string kPrefix = std::to_string(std::random_device{}()) + "-";
  return testing::TempDir() + kPrefix + name;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr Rgb kBottom{68, 1, 84}, kTop{253, 231, 37};

// CIE lightness L* (0 black to 100 white) of an sRGB colour.
double Lightness(Rgb color) {
  auto linear = [](uint8_t channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  const double y = 0.2126 * linear(color.r) + 0.7152 * linear(color.g) + 0.0722 * linear(color.b);
  return y > 216.0 / 24389 ? 116 * std::cbrt(y) - 16 : y * 24389.0 / 27;
}

TEST(ErrorScale, RunsFromDarkVioletToYellowGettingLighterAllTheWay) {
  EXPECT_EQ(ScaleColor(0.0), kBottom);
  EXPECT_EQ(ScaleColor(1.0), kTop);
  EXPECT_EQ(ScaleColor(-3.0), kBottom);
  EXPECT_EQ(ScaleColor(kNaN), kBottom);
  EXPECT_EQ(ScaleColor(7.0), kTop);
  // Clearly lighter at every stop and between them; never darker on the way
  // but for the rounding to whole channel values (a tenth of a unit of
  // lightness at most, where one channel falls while the others rise)
  for (int i = 1; i <= 32; ++i)
    EXPECT_GT(Lightness(ScaleColor(i / 32.0)), Lightness(ScaleColor((i - 1) / 32.0)) + 1.0) << i;
  for (int i = 1; i <= 1000; ++i)
    EXPECT_GT(Lightness(ScaleColor(i / 1000.0)), Lightness(ScaleColor((i - 1) / 1000.0)) - 0.15) << i;
}

TEST(ErrorScale, ErrorsAboveTheTopAndWithoutWeightsHaveColoursOfTheirOwn) {
  EXPECT_EQ(ErrorColor(0.0, 0.01), kBottom);
  EXPECT_EQ(ErrorColor(-1.0, 0.01), kBottom);
  EXPECT_EQ(ErrorColor(0.01, 0.01), kTop);  // the top itself is on the scale
  EXPECT_EQ(ErrorColor(0.0100001, 0.01), kOverTopColor);
  EXPECT_EQ(ErrorColor(1e300, 0.01), kOverTopColor);
  for (const double none : {kNaN, kInfinity, -kInfinity}) EXPECT_EQ(ErrorColor(none, 0.01), kNoWeightsColor);
  // Neither special colour is on the scale
  for (int i = 0; i <= 1000; ++i) {
    const Rgb c = ScaleColor(i / 1000.0);
    EXPECT_GT(std::abs(c.r - kOverTopColor.r) + std::abs(c.g - kOverTopColor.g) + std::abs(c.b - kOverTopColor.b), 100);
    EXPECT_GT(std::abs(c.r - kNoWeightsColor.r) + std::abs(c.g - kNoWeightsColor.g) + std::abs(c.b - kNoWeightsColor.b),
              100);
  }
}

TEST(ErrorScale, TopThatIsNoPositiveNumberGivesWayToTheLargestErrorOrAHundredth) {
  EXPECT_EQ(ScaleTop(0.02, {0.5, kNaN}), 0.02);
  for (const double requested : {0.0, -1.0, kNaN, kInfinity})
    EXPECT_EQ(ScaleTop(requested, {0.001, kNaN, 0.003, kInfinity, -2.0}), 0.003) << requested;
  EXPECT_EQ(ScaleTop(0.0, {}), 0.01);
  EXPECT_EQ(ScaleTop(0.0, {0.0, 0.0}), 0.01);
  EXPECT_EQ(ScaleTop(kNaN, {kNaN, kNaN}), 0.01);
}

// A cube of side 2 * half about the origin, each face its own grid of
// cells x cells quads (the points along its edges repeated).
host::Mesh Cube(double half, int cells) {
  host::Mesh mesh;
  for (int axis = 0; axis < 3; ++axis)
    for (const double side : {-half, half}) {
      const auto first = static_cast<int32_t>(mesh.points.size());
      for (int i = 0; i <= cells; ++i)
        for (int j = 0; j <= cells; ++j) {
          double p[3];
          p[axis] = side;
          p[(axis + 1) % 3] = half * (2.0 * i / cells - 1);
          p[(axis + 2) % 3] = half * (2.0 * j / cells - 1);
          mesh.points.push_back({p[0], p[1], p[2]});
        }
      for (int32_t a = first; a < first + cells * (cells + 1); ++a)
        if ((a - first) % (cells + 1) != cells) mesh.polygons.push_back({a, a + cells + 1, a + cells + 2, a + 1});
    }
  return mesh;
}

using PixelTest = std::function<bool(Rgb)>;

// An error picture of the cube of side 2 in a cage cube of side 3, 400 x 300:
// the front view left of x = 200, the view from behind right of it, the
// legend below y = 266.
struct ErrorPicture {
  static constexpr int kHalf = 200, kLegendTop = 300 - 34;
  host::Mesh target = Cube(1.0, 5), cage = Cube(1.5, 1);
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;

  std::vector<double> each(const std::function<double(const Vec3&)>& f) const {
    std::vector<double> values;
    for (const Vec3& p : target.points) values.push_back(f(p));
    return values;
  }
  void draw(const ErrorView& view, PreviewSize size = {400, 300}) {
    const std::string path = UniqueTempName("error-preview.png");
    WriteErrorPreview(path, size, target, cage, view);
    int channels = 0;
    uint8_t* data = stbi_load(path.c_str(), &width, &height, &channels, 3);
    std::remove(path.c_str());
    ASSERT_NE(data, nullptr);
    pixels.assign(data, data + static_cast<size_t>(width) * height * 3);
    stbi_image_free(data);
  }
  Rgb at(int x, int y) const {
    const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
  }
  // Pixels in [x0, x1) x [y0, y1) that pass test.
  long count(int x0, int x1, int y0, int y1, const PixelTest& test) const {
    long n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += test(at(x, y));
    return n;
  }
  long inViews(const PixelTest& test) const { return count(0, width, 0, kLegendTop, test); }
  long inLegendEntries(const PixelTest& test) const { return count(kHalf, width, kLegendTop, height, test); }
};

// Whether a pixel is color lit by an intensity from 0.7 to 1, as faces are.
PixelTest ShadeOf(Rgb color) {
  return [color](Rgb pixel) {
    const int brightest = std::max({color.r, color.g, color.b});
    const int seen = color.r == brightest ? pixel.r : color.g == brightest ? pixel.g : pixel.b;
    const double intensity = static_cast<double>(seen) / brightest;
    auto near = [intensity](uint8_t of, uint8_t got) { return std::fabs(of * intensity - got) <= 2.0; };
    return intensity >= 0.69 && near(color.r, pixel.r) && near(color.g, pixel.g) && near(color.b, pixel.b);
  };
}

PixelTest Exactly(Rgb color) {
  return [color](Rgb pixel) { return pixel == color; };
}

TEST(ErrorPreview, TopHalfWithoutErrorBottomHalfAboveTheTopFromBothSides) {
  ErrorPicture picture;
  ErrorView view;
  view.errors = picture.each([](const Vec3& p) { return p.y > 0 ? 0.0 : 1.0; });
  picture.draw(view);
  ASSERT_EQ(picture.width, 400);
  ASSERT_EQ(picture.height, 300);
  const PixelTest low = ShadeOf(kBottom), over = ShadeOf(kOverTopColor);
  for (const int left : {0, ErrorPicture::kHalf}) {
    // Down the middle of each view: the lid first, without error, and the
    // cube's lowest corner last, far above the top
    const int x = left + ErrorPicture::kHalf / 2;
    std::vector<int> rows;
    for (int y = 0; y < ErrorPicture::kLegendTop; ++y)
      if (low(picture.at(x, y)) || over(picture.at(x, y))) rows.push_back(y);
    ASSERT_FALSE(rows.empty()) << left;
    EXPECT_GT(rows.back() - rows.front(), ErrorPicture::kLegendTop / 3) << left;
    EXPECT_TRUE(low(picture.at(x, rows.front()))) << left;
    EXPECT_TRUE(over(picture.at(x, rows.back()))) << left;
    EXPECT_GT(picture.count(left, left + ErrorPicture::kHalf, 0, ErrorPicture::kLegendTop, low), 3000) << left;
    EXPECT_GT(picture.count(left, left + ErrorPicture::kHalf, 0, ErrorPicture::kLegendTop, over), 3000) << left;
  }
  EXPECT_EQ(picture.inViews(ShadeOf(kNoWeightsColor)), 0);
  // The legend: both ends of the bar, and the entry of the points above the top
  EXPECT_GT(picture.count(0, ErrorPicture::kHalf, ErrorPicture::kLegendTop, 300, Exactly(kBottom)), 0);
  EXPECT_GT(picture.count(0, ErrorPicture::kHalf, ErrorPicture::kLegendTop, 300, Exactly(kTop)), 0);
  EXPECT_GT(picture.inLegendEntries(Exactly(kOverTopColor)), 20);
  EXPECT_EQ(picture.inLegendEntries(Exactly(kNoWeightsColor)), 0);
}

TEST(ErrorPreview, PointsWithoutWeightsAreMagentaAndCounted) {
  ErrorPicture picture;
  for (const double none : {kNaN, kInfinity}) {
    picture.draw({std::vector<double>(picture.target.points.size(), none), {}, 0.01});
    EXPECT_GT(picture.inViews(ShadeOf(kNoWeightsColor)), 6000) << none;
    EXPECT_EQ(picture.inViews(ShadeOf(kBottom)), 0) << none;
    EXPECT_GT(picture.inLegendEntries(Exactly(kNoWeightsColor)), 20) << none;
  }
  // A list too short: the points past its end have no weights either
  picture.draw({std::vector<double>(picture.target.points.size() / 2, 0.0), {}, 0.01});
  EXPECT_GT(picture.inViews(ShadeOf(kNoWeightsColor)), 1000);
  EXPECT_GT(picture.inViews(ShadeOf(kBottom)), 1000);
}

TEST(ErrorPreview, PointsOutsideTheCageAreDottedWhereTheyAreSeen) {
  ErrorPicture picture;
  const PixelTest white = Exactly(kOutsideDot), drawn = [](Rgb c) { return !(c == Rgb{246, 246, 243}); };
  // All errors 0, none known outside: the bottom of the scale, no dots and
  // no legend entries
  ErrorView view{std::vector<double>(picture.target.points.size(), 0.0), {}, 0.0};
  picture.draw(view);
  EXPECT_GT(picture.inViews(ShadeOf(kBottom)), picture.inViews(drawn) * 8 / 10);  // the rest: lines, labels
  EXPECT_EQ(picture.count(0, 400, 0, 300, white), 0);
  EXPECT_EQ(picture.count(ErrorPicture::kHalf, 400, ErrorPicture::kLegendTop + 3, 300, drawn), 0);

  // The face at z = -1 faces away from the front view and towards the view from behind
  for (const Vec3& p : picture.target.points)
    view.outside.push_back(p.z == -1.0 && std::fabs(p.x) < 1.0 && std::fabs(p.y) < 1.0);
  picture.draw(view);
  EXPECT_EQ(picture.count(0, ErrorPicture::kHalf, 0, ErrorPicture::kLegendTop, white), 0);
  EXPECT_GE(picture.count(ErrorPicture::kHalf, 400, 0, ErrorPicture::kLegendTop, white), 12);  // of 16, some under lines
  EXPECT_EQ(picture.inLegendEntries(white), 1);  // the legend's dot

  view.outside.resize(3);  // a short list: the points past its end are not marked
  picture.draw(view);
  EXPECT_EQ(picture.count(0, 400, 0, 300, white), 0);
}

TEST(ErrorPreview, BadInputStillMakesAPicture) {
  ErrorPicture picture;
  const size_t count = picture.target.points.size();
  // Finite errors, however large, are errors: red, never "no weights"
  const double largest = std::numeric_limits<double>::max();
  for (const auto& [error, top] : {std::pair{1e300, 1e-300}, {largest, largest * 0.75}}) {
    ErrorView huge{std::vector<double>(count, error), std::vector<uint8_t>(count + 10, 1), top};
    huge.errors[0] = -error;
    picture.draw(huge);
    EXPECT_GT(picture.inViews(ShadeOf(kOverTopColor)), 6000) << error;
    EXPECT_EQ(picture.count(0, 400, 0, 300, ShadeOf(kNoWeightsColor)), 0) << error;
  }
  const ErrorView none{{}, {}, kNaN};
  picture.target = {};  // no target
  picture.draw(none);
  picture.cage = {};
  picture.draw(none);
  ErrorPicture far;
  for (Vec3& p : far.target.points) p = {p.x * 1e300, p.y * 1e300, p.z};
  far.draw(none, {64, 32});
  EXPECT_EQ(far.width, 64);
  EXPECT_EQ(far.height, 32);
}

std::string Example(const std::string& name) { return std::string(OSTRAND_SOURCE_DIR) + "/examples/" + name; }

uint64_t Fnv1a(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// The two-view picture of the example, bent, as the bytes of its PNG file.
std::string DefaultPicture(PreviewSize size) {
  const host::Mesh target = driver::ReadMeshFile(Example("target.obj")).mesh;
  const host::Mesh cage = driver::ReadMeshFile(Example("cage.obj")).mesh;
  const host::Mesh bent = driver::ReadMeshFile(Example("cage_bend.obj")).mesh;
  std::vector<Vec3> posed = target.points;
  for (Vec3& p : posed) p.x += 0.3 * p.y * p.y;
  const std::string path = UniqueTempName("default-preview.png");
  WritePreview(path, size, target, cage, posed, bent.points, "cage_bend");
  const std::string png = driver::ReadTextFile(path);
  std::remove(path.c_str());
  return png;
}

TEST(DefaultPreview, IsByteForByteThePictureItWasBeforeTheErrorPicture) {
  // Hashes of the files the drawing code wrote before it drew error pictures
  EXPECT_EQ(Fnv1a(DefaultPicture({})), 0x5e0c2edb94ea221eull);
  EXPECT_EQ(Fnv1a(DefaultPicture({321, 160})), 0x55872e11f4f92ea1ull);
}

}  // namespace
}  // namespace cli
