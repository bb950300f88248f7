// PC2 and MDD point caches, read and written word by word in their fixed byte
// orders, whatever the machine's own.
#include "host/point_cache.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "host/regular_file.h"

namespace host {
namespace {

constexpr unsigned char kPc2Signature[12] = {'P', 'O', 'I', 'N', 'T', 'C', 'A', 'C', 'H', 'E', '2', '\0'};
constexpr size_t kPc2HeaderBytes = 32;
constexpr size_t kMddCountsBytes = 8;  // before the times
constexpr uint64_t kPointBytes = 12;

bool BigEndian(PointCacheFormat format) { return format == PointCacheFormat::kMdd; }

uint32_t Word(const unsigned char* bytes, bool big) {
  if (big)
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | uint32_t{bytes[3]};
  return uint32_t{bytes[3]} << 24 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[1]} << 8 | uint32_t{bytes[0]};
}

int32_t Int(const unsigned char* bytes, bool big) { return static_cast<int32_t>(Word(bytes, big)); }

float Single(const unsigned char* bytes, bool big) {
  const uint32_t word = Word(bytes, big);
  float value;
  std::memcpy(&value, &word, sizeof value);
  return value;
}

void PutWord(unsigned char* bytes, uint32_t word, bool big) {
  for (int k = 0; k < 4; ++k) bytes[big ? 3 - k : k] = static_cast<unsigned char>(word >> (8 * k));
}

void PutSingle(unsigned char* bytes, float value, bool big) {
  uint32_t word;
  std::memcpy(&word, &value, sizeof word);
  PutWord(bytes, word, big);
}

// Words in the machine's order turned into the file's, or back: a frame is
// converted whole, so that the loop stays a plain copy on the common path.
void ToOrder(uint32_t* words, size_t count, bool big) {
  if (big == (std::endian::native == std::endian::big)) return;
  for (size_t k = 0; k < count; ++k) words[k] = __builtin_bswap32(words[k]);
}

// Decimal text of a byte count that may pass 64 bits (a lying header's).
std::string Decimal(unsigned __int128 value) {
  std::string text;
  do {
    text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return text;
}

std::string Counts(uint64_t frames, uint64_t points) {
  return std::to_string(frames) + (frames == 1 ? " frame of " : " frames of ") + std::to_string(points) +
         (points == 1 ? " point" : " points");
}

}  // namespace

const char* FormatName(PointCacheFormat format) { return format == PointCacheFormat::kPc2 ? "PC2" : "MDD"; }

PointCacheError::PointCacheError(const std::string& path, const std::string& problem)
    : std::runtime_error(path + ": " + problem), path(path), problem(problem) {}

std::optional<PointCacheFormat> RecognisePointCache(const unsigned char* first, size_t count, uint64_t fileSize) {
  if (count >= sizeof kPc2Signature && std::memcmp(first, kPc2Signature, sizeof kPc2Signature) == 0)
    return PointCacheFormat::kPc2;
  if (count < kMddCountsBytes) return std::nullopt;
  const int32_t frames = Int(first, true), points = Int(first + 4, true);
  if (frames <= 0 || points <= 0) return std::nullopt;
  const unsigned __int128 frameBytes = kPointBytes * uint64_t(points);
  const unsigned __int128 size = kMddCountsBytes + 4 * uint64_t(frames) + frameBytes * uint64_t(frames);
  if (size == fileSize) return PointCacheFormat::kMdd;
  return std::nullopt;
}

std::optional<PointCacheFormat> RecognisePointCache(const std::string& path) {
  std::string problem;
  std::FILE* file = OpenRegularFile(path, &problem);
  if (file == nullptr) return std::nullopt;
  unsigned char first[sizeof kPc2Signature];
  const size_t count = std::fread(first, 1, sizeof first, file);
  const bool sized = ::fseeko(file, 0, SEEK_END) == 0;
  const off_t size = sized ? ::ftello(file) : -1;
  std::fclose(file);
  if (size < 0) return std::nullopt;
  return RecognisePointCache(first, count, static_cast<uint64_t>(size));
}

// --- Reading -----------------------------------------------------------------

PointCacheReader::PointCacheReader(const std::string& path, PointCacheFormat format)
    : owned_(true), name_(path) {
  header_.format = format;
  std::string problem;
  file_ = OpenRegularFile(path, &problem);
  if (file_ == nullptr) fail(problem);
  try {
    readHeader();
  } catch (...) {
    std::fclose(file_);
    throw;
  }
}

PointCacheReader::PointCacheReader(std::FILE* stream, const std::string& name, PointCacheFormat format)
    : file_(stream), owned_(false), name_(name) {
  header_.format = format;
  readHeader();
}

PointCacheReader::~PointCacheReader() {
  if (owned_) std::fclose(file_);
}

void PointCacheReader::fail(const std::string& problem) const { throw PointCacheError(name_, problem); }

void PointCacheReader::readBytes(uint64_t offset, size_t count) {
  bytes_.resize(count);
  readInto(offset, bytes_.data(), count);
}

void PointCacheReader::readInto(uint64_t offset, void* bytes, size_t count) {
  if (::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0 || std::fread(bytes, 1, count, file_) != count)
    fail(std::ferror(file_) ? std::string("cannot be read: ") + std::strerror(errno)
                            : std::string("cannot be read: it ended early (was it changed while being read?)"));
}

void PointCacheReader::readHeader() {
  const bool pc2 = header_.format == PointCacheFormat::kPc2;
  const bool big = BigEndian(header_.format);
  const char* kind = FormatName(header_.format);
  if (::fseeko(file_, 0, SEEK_END) != 0) fail(std::string("cannot be read: ") + std::strerror(errno));
  const off_t end = ::ftello(file_);
  if (end < 0) fail(std::string("cannot be read: ") + std::strerror(errno));
  const uint64_t size = static_cast<uint64_t>(end);
  const size_t fixed = pc2 ? kPc2HeaderBytes : kMddCountsBytes;
  if (size < fixed)
    fail(std::string(pc2 ? "too short for a " : "too short for an ") + kind + " header: " + std::to_string(size) +
         " bytes, the header alone is " + std::to_string(fixed));
  readBytes(0, fixed);
  const unsigned char* bytes = bytes_.data();
  int32_t points = 0, frames = 0;
  if (pc2) {
    if (std::memcmp(bytes, kPc2Signature, sizeof kPc2Signature) != 0)
      fail("not a PC2 file: it does not start with the signature \"POINTCACHE2\"");
    if (const int32_t version = Int(bytes + 12, big); version != 1)
      fail("PC2 version " + std::to_string(version) + "; only version 1 is read");
    points = Int(bytes + 16, big);
    header_.startFrame = Single(bytes + 20, big);
    header_.sampleRate = Single(bytes + 24, big);
    frames = Int(bytes + 28, big);
  } else {
    frames = Int(bytes, big);
    points = Int(bytes + 4, big);
  }
  if (points <= 0) fail("the header gives " + std::to_string(points) + " points per frame; a cache needs 1 or more");
  if (frames <= 0) fail("the header gives " + std::to_string(frames) + " frames; a cache needs 1 or more");
  if (pc2 && !std::isfinite(header_.startFrame)) fail("the header's start frame is not a finite number");
  if (pc2 && !std::isfinite(header_.sampleRate)) fail("the header's sample rate is not a finite number");

  // The length, before anything the header's counts size is allocated.
  const uint64_t headerBytes = fixed + (pc2 ? 0 : 4 * uint64_t(frames));
  const uint64_t frameBytes = kPointBytes * uint64_t(points);
  const unsigned __int128 claimed = headerBytes + static_cast<unsigned __int128>(frameBytes) * uint64_t(frames);
  if (claimed > size)
    fail("the header gives " + Counts(frames, points) + ", " + Decimal(claimed) + " bytes in all, but the file holds " +
         std::to_string(size) + ": it is cut short, or its header is wrong");
  if (claimed < size)
    fail("the file holds " + Decimal(size - claimed) + " bytes more than its header gives (" + Counts(frames, points) +
         ")");
  header_.points = static_cast<uint32_t>(points);
  header_.frames = static_cast<uint32_t>(frames);
  dataStart_ = headerBytes;
  if (!pc2) {
    readBytes(kMddCountsBytes, 4 * size_t(frames));
    header_.times.resize(size_t(frames));
    for (size_t k = 0; k < header_.times.size(); ++k) {
      header_.times[k] = Single(bytes_.data() + 4 * k, big);
      if (!std::isfinite(header_.times[k]))
        fail("the time of frame " + std::to_string(k + 1) + " is not a finite number");
    }
  }
}

void PointCacheReader::readFrame(uint32_t frame, std::vector<Vec3>& points) {
  if (frame >= header_.frames)
    fail("has " + std::to_string(header_.frames) + " frames, no frame " + std::to_string(uint64_t(frame) + 1));
  const uint64_t frameBytes = kPointBytes * header_.points;
  words_.resize(3 * size_t(header_.points));
  readInto(dataStart_ + frameBytes * frame, words_.data(), frameBytes);
  ToOrder(words_.data(), words_.size(), BigEndian(header_.format));
  points.resize(header_.points);
  for (size_t i = 0; i < points.size(); ++i) {
    float xyz[3];
    std::memcpy(xyz, &words_[3 * i], sizeof xyz);
    if (!std::isfinite(xyz[0]) || !std::isfinite(xyz[1]) || !std::isfinite(xyz[2]))
      fail("frame " + std::to_string(uint64_t(frame) + 1) + ", point " + std::to_string(i + 1) +
           ": a coordinate is not a finite number");
    points[i] = Vec3{xyz[0], xyz[1], xyz[2]};
  }
}

// --- Writing -----------------------------------------------------------------

PointCacheWriter::PointCacheWriter(const std::string& path, const PointCacheHeader& header)
    : file_(std::fopen(path.c_str(), "wb")), owned_(true), name_(path), header_(header) {
  if (file_ == nullptr) fail(std::string("cannot be created: ") + std::strerror(errno));
  writeHeader();
}

PointCacheWriter::PointCacheWriter(std::FILE* stream, const std::string& name, const PointCacheHeader& header)
    : file_(stream), owned_(false), name_(name), header_(header) {
  writeHeader();
}

PointCacheWriter::~PointCacheWriter() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

void PointCacheWriter::fail(const std::string& problem) const { throw PointCacheError(name_, problem); }

void PointCacheWriter::put(const unsigned char* bytes, size_t count) {
  if (std::fwrite(bytes, 1, count, file_) != count) fail(std::string("cannot be written: ") + std::strerror(errno));
}

void PointCacheWriter::writeHeader() {
  const PointCacheHeader& h = header_;
  const bool big = BigEndian(h.format);
  if (h.points == 0 || h.frames == 0 || h.points > INT32_MAX || h.frames > INT32_MAX)
    fail("a cache of " + Counts(h.frames, h.points) + " cannot be written");
  if (h.format == PointCacheFormat::kMdd && h.times.size() != h.frames)
    fail("an MDD cache needs one time per frame");
  if (h.format == PointCacheFormat::kPc2) {
    unsigned char bytes[kPc2HeaderBytes];
    std::memcpy(bytes, kPc2Signature, sizeof kPc2Signature);
    PutWord(bytes + 12, 1, big);
    PutWord(bytes + 16, h.points, big);
    PutSingle(bytes + 20, h.startFrame, big);
    PutSingle(bytes + 24, h.sampleRate, big);
    PutWord(bytes + 28, h.frames, big);
    put(bytes, sizeof bytes);
    return;
  }
  bytes_.resize(kMddCountsBytes + 4 * h.times.size());
  PutWord(bytes_.data(), h.frames, big);
  PutWord(bytes_.data() + 4, h.points, big);
  for (size_t k = 0; k < h.times.size(); ++k) PutSingle(bytes_.data() + kMddCountsBytes + 4 * k, h.times[k], big);
  put(bytes_.data(), bytes_.size());
}

void PointCacheWriter::writeFrame(const std::vector<Vec3>& points) {
  if (written_ == header_.frames) fail("more frames than the " + std::to_string(header_.frames) + " of its header");
  if (points.size() != header_.points)
    fail("a frame of " + std::to_string(points.size()) + " points in a cache of " + std::to_string(header_.points));
  words_.resize(3 * points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    const float xyz[3] = {static_cast<float>(points[i].x), static_cast<float>(points[i].y),
                          static_cast<float>(points[i].z)};
    if (!std::isfinite(xyz[0]) || !std::isfinite(xyz[1]) || !std::isfinite(xyz[2]))
      fail("frame " + std::to_string(written_ + 1) + ", point " + std::to_string(i + 1) +
           ": a coordinate does not fit a 32-bit float");
    std::memcpy(&words_[3 * i], xyz, sizeof xyz);
  }
  ToOrder(words_.data(), words_.size(), BigEndian(header_.format));
  put(reinterpret_cast<const unsigned char*>(words_.data()), kPointBytes * points.size());
  ++written_;
}

void PointCacheWriter::close() {
  if (written_ != header_.frames)
    fail("holds " + std::to_string(written_) + " of the " + std::to_string(header_.frames) + " frames of its header");
  const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
  const int error = errno;
  bool closed = true;
  if (owned_) {
    closed = std::fclose(file_) == 0;
    file_ = nullptr;
  }
  if (!flushed || !closed) fail(std::string("cannot be written: ") + std::strerror(flushed ? errno : error));
}

}  // namespace host
