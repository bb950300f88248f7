#include "cli/job.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <future>
#include <map>
#include <optional>

#include "checks/bind_checks.h"
#include "checks/cage_check.h"
#include "checks/pose_check.h"
#include "checks/warnings.h"
#include "cli/argument_errors.h"
#include "cli/cage_animation.h"
#include "cli/frame_loop.h"
#include "cli/frame_outputs.h"
#include "cli/materials.h"
#include "cli/output_files.h"
#include "cli/progress_bar.h"
#include "cli/run_folders.h"
#include "cli/summary.h"
#include "cli/weight_map_file.h"
#include "driver/mesh_file.h"
#include "driver/session.h"
#include "driver/user_error.h"
#include "driver/weights_check.h"

namespace cli {

namespace fs = std::filesystem;
using checks::CageCheck;
using checks::CheckCage;
using checks::CleanCageLine;
using checks::Counted;
using checks::Warnings;

namespace {

// The inputs that need no module: the meshes, and the posed cages listed
// (not yet read) with the names of what each frame gives; read and checked
// before anything else happens. The target's file is kept whole: each
// deformed target is a copy of it with new coordinates.
struct Inputs {
  host::ObjFile cage, target;
  CageAnimation cages;
  FrameOutputs frameOutputs;
};

// "reading target.obj (12.3 MB)", for a file large enough to take a while.
void ShowReading(ProgressBar& bar, const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (!error && size >= (1u << 20)) bar.show(0, "reading " + path + " (" + ShownBytes(static_cast<double>(size)) + ")");
}

Inputs ReadInputs(const Job& job, ProgressBar& bar) {
  Inputs in;
  // Files the module reads itself are checked here too, for a clear message.
  if (!job.sceneFile.empty()) driver::CheckReadableFile(job.sceneFile);
  if (!job.weightsFile.empty()) driver::CheckReadableFile(job.weightsFile);
  if (job.sceneFile.empty()) {
    ShowReading(bar, job.cage);
    in.cage = driver::ReadMeshFile(job.cage);
    if (!job.target.empty()) {
      ShowReading(bar, job.target);
      in.target = driver::ReadMeshFile(job.target);
    }
  }
  in.cages = CageAnimation(job.poses, job.frames, job.framesText, job.allowGaps);
  in.cages.convert(checks::FindAxisConversion(job.poseAxis));
  in.frameOutputs = PlanFrameOutputs(job, in.cages);
  if (!job.preview.empty() && !job.previewErrors &&
      (job.previewPose < 1 || static_cast<size_t>(job.previewPose) > in.cages.size()))
    throw driver::UserError(driver::ErrorKind::kInput, "--preview-pose " + std::to_string(job.previewPose),
                            "there are " + std::to_string(in.cages.size()) + " frames");
  return in;
}

uint32_t AddWeightMap(driver::Session& session, const std::string& path, const std::string& name, bool mustPick) {
  if (path.empty()) return 0;
  std::vector<float> values = ReadWeightMapFile(path, session.targetRest().points.size());
  if (mustPick) checks::CheckSetupWeights(values, path);
  return session.addWeightMap(name, std::move(values));
}

// Loads the scene; when its weights file is not where the scene says (the
// folder was moved), tries the same name beside the scene file.
void LoadScene(driver::Session& session, const std::string& path) {
  session.loadScene(path);
  if (session.holdsWeights()) return;
  const std::string stored = session.storedWeightsFile();
  const fs::path beside = fs::path(path).parent_path() / stored;
  std::error_code error;
  if (!stored.empty() && fs::path(stored).is_relative() && fs::is_regular_file(beside, error)) {
    try {
      session.loadWeights(beside.string());
      return;
    } catch (const driver::UserError&) {
      // reported below, for the scene
    }
  }
  throw driver::UserError(driver::ErrorKind::kInput, path,
                          "the weights file " + (stored.empty() ? std::string("it names") : "\"" + stored + "\"") +
                              " is missing or was not made for the scene's cage and target");
}

// Saves the weights, puts the file in place, and reads it back, so that the
// deformation uses what the file holds (single-precision weights) exactly as
// a later run from the file will, and the scene names the file by its final
// name. A later failure of the run takes the file out again.
std::string SaveWeights(driver::Session& session, const fs::path& folder, OutputTransaction& outputs,
                        ProgressBar& bar) {
  const fs::path file = folder / kWeightsName;
  bar.show(100, "writing " + file.string() + " (" +
                    ShownBytes(static_cast<double>(driver::WeightsFileSize(session.instance()))) + ")");
  outputs.write(file, [&](const std::string& temporary) { session.saveWeights(temporary); });
  std::error_code error;
  session.loadWeights(fs::absolute(file, error).string());
  return file.string();
}

// A path as the summary shows it: below the working folder, relative to it.
std::string Shown(const std::string& path) {
  std::error_code error;
  const fs::path here = fs::current_path(error);
  if (error || fs::path(path).is_relative()) return path;
  const fs::path relative = fs::path(path).lexically_relative(here);
  return relative.empty() || *relative.begin() == ".." ? path : relative.string();
}

std::string Describe(const std::string& file, const std::string& object, const Job& job) {
  return job.sceneFile.empty() ? Shown(file) : job.sceneFile + ", object \"" + object + "\"";
}

// The OBJ files a scene names as its objects' sources ("source": "..."),
// found by a plain search of its text: a guess, checked against the loaded
// scene before it is used, that lets the files be read while the scene loads.
std::vector<std::string> SourcesNamedIn(const std::string& scenePath) {
  std::vector<std::string> found;
  std::string text;
  try {
    text = driver::ReadTextFile(scenePath);
  } catch (const driver::UserError&) {
    return found;  // the scene's own load says what is wrong
  }
  const std::string key = "\"source\":";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    const size_t open = text.find('"', at + key.size());
    const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    if (close == std::string::npos) break;
    const std::string path = text.substr(open + 1, close - open - 1);
    if (path.find('\\') == std::string::npos) found.push_back(path);  // escaped: left to the check
  }
  return found;
}

// Reads the OBJ files, keeping those that read cleanly.
std::vector<host::ObjFile> ReadSources(const std::vector<std::string>& paths) {
  std::vector<host::ObjFile> files;
  for (const std::string& path : paths) {
    try {
      files.push_back(host::ReadObjFile(path));
    } catch (const std::exception&) {
      // a file gone or changed is simply not used
    }
  }
  return files;
}

// The OBJ file the scene's target was read from, when it is still there and
// holds the target's points and faces: each deformed target is then a copy of
// it. Otherwise none (each deformed target holds points and faces only).
host::ObjFile TargetFileOfScene(const driver::Session& session, std::vector<host::ObjFile> read) {
  const std::string source = session.targetSource();
  if (source.empty()) return {};
  auto it = std::find_if(read.begin(), read.end(), [&](const host::ObjFile& file) { return file.path == source; });
  if (it == read.end()) {
    read = ReadSources({source});
    it = read.begin();
  }
  const host::Mesh& rest = session.targetRest();
  if (it == read.end() || it->mesh.polygons != rest.polygons || it->mesh.points.size() != rest.points.size())
    return {};
  return std::move(*it);
}

}  // namespace

