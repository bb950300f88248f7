#include "driver/weights_check.h"
#include "ostrand/settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <utility>

namespace driver {
namespace {

// The module never gives a negative weight (its polygon weights are built on
// unsigned angles) and scales each point's weights to add up to 1, except
// when the shares of its rays add up to no more than this (every ray met the
// cage very far off: cages of about 3e7 across and more), which it keeps as
// they are. Measured after a weights file's single precision: sums within
// 5e-8 of 1 on the example, on points outside the cage, on concave cages and
// with weight floors, and below 1e-6 on such large cages.
constexpr double kUnscaledSum = 1e-6;
// How far a sum may stray from those: far above single precision's rounding,
// far below what a damaged weight does. It is a share of the weights'
// magnitudes, so that rows whose weights of either sign cancel (another
// program's) are allowed their own rounding.
constexpr double kSumSlack = 1e-4;

bool SumIsSound(double sum, double magnitudes) {
  const double slack = kSumSlack * magnitudes;
  return std::fabs(sum - 1.0) <= kSumSlack * std::max(1.0, magnitudes) ||
         (sum >= -slack && sum <= kUnscaledSum + slack);
}

std::string Counted(size_t count) { return std::to_string(count) + (count == 1 ? " point holds" : " points hold"); }

std::string ShortNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

// Keeps the first few of points (ascending) and, when given, their values.
void KeepFirst(std::vector<std::pair<uint32_t, double>> found, std::vector<uint32_t>& points,
               std::vector<double>* values) {
  std::sort(found.begin(), found.end());
  found.resize(std::min(found.size(), kDamageExamples));
  for (const auto& [point, value] : found) {
    points.push_back(point);
    if (values) values->push_back(value);
  }
}

// 32-bit big-endian words from the start of a file; fewer when it is shorter.
std::vector<uint32_t> LeadingWords(const std::string& path, size_t count) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint32_t> words;
  unsigned char bytes[4];
  while (words.size() < count && in.read(reinterpret_cast<char*>(bytes), 4))
    words.push_back(uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3]);
  return words;
}

}  // namespace

WeightsDamage FindWeightsDamage(const EffectInstance& instance, size_t targetPoints) {
  WeightsDamage damage;
  if (instance.Mode != ostrand::kModeWeights || instance.Targets == nullptr || instance.Targets->count < 1)
    return damage;
  const TargetEntry& target = instance.Targets->records[0];
  if (target.WeightCounts == nullptr || target.WeightOffsets == nullptr || target.PointIndices == nullptr ||
      target.Weights == nullptr)
    return damage;
  std::vector<std::pair<uint32_t, double>> notFinite, badSums;
  for (uint32_t i = 0; i < target.ActiveCount; ++i) {
    const uint32_t point = target.PointIndices[i];
    const int32_t n = target.WeightCounts[i];
    if (point >= targetPoints || n <= 0) continue;  // points without weights are told of elsewhere
    const int32_t begin = target.WeightOffsets[i];
    double sum = 0.0, magnitudes = 0.0;
    bool finite = true;
    for (int32_t k = begin; k < begin + n; ++k) {
      const double w = target.Weights[k];
      finite = finite && std::isfinite(w);
      sum += w;
      magnitudes += std::fabs(w);
    }
    if (!finite)
      notFinite.emplace_back(point, 0.0);
    else if (!SumIsSound(sum, magnitudes))
      badSums.emplace_back(point, sum);
  }
  damage.notFinite = notFinite.size();
  damage.badSum = badSums.size();
  KeepFirst(std::move(notFinite), damage.firstNotFinite, nullptr);
  KeepFirst(std::move(badSums), damage.firstBadSum, &damage.firstSums);
  return damage;
}

std::string DescribeWeightsDamage(const WeightsDamage& damage, size_t firstNumber, const std::string& numbersWord) {
  const auto list = [&](const std::vector<uint32_t>& points, size_t count, const std::vector<double>* sums) {
    std::string text = numbersWord.empty() ? "" : numbersWord + (count == 1 ? " " : "s ");
    for (size_t i = 0; i < points.size(); ++i) {
      text += (i ? ", " : "") + std::to_string(points[i] + firstNumber);
      if (sums) text += " (sum " + ShortNumber((*sums)[i]) + ")";
    }
    return count > points.size() ? text + ", ..." : text;
  };
  std::string text;
  if (damage.notFinite > 0)
    text = Counted(damage.notFinite) + " weights that are not finite numbers: " +
           list(damage.firstNotFinite, damage.notFinite, nullptr);
  if (damage.badSum > 0)
    text += (text.empty() ? "" : "; ") + Counted(damage.badSum) +
            " weights that do not add up to 1: " + list(damage.firstBadSum, damage.badSum, &damage.firstSums);
  return text;
}

std::string SetupMapHint(const std::string& path, size_t cagePoints, size_t cagePolygons, size_t targetPoints) {
  // Marker, Mode, CagePoints, CagePolys, target count; then the first
  // target's PointCount, ActiveCount, WeightCount.
  const std::vector<uint32_t> words = LeadingWords(path, 8);
  if (words.size() < 8 || words[0] != 1 || words[1] != 0 || words[2] != cagePoints || words[3] != cagePolygons ||
      words[4] != 1 || words[5] != targetPoints)
    return "";
  const uint32_t active = words[6];
  if (active == 0 || active >= targetPoints) return "";
  return "it holds weights for " + std::to_string(active) + " of the target's " + std::to_string(targetPoints) +
         " points, so it was likely bound with a setup weight map";
}

}  // namespace driver
