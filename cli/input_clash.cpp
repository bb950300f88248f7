#include "cli/input_clash.h"

#include <sys/stat.h>

#include <map>
#include <utility>

#include "cli/argument_errors.h"

namespace cli {

void CheckOutputsAreNoInputs(const std::vector<RunFile>& outputs, const std::vector<RunFile>& inputs) {
  std::map<std::pair<dev_t, ino_t>, const RunFile*> identities;
  for (const RunFile& input : inputs) {
    struct stat status {};
    if (::stat(input.path.c_str(), &status) == 0) identities.emplace(std::make_pair(status.st_dev, status.st_ino), &input);
  }
  for (const RunFile& output : outputs) {
    struct stat status {};
    if (::stat(output.path.c_str(), &status) != 0) continue;
    auto found = identities.find({status.st_dev, status.st_ino});
    if (found == identities.end()) continue;
    const RunFile& input = *found->second;
    const bool sameName = input.path.lexically_normal() == output.path.lexically_normal();
    throw ArgumentError(output.role + " is an input of this run",
                        input.role + (sameName ? "" : " (" + input.path.string() + ")") +
                            "; the run would write over it: choose another output name");
  }
}

}  // namespace cli