std::string DeformedName(const std::string& posePath) {
  return "deformed-" + fs::path(posePath).stem().string() + ".obj";
}

namespace {

// Binds in this run, or reads the weights made earlier; notes which in the
// summary. Returns how many points without weights the bind keeps in place.
void BringWeights(driver::Session& session, const Job& job, uint32_t setupMap, const std::function<std::string()>& likelyCause,
                  ProgressBar& bar, Summary& summary, Warnings& warnings) {
  if (job.bind) {
    const auto start = std::chrono::steady_clock::now();
    summary.keptAtRest =
        checks::BindChecked(session, {job.samples, job.weightFloor, job.allowUnbound, job.warnRestError, job.target},
                            setupMap, likelyCause, warnings)
            .size();
    summary.bindSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    summary.samples = job.samples;
    summary.weightFloor = job.weightFloor;
    bar.finish();
  } else if (!job.weightsFile.empty()) {
    session.restoreWeights(job.weightsFile, setupMap);
    summary.weightsFrom = job.weightsFile;
  } else {
    summary.weightsFrom = job.sceneFile;  // read while loading it
  }
}

}  // namespace

namespace {

int CheckThreads(const Job& job) { return job.threads ? *job.threads : 0; }

// Numbered frames skipped as missing (--allow-gaps) are named; a PC2 cache,
// whose samples are evenly spaced, cannot keep their places.
void WarnSkippedFrames(const CageAnimation& cages, const FrameOutputs& plan, Warnings& warnings) {
  if (cages.skippedCount() == 0) return;
  std::string list;
  for (long number : cages.firstSkipped()) list += (list.empty() ? "" : ", ") + std::to_string(number);
  if (cages.skippedCount() > cages.firstSkipped().size()) list += ", ...";
  warnings.add(cages.given() + ": " + Counted(cages.skippedCount(), "missing frame", "missing frames") +
               " skipped: " + list);
  for (const FrameCache& cache : plan.caches)
    if (cache.format == host::PointCacheFormat::kPc2)
      warnings.add(cache.path.string() + ": a PC2 cache's samples are evenly spaced, so the frames after a missing "
                   "one come a sample early each (an MDD cache keeps every frame's time)");
}

// Reads every frame once to check it, and checks that the posed cages are
// the bound cage's, as read (--pose-axis applied): an animation's first
// frame, or each posed cage given one by one. The lines of those far from
// it; with --strict the first fails the run at once, before any work.
std::vector<std::string> CheckFrames(const Job& job, CageAnimation& cages, const host::Mesh& cage) {
  std::vector<std::string> lines;
  cages.check(cage, [&](size_t i, const std::vector<Vec3>& points) {
    if (i > 0 && !cages.given().empty()) return;
    const CageAnimation::Frame& frame = cages.frames()[i];
    const std::string subject =
        cages.namedFrames() ? frame.path : cages.given() + ": frame " + std::to_string(frame.number);
    std::string line = checks::CheckPose(cage.points, points, subject);
    if (line.empty()) return;
    if (job.strict) {
      Warnings warning;
      warning.add(std::move(line));
      PrintWarnings(warning);
      throw driver::UserError(driver::ErrorKind::kRefused, "--strict", "1 warning; nothing written");
    }
    lines.push_back(std::move(line));
  });
  return lines;
}

// The first few posed cages far from the bound cage, and how many more.
void WarnFarPoses(const std::vector<std::string>& lines, Warnings& warnings) {
  constexpr size_t kShown = 5;
  for (size_t k = 0; k < lines.size() && k < kShown; ++k) warnings.add(lines[k]);
  if (lines.size() > kShown)
    warnings.add(Counted(lines.size() - kShown, "more posed cage", "more posed cages") +
                 " far from the bound cage as well");
}

// The cage check of `ostrand check`: its findings (or that there are none)
// on stdout.
void RunCheck(const Job& job, const Inputs& in) {
  const CageCheck check = CheckCage(in.cage.mesh, job.target.empty() ? nullptr : &in.target.mesh.points,
                                    CheckThreads(job));
  if (check.findings.empty()) std::printf("%s\n", CleanCageLine(check).c_str());
  for (const std::string& line : check.findings) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (job.strict && !check.findings.empty())
    throw driver::UserError(driver::ErrorKind::kRefused, "--strict",
                            Counted(check.findings.size(), "finding", "findings"));
}

// Weights read from a file or scene may hold values no bind gives (the file
// is damaged: an error naming it), or points without any weight, which the
// module moves to the origin with the cage: an error, or with
// --allow-unbound points written where they are at rest.
std::vector<uint32_t> CheckReadWeights(const Job& job, const driver::Session& session, const driver::BindStatistics& stats,
                                       Summary& summary, Warnings& warnings) {
  if (job.bind) return {};
  const driver::WeightsDamage damage =
      driver::FindWeightsDamage(session.instance(), session.targetRest().points.size());
  if (!damage.empty()) {
    const std::string read = session.instance().WeightsPath;
    throw driver::UserError(driver::ErrorKind::kInput,
                            job.sceneFile.empty() ? job.weightsFile : read.empty() ? job.sceneFile : Shown(read),
                            driver::DescribeWeightsDamage(damage) + "; the file is damaged");
  }
  if (stats.unbound.empty()) return {};
  const std::string subject = job.sceneFile.empty() ? job.weightsFile : job.sceneFile;
  const CageCheck check = CheckCage(session.cageRest(), &session.targetRest().points, CheckThreads(job));
  checks::CheckUnbound(stats, check.likelyCause, {.allowUnbound = job.allowUnbound, .subject = subject},
                       "they are written where they are at rest", warnings);
  summary.keptAtRest = stats.unbound.size();
  return stats.unbound;
}

// The largest distance of a point from its rest position when the cage at
// rest is deformed in the offset form, as a fraction of the cage's size.
double KeptRestError(driver::Session& session) {
  driver::Session::Frame frame;
  session.deform(session.cageRest().points, "the rest cage", frame);
  const std::vector<Vec3>& rest = session.targetRest().points;
  double largest = 0.0;
  for (size_t i = 0; i < rest.size(); ++i) {
    const double error =
        std::hypot(frame.points[i].x - rest[i].x, frame.points[i].y - rest[i].y, frame.points[i].z - rest[i].z);
    if (!(error <= largest)) largest = error;
  }
  const double size = driver::BoundingDiagonal(session.cageRest().points);
  return size > 0.0 ? largest / size : largest;
}

}  // namespace

