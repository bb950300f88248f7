// The ostrand command: binds a target mesh to a cage mesh with the module
// loaded into the host stand-in, and deforms the target with posed cages.
// This file reads the arguments; job.cpp does the work.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "checks/bind_checks.h"
#include "checks/pose_check.h"
#include "cli/argument_errors.h"
#include "cli/frame_files.h"
#include "cli/frame_outputs.h"
#include "cli/installed_files.h"
#include "cli/job.h"
#include "driver/interruption.h"
#include "driver/user_error.h"
#include "ostrand/settings.h"

namespace {

using cli::Job;

// The help's footer: every command's ends with the exit statuses; those of the
// commands that take weight map files tell their form first.
constexpr const char* kExitStatusFooter = R"(Exit status: 0 done; 1 bad input or a failure, with one line on stderr naming
the file ("ostrand: FILE:LINE: what is wrong"); 2 bad arguments, with one line
naming the option ("ostrand: --option: what is wrong").)";

constexpr const char* kWeightMapFooter = R"(Weight map files (--setup-weights, --blend-weights): plain text, one value per
line, one line per target point in the order of the target's "v" lines; blank
lines and lines starting with '#' are skipped. Setup weights: points with 0 are
not bound. Blend weights: 0 keeps the rest position, 1 follows the cage.

)";

// "1 to 128": a setting's bounds as the options' help tells them.
std::string Bounds(int least, int most) { return std::to_string(least) + " to " + std::to_string(most); }

void AddWeightMapFooter(CLI::App* command) { command->footer(std::string(kWeightMapFooter) + kExitStatusFooter); }

constexpr int kBadArguments = 2;

int BadArguments(const std::string& line) {
  std::fprintf(stderr, "ostrand: %s\n", line.c_str());
  return kBadArguments;
}

void AddOutputOptions(CLI::App* command, Job& job) {
  command->add_option("-o,--output", job.output, "folder for the files written")
      ->type_name("DIR")
      ->check(cli::NotEmpty())
      ->capture_default_str();
  command->add_flag("--no-wait", job.noWait,
                    "when another run is writing into the same folder, fail at once instead of waiting for it");
}

void AddSamplesOption(CLI::App* command, Job& job) {
  command
      ->add_option("--samples", job.samples,
                   "sample directions per point, " + Bounds(ostrand::kLeastSamples, ostrand::kMostSamples))
      ->transform(cli::WholeNumberIn(ostrand::kLeastSamples, ostrand::kMostSamples))
      ->capture_default_str();
}

void AddBindOptions(CLI::App* command, Job& job) {
  command->add_option("--cage", job.cage, "the cage mesh (OBJ)")->type_name("FILE")->required();
  command->add_option("--target", job.target, "the target mesh to bind (OBJ)")->type_name("FILE")->required();
  AddSamplesOption(command, job);
  command->add_option("--weight-floor", job.weightFloor, "weights below this are dropped, 0 to 1")
      ->transform(cli::NumberIn(ostrand::kLeastWeightFloor, ostrand::kMostWeightFloor))
      ->capture_default_str();
  command->add_option("--setup-weights", job.setupWeights, "weight map file: points with 0 are not bound")
      ->type_name("FILE");
  AddWeightMapFooter(command);
}

void AddThreadsOption(CLI::App* command, Job& job) {
  auto* threads = command->add_option("--threads", job.threads, "worker threads for this run, " + Bounds(ostrand::kLeastThreads, ostrand::kMostThreads))
                      ->transform(cli::WholeNumberIn(ostrand::kLeastThreads, ostrand::kMostThreads));
  command
      ->add_flag("--save-threads", job.saveThreads,
                 "keep --threads as the module's setting (its settings file), for later runs and the host")
      ->needs(threads);
}

void AddPreviewOptions(CLI::App* command, Job& job) {
  command->add_option("--preview", job.preview, "PNG picture: rest target and cage beside the deformed ones")
      ->type_name("FILE");
  command
      ->add_option_function<std::string>(
          "--preview-size",
          [&job](const std::string& text) {
            int width = 0, height = 0;
            char end = 0;
            if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &end) != 2 || width < 64 || height < 32 ||
                width > 8192 || height > 8192)
              throw CLI::ValidationError("--preview-size", driver::QuotedValue(text) +
                                                               " is not WIDTHxHEIGHT (64x32 to 8192x8192)");
            job.previewSize = {width, height};
          },
          "picture size as WIDTHxHEIGHT, 64x32 to 8192x8192 (default 1200x600)")
      ->type_name("WxH");
  command
      ->add_option_function<std::string>(
          "--preview-color",
          [&job](const std::string& text) {
            if (text != "shaded" && text != "error")
              throw CLI::ValidationError("--preview-color", driver::QuotedValue(text) + " is not shaded or error");
            job.previewErrors = text == "error";
          },
          "shaded: rest and deformed targets (the default); error: the rest target coloured by its rest-pose error")
      ->type_name("VIEW");
}

