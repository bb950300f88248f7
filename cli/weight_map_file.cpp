#include "cli/weight_map_file.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "driver/mesh_file.h"
#include "driver/user_error.h"

namespace cli {
namespace {

std::string Trimmed(const std::string& line) {
  const char* blank = " \t\r";
  const size_t first = line.find_first_not_of(blank);
  if (first == std::string::npos) return "";
  return line.substr(first, line.find_last_not_of(blank) - first + 1);
}

}  // namespace

std::vector<float> ReadWeightMapFile(const std::string& path, size_t pointCount) {
  std::istringstream in(driver::ReadTextFile(path));
  std::vector<float> values;
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    const std::string text = Trimmed(line);
    if (text.empty() || text[0] == '#') continue;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str())
      throw driver::UserError(driver::ErrorKind::kInput, path, number, driver::QuotedValue(text) + " is not a number");
    if (*end != '\0')
      throw driver::UserError(driver::ErrorKind::kInput, path, number,
                              "one value per line, found " + driver::QuotedValue(text));
    const float single = static_cast<float>(value);
    if (!std::isfinite(value) || !std::isfinite(single))
      throw driver::UserError(driver::ErrorKind::kInput, path, number,
                              driver::QuotedValue(text) + " is not a finite number single precision can hold");
    values.push_back(single);
  }
  if (values.size() != pointCount)
    throw driver::UserError(driver::ErrorKind::kInput, path,
                            "holds " + std::to_string(values.size()) + " values, but the target has " +
                                std::to_string(pointCount) + " points (one value per line, one line per point)");
  return values;
}

}  // namespace cli
