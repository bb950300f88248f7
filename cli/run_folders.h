// The folders a run writes into, readied before any work: the inputs that an
// output would write over refused, the folders made where missing and proven
// writable, each locked for this run, and what a killed run left in them
// put right.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/folder_lock.h"
#include "cli/frame_outputs.h"
#include "cli/input_clash.h"
#include "cli/job.h"
#include "cli/output_files.h"

namespace cli {

// Every file the run may put in place, with the option that names it
// ("--preview p.png", "-o out (out/weights.cw)").
std::vector<RunFile> PlannedOutputs(const Job& job, const FrameOutputs& frames);
std::vector<std::filesystem::path> Paths(const std::vector<RunFile>& files);

// Every file the run reads that the user named: the meshes, the posed cages
// (every frame), the scene, the weights file, the weight maps, the module.
std::vector<RunFile> NamedInputs(const Job& job, const CageAnimation& cages);

class RunFolders {
 public:
  // Makes, locks and cleans each folder of outputs. told receives one line
  // for each thing a killed run had left and this one put right, and the
  // line that says this run waits for another.
  RunFolders(const Job& job, const std::vector<RunFile>& outputs, const std::function<void(const std::string&)>& told);
  // Unlocks, then removes the folders made (when empty), innermost first.
  ~RunFolders();
  RunFolders(const RunFolders&) = delete;
  RunFolders& operator=(const RunFolders&) = delete;

  // The folders made for this run, outermost first.
  std::vector<std::filesystem::path> made() const;

 private:
  std::vector<std::unique_ptr<WritableFolder>> folders_;
  std::vector<std::unique_ptr<FolderLock>> locks_;
};

}  // namespace cli
