#include "cli/run_folders.h"

#include <algorithm>
#include <set>

#include "cli/leftovers.h"
#include "driver/user_error.h"

namespace cli {

namespace fs = std::filesystem;

std::vector<RunFile> PlannedOutputs(const Job& job, const FrameOutputs& frames) {
  std::vector<RunFile> outputs;
  const fs::path folder = job.output;
  auto inFolder = [&](const fs::path& path) { return "-o " + job.output + " (" + path.string() + ")"; };
  if (job.bind)
    for (const char* name : {kWeightsName, kSceneName}) outputs.push_back({inFolder(folder / name), folder / name});
  for (const fs::path& path : frames.objFiles)
    outputs.push_back({frames.objPattern.empty() ? inFolder(path) : "--out-pattern " + job.outPattern + " (" +
                                                                         path.string() + ")",
                       path});
  for (const FrameCache& cache : frames.caches) outputs.push_back({"--cache " + cache.path.string(), cache.path});
  if (!job.preview.empty()) outputs.push_back({"--preview " + job.preview, job.preview});
  return outputs;
}

std::vector<fs::path> Paths(const std::vector<RunFile>& files) {
  std::vector<fs::path> paths;
  for (const RunFile& file : files) paths.push_back(file.path);
  return paths;
}

std::vector<RunFile> NamedInputs(const Job& job, const CageAnimation& cages) {
  std::vector<RunFile> inputs;
  auto add = [&](const std::string& role, const std::string& path) {
    if (!path.empty()) inputs.push_back({role, path});
  };
  add("the cage (--cage)", job.cage);
  add("the target (--target)", job.target);
  add("the scene (--scene)", job.sceneFile);
  add("the weights file (--weights)", job.weightsFile);
  add("the setup weight map (--setup-weights)", job.setupWeights);
  add("the blend weight map (--blend-weights)", job.blendWeights);
  add("the module file", job.module);
  std::set<std::string> listed;
  for (const CageAnimation::Frame& frame : cages.frames())
    if (listed.insert(frame.path).second) add(cages.namedFrames() ? "a posed cage" : "the posed cage cache", frame.path);
  return inputs;
}

RunFolders::RunFolders(const Job& job, const std::vector<RunFile>& outputs,
                       const std::function<void(const std::string&)>& told) {
  // The output folder first (it may be made), then each other folder a file
  // goes into, each once.
  struct Wanted {
    fs::path folder, key;
    std::string role;
  };
  std::vector<Wanted> wanted;
  std::set<fs::path> seen;
  auto want = [&](const fs::path& folder, const std::string& role) {
    std::error_code error;
    const fs::path key = fs::weakly_canonical(fs::absolute(folder, error), error);
    if (seen.insert(key).second) wanted.push_back({folder, key, role});
  };
  auto folderOf = [](const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); };
  want(job.output, "the output folder");
  for (const RunFile& output : outputs) {
    const std::string& role = output.role;
    want(folderOf(output.path), role.rfind("--preview", 0) == 0 ? "the preview's folder"
                                : role.rfind("--cache", 0) == 0 ? "the cache's folder"
                                                                : "the frames' folder");
  }
  for (const Wanted& w : wanted) folders_.push_back(std::make_unique<WritableFolder>(w.folder, w.role));
  // Locked in one order by every run, so that two runs never wait for each other.
  std::sort(wanted.begin(), wanted.end(), [](const Wanted& a, const Wanted& b) { return a.key < b.key; });
  for (const Wanted& w : wanted) {
    // Another run may remove a folder it made while this one waits for its
    // lock: then it is made anew.
    for (int attempt = 0;; ++attempt) {
      try {
        locks_.push_back(std::make_unique<FolderLock>(w.folder, !job.noWait, [&](long holder) {
          told("waiting for another ostrand run" + (holder > 0 ? " (process " + std::to_string(holder) + ")" : "") +
               " to finish writing into " + w.folder.string() + " (--no-wait gives up instead)");
        }));
        break;
      } catch (const FolderLock::FolderGone&) {
        if (attempt == 10)
          throw driver::UserError(driver::ErrorKind::kRefused, w.folder.string(),
                                  "keeps vanishing while this run waits for it");
        folders_.push_back(std::make_unique<WritableFolder>(w.folder, w.role));
      }
    }
  }
  for (const Wanted& w : wanted)
    for (const std::string& line : RecoverLeftovers(w.folder)) told(line);
}

RunFolders::~RunFolders() {
  locks_.clear();
  while (!folders_.empty()) folders_.pop_back();
}

std::vector<fs::path> RunFolders::made() const {
  std::vector<fs::path> all;
  for (const auto& folder : folders_) all.insert(all.end(), folder->made().begin(), folder->made().end());
  return all;
}

}  // namespace cli
