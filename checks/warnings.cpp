#include "checks/warnings.h"

namespace checks {

std::string PointNumbers(const std::vector<uint32_t>& indices, size_t shown) {
  std::string text;
  for (size_t i = 0; i < indices.size() && i < shown; ++i)
    text += (i ? ", " : "") + std::to_string(static_cast<uint64_t>(indices[i]) + 1);
  if (indices.size() > shown) text += ", ...";
  return text;
}

std::string Counted(size_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace checks
