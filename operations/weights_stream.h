// Big-endian 32-bit words, as the weights file stores them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/file_replace.h"

namespace ostrand {

// Writes words to a stream in blocks of its own and keeps the first error,
// so that a file that was not written whole is never taken for one. After
// an error nothing more is written.
class WordWriter {
 public:
  explicit WordWriter(FILE* stream) : stream_(stream) {}

  void write(uint32_t value) {
    if (used_ + 4 > sizeof buffer_) drain();
    unsigned char* b = buffer_ + used_;
    b[0] = static_cast<unsigned char>(value >> 24);
    b[1] = static_cast<unsigned char>(value >> 16);
    b[2] = static_cast<unsigned char>(value >> 8);
    b[3] = static_cast<unsigned char>(value);
    used_ += 4;
  }

  // Writes what is held and flushes the stream to the device; returns the
  // first error (an errno value), 0 when every byte got there.
  int finish() {
    drain();
    if (error_ == 0) error_ = FlushFileToDevice(stream_);
    return error_;
  }

 private:
  void drain() {
    if (used_ > 0 && error_ == 0) error_ = WriteFileBytes(stream_, buffer_, used_);
    used_ = 0;
  }

  FILE* stream_;
  unsigned char buffer_[8192];
  size_t used_ = 0;
  int error_ = 0;
};

// The weight narrowed to a single (round to nearest), as its bit pattern.
inline uint32_t SingleBits(double weight) {
  float single = static_cast<float>(weight);
  uint32_t bits;
  std::memcpy(&bits, &single, sizeof bits);
  return bits;
}

// The single with this bit pattern, widened exactly.
inline double FromSingleBits(uint32_t bits) {
  float single;
  std::memcpy(&single, &bits, sizeof single);
  return static_cast<double>(single);
}

// Reads words from a stream whose size is known, so that counts read from the
// file can be checked against the bytes that are left before anything is
// allocated for them. Reads the stream in blocks of its own, not a byte per
// call: weights files run to hundreds of megabytes.
class WordReader {
 public:
  WordReader(FILE* stream, int64_t size) : stream_(stream), remaining_(size) {}

  // False (and value untouched) when fewer than four bytes are left.
  bool read(uint32_t* value) {
    if (remaining_ < 4) return false;
    if (end_ - next_ < 4 && !refill()) return false;
    const unsigned char* b = buffer_ + next_;
    *value = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | uint32_t{b[3]};
    next_ += 4;
    remaining_ -= 4;
    return true;
  }

  bool read(int32_t* value) {
    uint32_t word;
    if (!read(&word)) return false;
    *value = static_cast<int32_t>(word);
    return true;
  }

  // Bytes of the file not read yet, as measured when it was opened.
  int64_t remaining() const { return remaining_; }

  // True when the stream has nothing after what was read.
  bool atEnd() { return remaining_ == 0 && next_ == end_ && std::fgetc(stream_) == EOF; }

 private:
  // Keeps the unread bytes and reads more behind them; false when fewer than
  // four are then held.
  bool refill() {
    const size_t kept = end_ - next_;
    std::memmove(buffer_, buffer_ + next_, kept);
    next_ = 0;
    end_ = kept + std::fread(buffer_ + kept, 1, sizeof buffer_ - kept, stream_);
    return end_ >= 4;
  }

  FILE* stream_;
  int64_t remaining_;
  unsigned char buffer_[8192];
  size_t next_ = 0;  // the first unread byte of buffer_
  size_t end_ = 0;   // one past the last byte read into buffer_
};

}  // namespace ostrand