namespace {

// Whether path, links followed, is folder or lies below it.
bool LiesWithin(const fs::path& path, const fs::path& folder) {
  std::error_code error;
  const fs::path inner = fs::weakly_canonical(fs::absolute(path, error), error);
  const fs::path outer = fs::weakly_canonical(fs::absolute(folder, error), error);
  const fs::path relative = inner.lexically_relative(outer);
  return !relative.empty() && *relative.begin() != "..";
}

// The weights file the module read while loading the scene: never an output
// of the run. A scene written before scenes kept their base folder relative
// names its weights from the folder it was written in: when that file lies
// outside the scene's folder (the folder was copied or moved), note says so.
std::string WeightsReadWithScene(const driver::Session& session, const std::string& scene,
                                 const std::vector<RunFile>& planned, std::string& note) {
  // The target's file is read for each deformed copy of it.
  const std::string source = session.targetSource();
  if (!source.empty()) CheckOutputsAreNoInputs(planned, {{"the target the scene was bound from", Shown(source)}});
  const std::string read = session.instance().WeightsPath;
  if (read.empty()) return read;
  CheckOutputsAreNoInputs(planned, {{"the scene's weights", Shown(read)}});
  std::error_code error;
  const fs::path sceneFolder = fs::weakly_canonical(fs::absolute(scene, error).parent_path(), error);
  const fs::path relative = fs::weakly_canonical(read, error).lexically_relative(sceneFolder);
  if (relative.empty() || *relative.begin() == "..")
    note = scene + ": its weights were read from " + Shown(read) +
           ", outside the scene's folder (a scene written with an absolute base folder that was copied or moved "
           "reads the weights of the folder it was written in; bind again to write a scene that names its own)";
  return read;
}

// The folder the deformed OBJ files go into ("" for none): one for all of them.
fs::path ObjFolder(const FrameOutputs& plan) {
  return plan.objFiles.empty() ? fs::path() : plan.objFiles.front().parent_path();
}

// What --copy-materials copies, by the OBJ file whose materials they are: the
// target's; for a scene, those of every OBJ file it names (which of them is
// its target is known once it is loaded).
std::map<std::string, MaterialCopies> PlanMaterials(const Job& job, const Inputs& in, std::vector<RunFile>& planned) {
  std::map<std::string, MaterialCopies> plans;
  const fs::path folder = ObjFolder(in.frameOutputs);
  if (!job.copyMaterials || folder.empty()) return plans;
  std::vector<host::ObjFile> files;
  if (job.sceneFile.empty())
    files.push_back(in.target);
  else
    files = ReadSources(SourcesNamedIn(job.sceneFile));
  for (const host::ObjFile& file : files) {
    MaterialCopies copies = PlanMaterialCopies(file.text, file.path, folder);
    for (const MaterialCopy& copy : copies.files)
      planned.push_back({"--copy-materials (" + copy.destination.string() + ")", copy.destination});
    plans.emplace(file.path, std::move(copies));
  }
  return plans;
}

// The deformed OBJ files' material libraries: the copies beside them, or the
// target's own, named from where the files are.
void LinkMaterials(host::ObjFile& target, const FrameOutputs& plan, const MaterialCopies* copies) {
  const fs::path folder = ObjFolder(plan);
  if (folder.empty() || target.text.empty()) return;
  std::string text =
      copies ? copies->objText : RelinkMaterials(target.text, fs::path(target.path).parent_path(), folder);
  if (text != target.text) target = host::ParseObj(std::move(text), target.path);
}

// Copies the material files through the run's outputs.
void CopyMaterials(const MaterialCopies& copies, OutputTransaction& outputs, ProgressBar& bar, Summary& summary) {
  for (const MaterialCopy& copy : copies.files) {
    bar.show(100, "copying " + copy.source.string());
    outputs.write(copy.destination, [&copy](const std::string& temporary) {
      if (copy.rewritten) return driver::WriteTextFile(temporary, copy.text);
      std::error_code error;
      fs::copy_file(copy.source, temporary, fs::copy_options::overwrite_existing, error);
      if (error)
        throw driver::UserError(driver::ErrorKind::kOutput, copy.source.string(),
                                "cannot be copied: " + error.message());
    });
    summary.written.push_back(copy.destination.string());
  }
}

// What a run will write, planned and checked before any work starts.
struct PlannedRun {
  std::vector<RunFile> files;
  std::map<std::string, MaterialCopies> materials;  // by the OBJ file whose libraries they copy
  std::vector<fs::path> paths;
};

PlannedRun PlanRun(const Job& job, const Inputs& in) {
  PlannedRun plan;
  plan.files = PlannedOutputs(job, in.frameOutputs);
  plan.materials = PlanMaterials(job, in, plan.files);
  plan.paths = Paths(plan.files);
  CheckOutputsAreNoInputs(plan.files, NamedInputs(job, in.cages));
  CheckOutputFiles(plan.paths);
  const FrameOutputs& frames = in.frameOutputs;
  if (!frames.objPattern.empty() && !frames.objFiles.empty() &&
      !LiesWithin(frames.objFiles.front().parent_path(), job.output))
    throw ArgumentError("--out-pattern", driver::QuotedValue(job.outPattern) +
                                             " leads out of the output folder through a link; give a name inside -o");
  return plan;
}

// The meshes into the session: the scene's (and the weights file its load
// read, *sceneWeights, with a warning about it, *sceneNote), or the cage and
// target the user named.
void LoadMeshes(driver::Session& session, const Job& job, const PlannedRun& plan, Inputs& in,
                std::string* sceneWeights, std::string* sceneNote) {
  std::error_code error;
  session.setBaseDirectory(fs::absolute(job.output, error).string());
  if (!job.sceneFile.empty()) {
    // The scene's meshes come from the scene; the target's OBJ file, which each
    // deformed target copies, is read beside it on a thread of its own.
    auto sources = std::async(std::launch::async, [&job] { return ReadSources(SourcesNamedIn(job.sceneFile)); });
    LoadScene(session, job.sceneFile);
    *sceneWeights = WeightsReadWithScene(session, job.sceneFile, plan.files, *sceneNote);
    in.target = TargetFileOfScene(session, sources.get());
    return;
  }
  session.addObjects(in.cage.mesh, fs::path(job.cage).stem().string(), in.target.mesh,
                     fs::path(job.target).stem().string());
  session.setTargetSource(fs::absolute(job.target, error).string());
}

Summary StartSummary(const Job& job, driver::Session& session) {
  Summary summary;
  summary.target = Describe(job.target, session.targetName(), job);
  summary.cage = Describe(job.cage, session.cageName(), job);
  summary.targetPolygons = session.targetRest().polygons.size();
  summary.cagePoints = session.cageRest().points.size();
  summary.cagePolygons = session.cageRest().polygons.size();
  summary.threads = session.threads();
  return summary;
}

// The cage check, once: a bind runs it first; otherwise it runs only when
// something asks for it (the likely cause of unbound points, the error
// picture).
class LazyCageCheck {
 public:
  LazyCageCheck(const Job& job, driver::Session& session) : job_(job), session_(session) {}
  const CageCheck& get() {
    if (!check_) check_ = CheckCage(session_.cageRest(), &session_.targetRest().points, CheckThreads(job_));
    return *check_;
  }