// What the checks around a bind may warn about, and what a warning does.
void AddWarningOptions(CLI::App* command, Job& job) {
  command->add_option("--warn-rest-error", job.warnRestError,
                      "warn of points whose rest-pose error is above this fraction of the cage's size")
      ->type_name("F")
      ->transform(cli::NumberIn(checks::kLeastWarnRestError, checks::kMostWarnRestError))
      ->capture_default_str();
  command->add_flag("--strict", job.strict, "fail (exit 1, nothing written) on any warning");
  command->add_flag("--allow-unbound", job.allowUnbound,
                    "keep points that get no weights where they are, instead of failing");
}

// The frames deformed and what each gives besides (or instead of) the
// deformed-<name>.obj files.
void AddAnimationOptions(CLI::App* command, Job& job) {
  command
      ->add_option_function<std::string>(
          "--frames",
          [&job](const std::string& text) {
            job.frames = cli::ParseFrameRange(text);
            if (!job.frames)
              throw CLI::ValidationError("--frames", driver::QuotedValue(text) +
                                                         " is not A-B[:STEP] (frames 0 to 999999999, A up to B, "
                                                         "STEP 1 or more) nor one frame A");
            job.framesText = text;
          },
          "the frames deformed, first to last, every STEP-th (default: every frame)")
      ->type_name("A-B[:STEP]");
  command->add_flag("--allow-gaps", job.allowGaps, "skip numbered frames that are missing, instead of failing");
  command
      ->add_option_function<std::string>(
          "--out-pattern",
          [&job](const std::string& text) {
            std::optional<cli::FramePattern> pattern;
            try {
              pattern = cli::FindFramePattern(text);
            } catch (const std::invalid_argument& e) {
              throw CLI::ValidationError("--out-pattern", driver::QuotedValue(text) + ": " + e.what());
            }
            if (!pattern)
              throw CLI::ValidationError("--out-pattern", driver::QuotedValue(text) +
                                                              " has no frame number; give #### or %04d in its name");
            if (!cli::StaysInside(text))
              throw CLI::ValidationError("--out-pattern", driver::QuotedValue(text) +
                                                              " leaves the output folder; give a name inside -o "
                                                              "(no absolute path, no ..)");
            job.outPattern = text;
          },
          "write each deformed frame as an OBJ file in the output folder, named by its frame number")
      ->type_name("NAME.####.obj");
  command
      ->add_option_function<std::vector<std::string>>(
          "--cache",
          [&job](const std::vector<std::string>& texts) {
            for (const std::string& text : texts) {
              if (!cli::CacheFormatOfName(text))
                throw CLI::ValidationError("--cache", driver::QuotedValue(text) + " is not named .pc2 or .mdd");
              for (const std::string& earlier : job.caches)
                if (std::filesystem::path(earlier).lexically_normal() == std::filesystem::path(text).lexically_normal())
                  throw CLI::ValidationError("--cache", driver::QuotedValue(text) + " is given twice");
              job.caches.push_back(text);
            }
          },
          "write the deformed frames as a point cache, PC2 or MDD by the name's suffix (may be given again)")
      ->type_name("FILE.pc2|.mdd")
      ->expected(1)
      ->allow_extra_args(false)  // one file each time: what follows is a posed cage
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command->add_option("--fps", job.fps, "frames per second, for cache times that no input cache gives")
      ->transform(cli::NumberIn(0.001, 100000.0))
      ->capture_default_str();
  command
      ->add_option("--start-frame", job.startFrame,
                   "the number the outputs give the first frame deformed, the later ones keeping their distance")
      ->type_name("N")
      ->transform(cli::WholeNumberIn(0, cli::kLargestFrame));
}

