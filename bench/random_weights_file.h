// A weights file of random weights, in the module's layout, for benchmarks
// that need many weights without binding: every point of the target holds the
// same number of weights on distinct cage points (ascending), each near an
// even share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench_support {

inline void PutWord(std::FILE* file, uint32_t word) {
  for (int shift = 24; shift >= 0; shift -= 8) std::fputc((word >> shift) & 0xFF, file);
}

// jitter() gives each weight's offset from 1 / weightsPerPoint, before the
// point's weights are scaled to add up to 1; add(point,
// cage point, weight) sees every weight written.
template <typename Jitter, typename Add>
void WriteRandomWeights(const std::string& path, uint32_t cagePoints, uint32_t cagePolys, uint32_t points,
                        uint32_t weightsPerPoint, std::mt19937& random, Jitter jitter, Add add) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  for (uint32_t word : {1u, 0u, cagePoints, cagePolys, 1u}) PutWord(file, word);
  for (uint32_t word : {points, points, points * weightsPerPoint}) PutWord(file, word);
  std::uniform_int_distribution<uint32_t> pick(0, cagePoints - 1);
  std::vector<uint32_t> chosen;
  std::vector<double> weights;
  for (uint32_t i = 0; i < points; ++i) {
    PutWord(file, i);
    PutWord(file, weightsPerPoint);
    chosen.clear();
    while (chosen.size() < weightsPerPoint) {
      const uint32_t k = pick(random);
      if (std::find(chosen.begin(), chosen.end(), k) == chosen.end()) chosen.push_back(k);
    }
    std::sort(chosen.begin(), chosen.end());
    // Jittered shares scaled to add up to 1, as a bind's do (a file whose
    // rows do not is refused as damaged).
    weights.clear();
    double sum = 0.0;
    for (size_t j = 0; j < chosen.size(); ++j) {
      weights.push_back(1.0 / static_cast<double>(weightsPerPoint) + static_cast<double>(jitter()));
      sum += weights.back();
    }
    for (size_t j = 0; j < chosen.size(); ++j) {
      const uint32_t k = chosen[j];
      const float w = static_cast<float>(weights[j] / sum);
      uint32_t bits;
      std::memcpy(&bits, &w, 4);
      PutWord(file, k);
      PutWord(file, bits);
      add(i, k, w);
    }
  }
  if (std::fclose(file) != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace bench_support
