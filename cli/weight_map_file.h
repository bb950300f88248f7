// Weight map files: plain text, one value per line, line k (counting only the
// value lines) for the k-th point of the target, in the order of its "v"
// lines. Blank lines and lines starting with '#' are skipped. Every value is a
// finite decimal number that single precision can hold ("0", "0.25", "1e-3").
//
// As a setup weight map, the points with value 0 stay unbound. As a blend
// weight map, the deformed point is rest * (1 - w) + deformed * w.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Reads the file and checks that it holds exactly pointCount values. Throws
// UserError naming the file and the line.
std::vector<float> ReadWeightMapFile(const std::string& path, size_t pointCount);

}  // namespace cli
