// PC2 and MDD caches: the bytes written are the layouts' bytes, written by
// hand here; what is written reads back bit for bit; and every unsound cache
// is refused with what is wrong, before anything its header sizes is read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "host/point_cache.h"
#include "host_test_support.h"

namespace {

using host::PointCacheFormat;

// Bytes as the layouts spell them: 32-bit words in either byte order.
class Bytes {
 public:
  Bytes& text(const char* bytes, size_t count) {
    data_.append(bytes, count);
    return *this;
  }
  Bytes& word(uint32_t value, bool big) {
    for (int k = 0; k < 4; ++k) data_ += static_cast<char>(value >> (8 * (big ? 3 - k : k)));
    return *this;
  }
  Bytes& single(float value, bool big) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return word(bits, big);
  }
  const std::string& str() const { return data_; }

 private:
  std::string data_;
};

std::string WriteBytes(const std::string& name, const std::string& bytes) {
  const std::string path = host_test::TempPath(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Two frames of two points, every coordinate exact in float32.
const std::vector<std::vector<Vec3>> kFrames = {{{1.5, -2.0, 0.25}, {3.0, 4.0, -5.5}},
                                                {{-0.125, 1e-3f, 7.0}, {1024.0, 0.0, -0.0}}};

std::string Coordinates(bool big) {
  Bytes bytes;
  for (const auto& frame : kFrames)
    for (const Vec3& p : frame)
      bytes.single(float(p.x), big).single(float(p.y), big).single(float(p.z), big);
  return bytes.str();
}

void ExpectFramesRead(host::PointCacheReader& reader) {
  std::vector<Vec3> points;
  for (uint32_t f = 0; f < kFrames.size(); ++f) {
    reader.readFrame(f, points);
    ASSERT_EQ(points.size(), 2u);
    for (size_t i = 0; i < points.size(); ++i) {
      EXPECT_EQ(std::memcmp(&points[i], &kFrames[f][i], sizeof(Vec3)), 0) << "frame " << f << " point " << i;
    }
  }
}

TEST(PointCache, EachFormatIsWrittenAsItsLayoutAndReadsBack) {
  for (const PointCacheFormat format : {PointCacheFormat::kPc2, PointCacheFormat::kMdd}) {
    SCOPED_TRACE(host::FormatName(format));
    const bool big = format == PointCacheFormat::kMdd;
    host::PointCacheHeader header;
    header.format = format;
    header.points = 2;
    header.frames = 2;
    Bytes expected;
    if (big) {
      header.times = {0.0f, 1.0f / 24};
      expected.word(2, true).word(2, true).single(0.0f, true).single(1.0f / 24, true);
    } else {
      header.startFrame = 10.0f;
      header.sampleRate = 0.5f;
      expected.text("POINTCACHE2\0", 12).word(1, false).word(2, false).single(10.0f, false).single(0.5f, false);
      expected.word(2, false);
    }
    const std::string path = host_test::TempPath(big ? "two.mdd" : "two.pc2");
    host::PointCacheWriter writer(path, header);
    for (const auto& frame : kFrames) writer.writeFrame(frame);
    writer.close();
    EXPECT_EQ(ReadBytes(path), expected.str() + Coordinates(big));

    EXPECT_EQ(host::RecognisePointCache(path), format);
    host::PointCacheReader reader(path, format);
    EXPECT_EQ(reader.header().points, 2u);
    EXPECT_EQ(reader.header().frames, 2u);
    EXPECT_EQ(reader.header().startFrame, header.startFrame);
    EXPECT_EQ(reader.header().sampleRate, header.sampleRate);
    EXPECT_EQ(reader.header().times, header.times);
    ExpectFramesRead(reader);
  }
}

TEST(PointCache, ContentSaysWhichFormatNotTheName) {
  Bytes mdd;
  mdd.word(1, true).word(1, true).single(0.0f, true).single(1, true).single(2, true).single(3, true);
  EXPECT_EQ(host::RecognisePointCache(WriteBytes("really-mdd.pc2", mdd.str())), PointCacheFormat::kMdd);
  // One byte more and the counts no longer give the size.
  EXPECT_EQ(host::RecognisePointCache(WriteBytes("long.mdd", mdd.str() + "x")), std::nullopt);
  EXPECT_EQ(host::RecognisePointCache(WriteBytes("cage.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n")), std::nullopt);
  EXPECT_EQ(host::RecognisePointCache(WriteBytes("short", "POINT")), std::nullopt);
  EXPECT_EQ(host::RecognisePointCache(host_test::TempPath("missing.pc2")), std::nullopt);
}

struct BadCache {
  std::string name;
  PointCacheFormat format;
  std::string bytes;
  std::string problem;  // a part of the message
};

Bytes Pc2Header(int32_t version, int32_t points, float start, float rate, int32_t samples) {
  Bytes bytes;
  bytes.text("POINTCACHE2\0", 12).word(uint32_t(version), false).word(uint32_t(points), false);
  return bytes.single(start, false).single(rate, false).word(uint32_t(samples), false);
}

TEST(PointCache, UnsoundCachesAreRefusedSayingWhy) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::string oneFrame = Coordinates(false).substr(0, 24);  // 2 points
  const std::vector<BadCache> cases = {
      {"tiny.pc2", PointCacheFormat::kPc2, "POINTCACHE2", "too short for a PC2 header: 11 bytes"},
      {"signature.pc2", PointCacheFormat::kPc2, "POINTCACHE3" + std::string(21, '\0'), "does not start with"},
      {"version.pc2", PointCacheFormat::kPc2, Pc2Header(2, 2, 0, 1, 1).str() + oneFrame, "PC2 version 2"},
      {"no-points.pc2", PointCacheFormat::kPc2, Pc2Header(1, 0, 0, 1, 1).str(), "gives 0 points per frame"},
      {"negative.pc2", PointCacheFormat::kPc2, Pc2Header(1, 2, 0, 1, -3).str() + oneFrame, "gives -3 frames"},
      {"start.pc2", PointCacheFormat::kPc2, Pc2Header(1, 2, nan, 1, 1).str() + oneFrame, "start frame is not a finite"},
      {"rate.pc2", PointCacheFormat::kPc2, Pc2Header(1, 2, 0, -nan, 1).str() + oneFrame, "sample rate is not a finite"},
      {"cut.pc2", PointCacheFormat::kPc2, Pc2Header(1, 2, 0, 1, 2).str() + oneFrame + "abc",
       "gives 2 frames of 2 points, 80 bytes in all, but the file holds 59: it is cut short"},
      // A header that claims far more than any file holds.
      {"lying.pc2", PointCacheFormat::kPc2, Pc2Header(1, INT32_MAX, 0, 1, INT32_MAX).str() + oneFrame,
       "55340232169589047340 bytes in all, but the file holds 56"},
      {"long.pc2", PointCacheFormat::kPc2, Pc2Header(1, 2, 0, 1, 1).str() + oneFrame + "x",
       "holds 1 bytes more than its header gives (1 frame of 2 points)"},
      {"tiny.mdd", PointCacheFormat::kMdd, std::string("\0\0\0\1", 4), "too short for an MDD header"},
      {"lying.mdd", PointCacheFormat::kMdd, Bytes().word(INT32_MAX, true).word(1, true).str(),
       "gives 2147483647 frames of 1 point, 34359738360 bytes in all, but the file holds 8"},
      {"time.mdd", PointCacheFormat::kMdd, Bytes().word(1, true).word(1, true).single(nan, true).str() + std::string(12, '\0'),
       "the time of frame 1 is not a finite number"},
  };
  for (const BadCache& bad : cases) {
    SCOPED_TRACE(bad.name);
    const std::string path = WriteBytes(bad.name, bad.bytes);
    try {
      host::PointCacheReader reader(path, bad.format);
      ADD_FAILURE() << "read";
    } catch (const host::PointCacheError& e) {
      EXPECT_EQ(e.path, path);
      EXPECT_NE(e.problem.find(bad.problem), std::string::npos) << e.problem;
    }
  }
}

TEST(PointCache, AFrameWithANonFiniteCoordinateIsRefusedNamingIt) {
  std::string frames = Coordinates(true);
  const float inf = std::numeric_limits<float>::infinity();
  frames.replace(24 + 12 + 8, 4, Bytes().single(inf, true).str());  // frame 2, point 2, z
  const std::string path = WriteBytes("inf.mdd", Bytes().word(2, true).word(2, true).word(0, true).word(0, true).str() + frames);
  host::PointCacheReader reader(path, PointCacheFormat::kMdd);
  std::vector<Vec3> points;
  reader.readFrame(0, points);
  try {
    reader.readFrame(1, points);
    ADD_FAILURE() << "read";
  } catch (const host::PointCacheError& e) {
    EXPECT_EQ(e.problem, "frame 2, point 2: a coordinate is not a finite number");
  }
}

TEST(PointCache, WriterRefusesWhatTheLayoutCannotHold) {
  host::PointCacheHeader header;
  header.points = 1;
  header.frames = 2;
  const std::string path = host_test::TempPath("refused.pc2");
  {
    host::PointCacheWriter writer(path, header);
    EXPECT_THROW(writer.writeFrame({{1e39, 0, 0}}), host::PointCacheError);  // beyond float32
    EXPECT_THROW(writer.writeFrame({{0, 0, 0}, {1, 1, 1}}), host::PointCacheError);
    writer.writeFrame({{0, 0, 0}});
    try {
      writer.close();
      ADD_FAILURE() << "closed";
    } catch (const host::PointCacheError& e) {
      EXPECT_EQ(e.problem, "holds 1 of the 2 frames of its header");
    }
  }
}

}  // namespace
