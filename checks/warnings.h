// The warnings of a bind or a read of weights: what the checks around it
// found that the user should know, each one line. The front ends tell them
// their own way: the command prints them after the summary, the Python
// module raises a Python warning for each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace checks {

// Point numbers as the user counts them in the OBJ file (the n-th "v" line,
// from 1), the first few of them: "3, 8, 11, 12, 40, ...".
std::string PointNumbers(const std::vector<uint32_t>& indices, size_t shown = 5);

// A count and the thing counted, "1 point" or "17 points".
std::string Counted(size_t count, const std::string& one, const std::string& many);

class Warnings {
 public:
  void add(std::string line) { lines_.push_back(std::move(line)); }
  void add(const std::vector<std::string>& lines) { lines_.insert(lines_.end(), lines.begin(), lines.end()); }
  bool empty() const { return lines_.empty(); }
  size_t size() const { return lines_.size(); }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

}  // namespace checks
