// Big-endian 32-bit words written and read one byte at a time through a
// buffered stream, as the weights file stores them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace ostrand {

inline void WriteWord(FILE* stream, uint32_t value) {
  std::fputc(static_cast<int>(value >> 24 & 0xFF), stream);
  std::fputc(static_cast<int>(value >> 16 & 0xFF), stream);
  std::fputc(static_cast<int>(value >> 8 & 0xFF), stream);
  std::fputc(static_cast<int>(value & 0xFF), stream);
}

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
// allocated for them.
class WordReader {
 public:
  WordReader(FILE* stream, int64_t size) : stream_(stream), remaining_(size) {}

  // False (and value untouched) when fewer than four bytes are left.
  bool read(uint32_t* value) {
    if (remaining_ < 4) return false;
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
      int byte = std::fgetc(stream_);
      if (byte == EOF) return false;
      word = word << 8 | static_cast<uint32_t>(byte);
    }
    remaining_ -= 4;
    *value = word;
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
  bool atEnd() { return remaining_ == 0 && std::fgetc(stream_) == EOF; }

 private:
  FILE* stream_;
  int64_t remaining_;
};

}  // namespace ostrand
