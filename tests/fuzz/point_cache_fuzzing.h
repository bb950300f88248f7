// What the PC2 and MDD reader fuzzers check of one input, a file's bytes read
// as a cache of one format: it is read or refused with PointCacheError (any
// other exception, a crash or a sanitizer report is a finding). A cache that
// reads is recognised as its format, holds exactly the bytes its header
// gives, and every frame either reads with finite coordinates or is refused;
// when every frame reads, writing the header and the frames back gives the
// input's bytes exactly.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/point_cache.h"

namespace point_cache_fuzzing {

[[noreturn]] inline void Finding(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

inline void Require(bool holds, const char* what) {
  if (!holds) Finding(what);
}

// The bytes the writer gives for header and frames.
inline std::string Written(const host::PointCacheHeader& header, const std::vector<std::vector<Vec3>>& frames) {
  char* bytes = nullptr;
  size_t size = 0;
  std::FILE* out = ::open_memstream(&bytes, &size);
  Require(out != nullptr, "no memory stream");
  try {
    host::PointCacheWriter writer(out, "output", header);
    for (const std::vector<Vec3>& frame : frames) writer.writeFrame(frame);
    writer.close();
  } catch (const host::PointCacheError& e) {
    Finding(std::string("what was read cannot be written: ") + e.what());
  }
  std::fclose(out);
  std::string text(bytes, size);
  std::free(bytes);
  return text;
}

inline int FuzzOneInput(const uint8_t* data, size_t size, host::PointCacheFormat format) {
  if (size == 0) return 0;  // no memory stream holds nothing; too short for either header
  std::string bytes(reinterpret_cast<const char*>(data), size);  // fmemopen takes a buffer it may write
  std::FILE* in = ::fmemopen(bytes.data(), size, "rb");
  Require(in != nullptr, "no memory stream");
  std::vector<std::vector<Vec3>> frames;
  host::PointCacheHeader header;
  bool everyFrame = true;
  try {
    host::PointCacheReader reader(in, "input", format);
    header = reader.header();
    Require(header.format == format, "the format read is not the one asked for");
    Require(header.points >= 1 && header.points <= INT32_MAX, "point count");
    Require(header.frames >= 1 && header.frames <= INT32_MAX, "frame count");
    const uint64_t headerBytes = format == host::PointCacheFormat::kPc2 ? 32 : 8 + 4 * uint64_t(header.frames);
    Require(headerBytes + 12 * uint64_t(header.points) * header.frames == size, "the length is not the header's");
    Require(host::RecognisePointCache(data, size, size) == format, "a cache that reads is not recognised as one");
    Require(format == host::PointCacheFormat::kPc2 || header.times.size() == header.frames, "one time per frame");
    for (float time : header.times) Require(std::isfinite(time), "a time that is not finite");
    for (uint32_t k = 0; k < header.frames; ++k) {
      std::vector<Vec3> points;
      try {
        reader.readFrame(k, points);
      } catch (const host::PointCacheError&) {
        everyFrame = false;
        continue;
      }
      Require(points.size() == header.points, "a frame of another point count");
      for (const Vec3& p : points)
        Require(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z), "a coordinate that is not finite");
      if (everyFrame) frames.push_back(std::move(points));
    }
  } catch (const host::PointCacheError&) {
    std::fclose(in);
    return 0;
  }
  std::fclose(in);
  if (everyFrame && Written(header, frames) != std::string(reinterpret_cast<const char*>(data), size))
    Finding("the cache written back differs from the input");
  return 0;
}

}  // namespace point_cache_fuzzing
