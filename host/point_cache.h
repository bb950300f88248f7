// Point caches: the positions of a mesh's points frame after frame, in the two
// fixed binary layouts that animation packages exchange. Both hold float32
// coordinates, x y z per point, point after point, frame after frame.
//
// PC2, little endian: a 32-byte header (the 12 bytes "POINTCACHE2\0", int32
// version 1, int32 point count, float32 start frame, float32 sample rate,
// int32 sample count), then the samples.
// MDD, big endian: int32 frame count, int32 point count, one float32 time in
// seconds per frame, then the frames.
//
// A cache is read only when its header is sound and the file's length is
// exactly the header's plus 12 bytes per point per frame; nothing is allocated
// for a header that claims more than the file holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ostrand/types.h"

namespace host {

enum class PointCacheFormat { kPc2, kMdd };

// "PC2" or "MDD".
const char* FormatName(PointCacheFormat format);

struct PointCacheHeader {
  PointCacheFormat format = PointCacheFormat::kPc2;
  uint32_t points = 0;  // 1 to INT32_MAX
  uint32_t frames = 0;  // 1 to INT32_MAX
  float startFrame = 0.0f;   // PC2: the frame of the first sample
  float sampleRate = 1.0f;   // PC2: frames from one sample to the next
  std::vector<float> times;  // MDD: each frame's time in seconds, one per frame
};

// A file that is not a sound cache: what() is "<path>: <problem>".
class PointCacheError : public std::runtime_error {
 public:
  PointCacheError(const std::string& path, const std::string& problem);
  std::string path;
  std::string problem;
};

// The format a file's first bytes and its size show: PC2 by its signature,
// MDD by a header whose counts give exactly the file's size; none otherwise.
// first holds the file's first count bytes (12 suffice).
std::optional<PointCacheFormat> RecognisePointCache(const unsigned char* first, size_t count, uint64_t fileSize);
// The same for a file (none when it cannot be read).
std::optional<PointCacheFormat> RecognisePointCache(const std::string& path);

class PointCacheReader {
 public:
  // Opens path and reads and checks its header as a cache of that format.
  // Throws PointCacheError naming path.
  PointCacheReader(const std::string& path, PointCacheFormat format);
  // The same over an open stream, which stays open and the caller's; name
  // names it in messages.
  PointCacheReader(std::FILE* stream, const std::string& name, PointCacheFormat format);
  ~PointCacheReader();
  PointCacheReader(const PointCacheReader&) = delete;
  PointCacheReader& operator=(const PointCacheReader&) = delete;

  const PointCacheHeader& header() const { return header_; }

  // Reads frame (from 0, below header().frames) into points, resized to the
  // point count. Throws PointCacheError naming the frame and the point when a
  // coordinate is not finite, or when the file cannot be read.
  void readFrame(uint32_t frame, std::vector<Vec3>& points);

 private:
  void readHeader();
  void readBytes(uint64_t offset, size_t count);  // into bytes_
  void readInto(uint64_t offset, void* bytes, size_t count);
  [[noreturn]] void fail(const std::string& problem) const;

  std::FILE* file_;
  bool owned_;
  std::string name_;
  PointCacheHeader header_;
  uint64_t dataStart_ = 0;
  std::vector<unsigned char> bytes_;
  std::vector<uint32_t> words_;  // a frame's coordinates as float32 words
};

class PointCacheWriter {
 public:
  // Creates path (replacing any file there) and writes the header: the frames
  // that follow are header.frames frames of header.points points, and an MDD
  // header has one time per frame. Throws PointCacheError naming path.
  PointCacheWriter(const std::string& path, const PointCacheHeader& header);
  // The same onto an open stream, which stays open and the caller's.
  PointCacheWriter(std::FILE* stream, const std::string& name, const PointCacheHeader& header);
  ~PointCacheWriter();  // closes a file of its own, without a word
  PointCacheWriter(const PointCacheWriter&) = delete;
  PointCacheWriter& operator=(const PointCacheWriter&) = delete;

  // Appends the next frame: one point per point of the header, each
  // coordinate rounded to float32 (one beyond float32's range is refused).
  void writeFrame(const std::vector<Vec3>& points);
  // Checks that every frame was written, flushes, and closes a file of its
  // own; throws PointCacheError when any write failed.
  void close();

 private:
  void writeHeader();
  void put(const unsigned char* bytes, size_t count);
  [[noreturn]] void fail(const std::string& problem) const;

  std::FILE* file_;
  bool owned_;
  std::string name_;
  PointCacheHeader header_;
  uint32_t written_ = 0;
  std::vector<unsigned char> bytes_;
  std::vector<uint32_t> words_;  // a frame's coordinates as float32 words
};

}  // namespace host
