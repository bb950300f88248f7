// Inputs are never written over: every output of a run is compared with
// every input by file identity (device and inode), so that another name for
// the same file (a link, "a/../b", a symbolic link) is caught too.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace cli {

struct RunFile {
  std::string role;  // how the user named it: "--preview b/weights.cw", "the scene's weights"
  std::filesystem::path path;
};

// Throws ArgumentError (bad usage) for the first output that is one of the
// inputs: "--preview b/weights.cw is an input of this run: the scene's
// weights". Outputs that are not there yet cannot be an input.
void CheckOutputsAreNoInputs(const std::vector<RunFile>& outputs, const std::vector<RunFile>& inputs);

}  // namespace cli