void AddDeformOptions(CLI::App* command, Job& job) {
  command
      ->add_option("POSE.obj", job.poses,
                   "posed cages (OBJ, the cage's point and polygon counts), in order; or one animation: numbered\n"
                   "files (cage.####.obj, cage.%04d.obj), a folder of .obj files, a quoted wildcard pattern\n"
                   "(\"frames/*/cage.obj\") or a PC2 or MDD cache of the cage")
      ->type_name("FILE")
      ->required();
  AddAnimationOptions(command, job);
  command
      ->add_option_function<std::string>(
          "--pose-axis",
          [&job](const std::string& text) {
            if (!checks::FindAxisConversion(text))
              throw CLI::ValidationError("--pose-axis", driver::QuotedValue(text) + " is not one of " +
                                                            checks::AxisConversionNames());
            job.poseAxis = text;
          },
          "turn or mirror every posed cage as it is read: x90, x-90, x180 (y, z alike: turns by the right-hand\n"
          "rule), mirror-x, mirror-y, mirror-z, y-up-to-z-up (= x90), z-up-to-y-up (= x-90)")
      ->type_name("NAME");
  command->add_option("--blend-weights", job.blendWeights, "weight map file blending the deformation")
      ->type_name("FILE");
  AddWeightMapFooter(command);
  command->add_flag("--keep-rest", job.keepRest,
                    "each point keeps its offset from the weighted rest cage: the rest pose and\n"
                    "translations come out exactly (not the module's own deformation)");
  command->add_flag("--copy-materials", job.copyMaterials,
                    "copy the target's material libraries (mtllib) and their textures beside the deformed\n"
                    "OBJ files (default: the OBJ files name the target's own from where they are)");
  command->add_option("--preview-pose", job.previewPose, "which frame the preview shows, from 1")
      ->transform(cli::WholeNumberIn(1, std::numeric_limits<int>::max()))
      ->capture_default_str();
}

// The bundled example: the detailed target in its coarse cage, three poses.
void SetExample(Job& job) {
  const std::string examples = cli::ExampleFolder(cli::ProgramFolder(), OSTRAND_SOURCE_DIR) + "/";
  job.cage = examples + "cage.obj";
  job.target = examples + "target.obj";
  job.bind = true;
  // The bend comes first: the preview shows the first pose, and a twist of a
  // round target is hard to see.
  job.poses = {examples + "cage_bend.obj", examples + "cage_twist.obj", examples + "cage_squash.obj"};
  job.preview = job.output + "/preview.png";
}

int Run(const Job& job) {
  try {
    cli::RunJob(job);
    return 0;
  } catch (const driver::UserError& e) {
    // Bad arguments found once the files were looked at exit as those the parse finds.
    if (e.kind() == driver::ErrorKind::kUsage) return BadArguments(e.subject() + ": " + e.problem());
    std::fprintf(stderr, "ostrand: %s: %s\n", e.subject().c_str(), e.problem().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ostrand: internal error: %s\n", driver::OneLine(e.what()).c_str());
  }
  return 1;
}

}  // namespace

// A signal while a progress bar is drawn: the line that says what was undone
// starts on a line of its own.
void EndProgressLine() {
  std::fflush(stdout);
  if (::isatty(STDOUT_FILENO) == 1) std::fputc('\n', stdout);
  std::fflush(stdout);
}