 private:
  const Job& job_;
  driver::Session& session_;
  std::optional<CageCheck> check_;
};

// The picture of the run, through the run's outputs.
void WriteRunPreview(const Job& job, driver::Session& session, const Summary& summary, const ShownFrame& shown,
                     LazyCageCheck& check, OutputTransaction& outputs, ProgressBar& bar) {
  bar.show(100, "writing " + job.preview);
  outputs.write(job.preview, [&](const std::string& temporary) {
    if (job.previewErrors) {
      WriteErrorPreview(temporary, job.previewSize, session.targetRest(), session.cageRest(),
                        {summary.binding.pointErrors, check.get().outside, job.warnRestError});
      return;
    }
    WritePreview(temporary, job.previewSize, session.targetRest(), session.cageRest(), shown.target, shown.cage,
                 "posed: " + shown.label);
  });
}

}  // namespace

void RunJob(const Job& job) {
  // Everything the user named is read and checked, and every output folder
  // proven writable, before any work starts; a folder made here that nothing
  // was written into goes again when the run fails.
  // Progress on stdout, where `check` prints what it finds: none for it.
  ProgressBar bar(stdout, job.quiet || job.checkOnly);
  Inputs in = ReadInputs(job, bar);
  if (job.checkOnly) return RunCheck(job, in);
  const fs::path folder = job.output;
  const FrameOutputs& frameOutputs = in.frameOutputs;
  const PlannedRun plan = PlanRun(job, in);
  const RunFolders folders(job, plan.files, [](const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "ostrand: %s\n", line.c_str());
  });

  // A count for this run alone never reaches the settings of the module the
  // user installed: the run loads a private copy.
  driver::Session session(
      job.module, [&bar](const host::Progress& report) { bar.show(report.percent, report.text); },
      job.threads.has_value() && !job.saveThreads);
  std::string sceneWeights, sceneNote;  // the weights file the scene's load read; a warning about it
  LoadMeshes(session, job, plan, in, &sceneWeights, &sceneNote);
  const auto copies = plan.materials.find(in.target.path);
  const MaterialCopies* materialCopies = copies == plan.materials.end() ? nullptr : &copies->second;
  LinkMaterials(in.target, frameOutputs, materialCopies);
  const uint32_t setupMap = AddWeightMap(session, job.setupWeights, "setup", true);
  const uint32_t blendMap = AddWeightMap(session, job.blendWeights, "blend", false);
  if (in.cages.size() >= 100) bar.show(0, "checking " + Counted(in.cages.size(), "posed cage", "posed cages"));
  const std::vector<std::string> farPoses = CheckFrames(job, in.cages, session.cageRest());
  if (job.threads) session.setThreads(*job.threads, job.saveThreads);
  Summary summary = StartSummary(job, session);

  // A bind checks the cage first: what it finds is warned of, and names the
  // likely cause when points get no weights.
  Warnings warnings;
  if (!sceneNote.empty()) warnings.add(sceneNote);
  WarnSkippedFrames(in.cages, frameOutputs, warnings);
  WarnFarPoses(farPoses, warnings);
  if (materialCopies) warnings.add(materialCopies->warnings);
  LazyCageCheck check(job, session);
  if (job.bind) {
    bar.show(0, "checking the cage");
    const CageCheck& found = check.get();
    summary.cageCheck = found.findings.empty()
                            ? "clean"
                            : Counted(found.findings.size(), "finding", "findings") + ", see the warnings";
    warnings.add(found.findings);
  }
  bar.timed();
  BringWeights(session, job, setupMap, [&check] { return check.get().likelyCause; }, bar, summary, warnings);
  bar.untimed();
  if (!sceneWeights.empty()) summary.weightsFrom = Shown(sceneWeights);

  // From here on files are written; until commit, a failure takes every one
  // of them out again and puts back what they replaced.
  OutputTransaction outputs(folder, plan.paths, folders.made());
  if (job.bind) summary.written.push_back(SaveWeights(session, folder, outputs, bar));
  summary.binding =
      driver::MeasureBinding(session.instance(), session.cageRest(), session.targetRest(), job.bind ? job.weightFloor : 0.0);
  const std::vector<uint32_t> keepInPlace = CheckReadWeights(job, session, summary.binding, summary, warnings);
  checks::WarnRestErrors(summary.binding, job.warnRestError, warnings);
  if (blendMap != 0) session.setBlend(blendMap);
  if (job.keepRest) {
    session.setKeepRest(true);
    summary.keptRestError = KeptRestError(session);
  }
  ShownFrame shown;
  shown.index = job.preview.empty() || job.previewErrors ? in.cages.size() : static_cast<size_t>(job.previewPose - 1);
  DeformFrames(session, in.cages, frameOutputs, {in.target, session.targetRest(), keepInPlace}, outputs, bar, summary,
               shown);
  if (materialCopies) CopyMaterials(*materialCopies, outputs, bar, summary);
  if (!job.preview.empty()) {
    WriteRunPreview(job, session, summary, shown, check, outputs, bar);
    summary.written.push_back(job.preview);
  }
  if (job.bind) {
    const fs::path scene = folder / kSceneName;
    bar.show(100, "writing " + scene.string());
    outputs.write(scene, [&](const std::string& temporary) { session.saveScene(temporary); });
    summary.written.push_back(scene.string());
  }
  if (job.strict && !warnings.empty()) {
    PrintWarnings(warnings);
    throw driver::UserError(driver::ErrorKind::kRefused, "--strict",
                            Counted(warnings.size(), "warning", "warnings") + "; nothing written");
  }
  bar.finish();
  outputs.commit();
  if (!job.quiet) PrintSummary(stdout, summary);
  PrintWarnings(warnings);
}

}  // namespace cli