namespace {

// The subcommands and what tells them apart once parsed.
struct Commands {
  CLI::App* example;
  CLI::App* bind;
  CLI::App* deform;
  CLI::App* run;
  CLI::App* check;
};

CLI::App* AddBindCommand(CLI::App& app, Job& job) {
  CLI::App* bind =
      app.add_subcommand("bind", "bind a target to a cage; write the weights (" + std::string(cli::kWeightsName) +
                                     ") and the scene (" + cli::kSceneName + ")");
  AddBindOptions(bind, job);
  AddThreadsOption(bind, job);
  AddOutputOptions(bind, job);
  AddWarningOptions(bind, job);
  AddPreviewOptions(bind, job);
  // bind has no posed cage to show: its picture is the error view alone.
  bind->get_option("--preview")->description("PNG picture of the rest target coloured by its rest-pose error");
  bind->get_option("--preview-color")
      ->description("error: the rest target coloured by its rest-pose error (needed with --preview)");
  return bind;
}

CLI::App* AddDeformCommand(CLI::App& app, Job& job) {
  CLI::App* deform = app.add_subcommand("deform",
                                        "deform the target with posed cages, from a saved scene or weights;\n"
                                        "write deformed-<pose name>.obj for each, or numbered OBJ files, or a cache");
  auto* scene = deform->add_option("--scene", job.sceneFile, "scene file written by bind or run")->type_name("FILE");
  auto* weights =
      deform->add_option("--weights", job.weightsFile, "weights file (.cw) written by bind or run")->type_name("FILE");
  auto* cage = deform->add_option("--cage", job.cage, "with --weights: the rest cage mesh (OBJ)")->type_name("FILE");
  auto* target = deform->add_option("--target", job.target, "with --weights: the target mesh (OBJ)")->type_name("FILE");
  auto* setup = deform
                    ->add_option("--setup-weights", job.setupWeights,
                                 "with --weights: the setup weight map file the weights were bound with")
                    ->type_name("FILE");
  weights->needs(cage, target)->excludes(scene);
  scene->excludes(cage, target, setup);
  AddDeformOptions(deform, job);
  AddPreviewOptions(deform, job);
  AddThreadsOption(deform, job);
  AddOutputOptions(deform, job);
  AddWarningOptions(deform, job);
  return deform;
}

CLI::App* AddCheckCommand(CLI::App& app, Job& job) {
  CLI::App* check = app.add_subcommand(
      "check", "check a cage: open or non-manifold edges, orientation, degenerate faces, and with a target,\n"
               "the points outside it (bind and run check the same before binding)");
  check->add_option("--cage", job.cage, "the cage mesh (OBJ)")->type_name("FILE")->required();
  check->add_option("--target", job.target, "the target mesh (OBJ)")->type_name("FILE");
  check->add_flag("--strict", job.strict, "exit 1 when anything is found");
  check
      ->add_option("--threads", job.threads,
                   "threads for the inside test, " + Bounds(ostrand::kLeastThreads, ostrand::kMostThreads) +
                       " (default: one per core)")
      ->transform(cli::WholeNumberIn(ostrand::kLeastThreads, ostrand::kMostThreads));
  return check;
}

Commands AddCommands(CLI::App& app, Job& job) {
  Commands commands{};
  commands.example = app.add_subcommand("example", "bind and deform the bundled example (the default)");
  AddOutputOptions(commands.example, job);
  AddThreadsOption(commands.example, job);
  AddSamplesOption(commands.example, job);
  AddWarningOptions(commands.example, job);
  commands.bind = AddBindCommand(app, job);
  commands.deform = AddDeformCommand(app, job);
  commands.run = app.add_subcommand("run", "bind, then deform: both in one go");
  AddBindOptions(commands.run, job);
  AddDeformOptions(commands.run, job);
  AddPreviewOptions(commands.run, job);
  AddThreadsOption(commands.run, job);
  AddOutputOptions(commands.run, job);
  AddWarningOptions(commands.run, job);
  commands.check = AddCheckCommand(app, job);
  // The overview tells of the weight map files too. Each command took its
  // footer when it was added: example's and check's stay the exit statuses.
  AddWeightMapFooter(&app);
  return commands;
}

// What the parsed subcommand asks of the job; a line for the user (and exit
// status 2) when the options do not go together, else "".
std::string Settle(const Commands& commands, const CLI::App& app, Job& job) {
  if (commands.deform->parsed() && job.sceneFile.empty() && job.weightsFile.empty())
    return "--scene: missing; deform needs --scene FILE, or --weights FILE with --cage and --target";
  if (commands.bind->parsed() || commands.run->parsed()) job.bind = true;
  job.checkOnly = commands.check->parsed();
  if (commands.bind->parsed() && !job.preview.empty() && !job.previewErrors)
    return "--preview: bind has no posed cage to show; add --preview-color error";
  if (app.get_subcommands().empty() || commands.example->parsed()) SetExample(job);
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread is made: the signals wait for the thread that undoes
  // an unfinished run's writing.
  driver::InstallSignalWatcher("ostrand", &EndProgressLine);
  Job job;
  job.module = cli::DefaultModule(cli::ProgramFolder(), OSTRAND_MODULE_PATH);
  CLI::App app{
      "ostrand: binds a target mesh to a cage mesh with the libOstrand64 module and deforms it with\n"
      "posed cages. With no arguments it runs on the bundled example and writes into ./ostrand-out/."};
  app.footer(kExitStatusFooter);
  app.set_version_flag("--version", "ostrand " OSTRAND_VERSION, "print the version and exit");
  app.add_option("--module", job.module, "the module file to load")->type_name("FILE")->capture_default_str();
  app.add_flag("-q,--quiet", job.quiet, "print nothing but errors and warnings");
  app.require_subcommand(0, 1);
  app.fallthrough();  // --module and --quiet work after the subcommand too
  const Commands commands = AddCommands(app, job);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return BadArguments(cli::ArgumentProblem(e, app, std::vector<std::string>(argv + 1, argv + argc)));
  }
  const std::string problem = Settle(commands, app, job);
  if (!problem.empty()) return BadArguments(problem);
  return Run(job);
}
