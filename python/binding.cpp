#include "python/binding.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <mutex>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <filesystem>

#include <unistd.h>

#include "checks/cage_check.h"
#include "checks/pose_check.h"
#include "driver/bind_statistics.h"
#include "driver/sparse_weights.h"
#include "driver/user_error.h"
#include "driver/weights_check.h"
#include "host/regular_file.h"
#include "python/arrays.h"
#include "python/interrupt.h"

namespace python {
namespace {

// What the messages of a bind name: the argument the points came in.
constexpr const char* kBindSubject = "target_points";

// A file to read: there, no folder, readable; else the OSError that says which.
void CheckReadable(const FilePath& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path.bytes, error);
  if (error || !std::filesystem::exists(status)) {
    const int code = error ? error.value() : ENOENT;
    RaiseOSError(code, code == ENOENT ? "no such weights file" : error.message(), path);
  }
  if (std::filesystem::is_directory(status)) RaiseOSError(EISDIR, "a folder, not a weights file", path);
  // A device or a FIFO would be read without end or block.
  if (const std::string problem = host::NotARegularFile(path.bytes); !problem.empty())
    RaiseOSError(EINVAL, problem, path);
  if (FILE* file = std::fopen(path.bytes.c_str(), "rb")) {
    std::fclose(file);
  } else {
    const int code = errno;
    RaiseOSError(code, std::string("cannot be read: ") + std::strerror(code), path);
  }
}

// A weights file to write: a name in a folder this process may write into
// (the module says nothing of why a save failed); else the OSError that says
// which.
void CheckWritable(const FilePath& path) {
  if (path.bytes.empty()) RaiseOSError(ENOENT, "no file name", path);
  std::error_code error;
  const std::filesystem::path parent = std::filesystem::absolute(path.bytes, error).parent_path();
  const auto folder = std::filesystem::status(parent, error);
  if (error || !std::filesystem::exists(folder)) {
    const int code = error ? error.value() : ENOENT;
    RaiseOSError(code, code == ENOENT ? "no such folder" : "its folder: " + error.message(), path);
  }
  if (!std::filesystem::is_directory(folder)) RaiseOSError(ENOTDIR, "its folder is a file", path);
  if (std::filesystem::is_directory(path.bytes, error)) RaiseOSError(EISDIR, "a folder", path);
  if (::access(parent.c_str(), W_OK | X_OK) != 0) {
    const int code = errno;
    RaiseOSError(code, std::string("cannot write into its folder: ") + std::strerror(code), path);
  }
}

// Weights of the current item that no bind gives, "" when none; points are
// named by their rows, from 0.
std::string DamagedWeights(const driver::Session& session) {
  const driver::WeightsDamage damage =
      driver::FindWeightsDamage(session.instance(), session.targetRest().points.size());
  return damage.empty() ? "" : driver::DescribeWeightsDamage(damage, 0, "row");
}

template <typename T>
py::array_t<T> Owned(std::vector<T>&& values) {
  auto* held = new std::vector<T>(std::move(values));
  py::capsule owner(held, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(static_cast<py::ssize_t>(held->size()), held->data(), owner);
}

}  // namespace

class Binding::Turn {
 public:
  explicit Turn(const Binding& binding) : hold_(*binding.shared_), session(*binding.shared_->session) {
    session.select(binding.item_);
    binding.shared_->useThreads(binding.threads_);
  }

 private:
  py::gil_scoped_release release_;
  Hold hold_;

 public:
  driver::Session& session;
};

Binding::Binding(std::shared_ptr<SharedSession> shared, uint32_t item, const BindInput& input)
    : shared_(std::move(shared)),
      item_(item),
      cagePoints_(input.cage.points.size()),
      targetPoints_(input.target.points.size()),
      threads_(input.threads),
      setupWeights_(input.setupWeights) {}

Binding::~Binding() {
  if (shared_->holder.load() == std::this_thread::get_id()) {
    shared_->removeLater.push_back(item_);  // gone from a progress callback
    return;
  }
  auto remove = [this] {
    Hold hold(*shared_);
    shared_->session->removeItem(item_);
  };
  try {
    // While Python finalises, the interpreter lock is no longer ours to give.
    if (PyGILState_Check() && !_Py_IsFinalizing()) {
      py::gil_scoped_release release;
      remove();
    } else {
      remove();
    }
  } catch (const std::exception&) {
    // Nothing to tell the user: the item goes with the session.
  }
}

uint32_t Binding::makeItem(SharedSession& shared, const BindInput& input,
                           const std::function<void(SharedSession&, uint32_t setup)>& work) {
  driver::Session& session = *shared.session;
  const uint32_t item = session.addObjects(input.cage, "cage", input.target, "target");
  try {
    const uint32_t setup = input.setupWeights.empty() ? 0 : session.addWeightMap("setup", input.setupWeights);
    shared.useThreads(input.threads);
    work(shared, setup);
  } catch (...) {
    shared.progress = nullptr;
    session.removeItem(item);
    throw;
  }
  return item;
}

std::unique_ptr<Binding> Binding::made(const BindInput& input,
                                       const std::function<void(SharedSession&, uint32_t setup)>& work) {
  std::shared_ptr<SharedSession> shared;
  uint32_t item = 0;
  {
    py::gil_scoped_release release;
    shared = AcquireSession();
    Hold hold(*shared);
    item = makeItem(*shared, input, work);
  }
  return std::unique_ptr<Binding>(new Binding(shared, item, input));
}

// A bind's calculation on a thread of its own. The caller waits for it with
// the interpreter lock released, and may leave it (Ctrl-C, or an exception
// from the progress callback): the ray tests are cancelled then, so the rest
// costs little, and the thread drops the item it made once the module is
// done. Everything the thread touches lives here, shared with the caller.
struct BindJob {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  bool abandoned = false;
  std::shared_ptr<SharedSession> shared;
  uint32_t item = 0;
  checks::Warnings warnings;
  std::string likelyCause;
  std::vector<uint32_t> kept;
  double seconds = 0.0;
  PyObject* progress = nullptr;  // a reference of its own, or null
  std::exception_ptr error, progressError;
  bool pluginRefused = false;  // error is the plug-in's refusal (no check's): told without the argument's name
};

void Binding::runBindJob(std::shared_ptr<BindJob> job, BindInput input, checks::BindCheckSettings settings) {
  bool abandoned = false;
  try {
    job->shared = AcquireSession();
    Hold hold(*job->shared);
    try {
      job->item = makeItem(*job->shared, input, [&](SharedSession& shared, uint32_t setup) {
        shared.progress = [&](const host::Progress& report) {
          {
            std::lock_guard lock(job->mutex);
            if (job->abandoned || job->progressError || job->progress == nullptr) return;
          }
          py::gil_scoped_acquire acquire;
          try {
            py::handle(job->progress)(report.percent / 100.0, report.text);
          } catch (py::error_already_set&) {
            host::CancelRayTests(true);  // the rest is of no use
            std::lock_guard lock(job->mutex);
            job->progressError = std::current_exception();
            job->changed.notify_all();
          }
        };
        const auto start = std::chrono::steady_clock::now();
        try {
          job->kept = checks::BindChecked(*shared.session, settings, setup, [&] { return job->likelyCause; },
                                          job->warnings);
        } catch (const driver::UserError& e) {
          job->pluginRefused = dynamic_cast<const checks::CheckError*>(&e) == nullptr;
          throw;
        }
        job->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        shared.progress = nullptr;
      });
    } catch (...) {
      job->error = std::current_exception();
    }
    // Still holding the session: the ray tests answer again before the next
    // call has it, and what nobody waits for any more goes.
    host::CancelRayTests(false);
    {
      std::lock_guard lock(job->mutex);
      abandoned = job->abandoned;
    }
    if (abandoned && job->item != 0 && !job->error) {
      job->shared->session->removeItem(job->item);
      job->item = 0;
    }
  } catch (...) {
    if (!job->error) job->error = std::current_exception();
  }
  {
    std::lock_guard lock(job->mutex);
    job->done = true;
    abandoned = job->abandoned;
    job->changed.notify_all();
  }
  if (!abandoned) return;
  // Left between the look above and now.
  if (job->item != 0 && !job->error) {
    try {
      Hold hold(*job->shared);
      job->shared->session->removeItem(job->item);
    } catch (const std::exception&) {
      // It goes with the session.
    }
  }
  job->error = nullptr;
  job->shared.reset();
  releaseProgress(*job);
}

void Binding::releaseProgress(BindJob& job) {
  PyObject* progress = nullptr;
  {
    std::lock_guard lock(job.mutex);
    std::swap(progress, job.progress);
  }
  if (progress == nullptr || _Py_IsFinalizing()) return;  // at the interpreter's end it goes with it
  py::gil_scoped_acquire acquire;
  Py_DECREF(progress);
}

bool Binding::awaitBindJob(const std::shared_ptr<BindJob>& job, const BindInput& input,
                           const checks::BindCheckSettings& settings) {
  const py::module_ threading = py::module_::import("threading");
  const py::object mainIdent = threading.attr("main_thread")().attr("ident");
  const bool mainThread = mainIdent.equal(threading.attr("get_ident")());
  bool left = false;
  {
    py::gil_scoped_release release;
    std::optional<CalculationInterrupt> interrupt;
    if (mainThread) interrupt.emplace();  // SIGINT reaches Python on its main thread only
    std::thread(runBindJob, job, input, settings).detach();
    std::unique_lock lock(job->mutex);
    while (!job->done) {
      job->changed.wait_for(lock, std::chrono::milliseconds(20));
      if (job->done) break;
      if ((interrupt && interrupt->interrupted()) || job->progressError) {
        // The calculation goes on without its caller, cheaply, and drops its item.
        job->abandoned = true;
        left = true;
        break;
      }
    }
  }
  return left;
}

std::unique_ptr<Binding> Binding::adopt(BindJob& job, const BindInput& input) {
  std::unique_ptr<Binding> binding(new Binding(job.shared, job.item, input));
  // The thread, done, touches it no more; the session goes with the last
  // binding, not with the thread's end.
  job.shared.reset();
  std::vector<uint32_t> kept = std::move(job.kept);
  binding->bindSeconds_ = job.seconds;
  if (!kept.empty()) {
    // Left out as the setup weights leave points out: a pickled binding
    // reads its weights file back with the same map.
    if (binding->setupWeights_.empty()) binding->setupWeights_.assign(binding->targetPoints_, 1.0f);
    for (uint32_t point : kept) binding->setupWeights_[point] = 0.0f;
    binding->keptAtRest_ = std::move(kept);
  }
  return binding;
}

std::unique_ptr<Binding> Binding::bind(BindInput input, int samples, double weightFloor, const CheckOptions& options,
                                       py::object progress) {
  if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
    throw py::type_error("progress: a callable taking a fraction and a text is needed");
  // The cage is checked first, as the command checks it: its findings are
  // warned of, and name the likely cause when points get no weights.
  checks::CageCheck cage;
  {
    py::gil_scoped_release release;
    cage = checks::CheckCage(input.cage, &input.target.points, input.threads.value_or(0));
  }
  checks::Warnings warnings;
  warnings.add(cage.findings);
  // The calculation runs on a thread of its own, so that the caller can
  // leave it on Ctrl-C at once (see BindJob).
  auto job = std::make_shared<BindJob>();
  job->warnings = std::move(warnings);
  job->likelyCause = cage.likelyCause;
  if (!progress.is_none()) job->progress = progress.release().ptr();  // released by ~BindJob's owner
  const bool left = awaitBindJob(job, input, CheckSettings(kBindSubject, samples, weightFloor, options));
  if (job->progressError) {
    std::exception_ptr error = job->progressError;
    job->progressError = nullptr;
    releaseProgress(*job);
    std::rethrow_exception(error);
  }
  if (left) RaiseInterrupted();
  releaseProgress(*job);
  if (job->error) {
    try {
      std::rethrow_exception(job->error);
    } catch (const driver::UserError& e) {
      // The plug-in's refusal names the argument (kBindSubject): its problem alone.
      if (job->pluginRefused) RaiseUserError(e, e.problem());
      throw;
    }
  }
  warnings = std::move(job->warnings);
  std::unique_ptr<Binding> binding = adopt(*job, input);
  binding->measure();
  checks::WarnRestErrors(binding->stats_, options.warnRestError, warnings);
  Tell(warnings, options, "bound");
  return binding;
}

std::unique_ptr<Binding> Binding::load(const FilePath& path, BindInput input) {
  CheckReadable(path);
  std::unique_ptr<Binding> binding = made(input, [&](SharedSession& shared, uint32_t setup) {
    try {
      shared.session->restoreWeights(path.bytes, setup, "setup_weights");
    } catch (const driver::UserError& e) {
      // Told of the path as the caller gave it.
      throw driver::UserError(e.kind(), path.shown, Shown(e.problem()));
    }
    if (const std::string damage = DamagedWeights(*shared.session); !damage.empty())
      throw py::value_error(path.shown + ": " + damage + "; the file is damaged");
  });
  binding->measure();
  return binding;
}

void Binding::checkLoaded(const std::string& subject, const CheckOptions& options) {
  checks::Warnings warnings;
  if (!stats_.unbound.empty()) {
    std::string cause;
    {
      Turn turn(*this);
      cause = checks::CheckCage(turn.session.cageRest(), &turn.session.targetRest().points, threads_.value_or(0))
                  .likelyCause;
    }
    checks::CheckUnbound(stats_, cause, CheckSettings(subject, 0, 0.0, options), "they are kept where they are",
                         warnings);
  }
  checks::WarnRestErrors(stats_, options.warnRestError, warnings);
  Tell(warnings, options, "loaded");
}

void Binding::measure() {
  Turn turn(*this);
  const EffectInstance& instance = turn.session.instance();
  stats_ = driver::MeasureBinding(instance, turn.session.cageRest(), turn.session.targetRest(), 0.0);
  unbound_ = stats_.unbound;
  bound_.assign(targetPoints_, false);
  const TargetEntry& target = instance.Targets->records[0];
  for (uint32_t i = 0; i < target.ActiveCount; ++i)
    if (target.PointIndices[i] < targetPoints_ && target.WeightCounts[i] > 0) bound_[target.PointIndices[i]] = true;
}

py::object Binding::weights() const {
  driver::SparseWeights table;
  {
    Turn turn(*this);
    table = driver::ReadSparseWeights(turn.session.instance(), targetPoints_, cagePoints_);
  }
  py::object csr = py::module_::import("scipy.sparse").attr("csr_matrix");
  return csr(py::make_tuple(Owned(std::move(table.values)), Owned(std::move(table.columnOf)),
                            Owned(std::move(table.rowStarts))),
             py::arg("shape") = py::make_tuple(table.rows, table.columns));
}

py::array Binding::bound() const {
  py::array_t<bool> mask(static_cast<py::ssize_t>(targetPoints_));
  std::copy(bound_.begin(), bound_.end(), mask.mutable_data());
  return mask;
}

py::array Binding::restError() const {
  py::array_t<double> errors(static_cast<py::ssize_t>(targetPoints_));
  double* out = errors.mutable_data();
  for (size_t i = 0; i < targetPoints_; ++i)
    out[i] = stats_.cageSize > 0.0 ? stats_.pointErrors[i] * stats_.cageSize : stats_.pointErrors[i];
  // Left out by allow_unbound, yet without weights all the same.
  for (uint32_t point : keptAtRest_) out[point] = std::nan("");
  return errors;
}

void Binding::pickBlend(const PointArray* values) {
  driver::Session& session = *shared_->session;
  if (values == nullptr) {
    if (blendOn_) session.setBlend(0);
    blendOn_ = false;
    return;
  }
  const bool changed = StoreSinglePrecision(*values, "blend_weights", blendValues_);
  if (blendMap_ == 0)
    blendMap_ = session.addWeightMap("blend", blendValues_);
  else if (changed)
    session.setWeightMapValues(blendMap_, blendValues_);
  if (!blendOn_) session.setBlend(blendMap_);
  blendOn_ = true;
}

py::array Binding::deform(py::handle posed, py::handle blend, bool keepRest,
                          const std::optional<std::string>& poseAxis) {
  const checks::AxisConversion* conversion = nullptr;
  if (poseAxis) {
    conversion = checks::FindAxisConversion(*poseAxis);
    if (!conversion)
      throw py::value_error("pose_axis: " + std::string(py::repr(py::str(*poseAxis))) + " is not one of " +
                            checks::AxisConversionNames());
  }
  bool many = false;
  const PointArray poses = Poses(posed, "posed_cage_points", cagePoints_, many);
  std::optional<PointArray> blendValues;
  if (!blend.is_none()) blendValues = PerPointArray(blend, "blend_weights", targetPoints_);
  const size_t frames = many ? static_cast<size_t>(poses.shape(0)) : 1;
  PointArray out = many ? PointArray(std::vector<size_t>{frames, targetPoints_, 3}) : PointArray(std::vector<size_t>{targetPoints_, 3});
  const auto* in = reinterpret_cast<const Vec3*>(poses.data());
  std::vector<Vec3> converted;
  if (conversion) {
    converted.assign(in, in + frames * cagePoints_);
    checks::Convert(*conversion, converted);
    in = converted.data();
  }
  if (frames > 0)
    warnFarPose(std::vector<Vec3>(in, in + cagePoints_), many ? "posed_cage_points[0]" : "posed_cage_points");
  auto* result = reinterpret_cast<Vec3*>(out.mutable_data());
  std::optional<driver::UserError> refused;  // told once the interpreter lock is back
  {
    Turn turn(*this);
    pickBlend(blendValues ? &*blendValues : nullptr);
    if (keepRest != keepRest_) turn.session.setKeepRest(keepRest);
    keepRest_ = keepRest;
    evaluationSeconds_ = 0.0;
    const std::vector<Vec3>& rest = turn.session.targetRest().points;
    for (size_t f = 0; f < frames; ++f) {
      Vec3* frame = result + f * targetPoints_;
      try {
        evaluationSeconds_ += turn.session.deform(in + f * cagePoints_, frame, "deform");
      } catch (const driver::UserError& e) {
        refused = e;
        break;
      }
      driver::KeepUnboundAtRest(unbound_, rest, frame);
    }
  }
  // The plug-in's refusal names this function ("deform"): its problem alone.
  if (refused) RaiseUserError(*refused, refused->problem());
  return out;
}

void Binding::warnFarPose(const std::vector<Vec3>& posed, const std::string& subject) const {
  std::string line;
  {
    Turn turn(*this);
    line = checks::CheckPose(turn.session.cageRest().points, posed, subject, {"pose_axis", "=", "'"});
  }
  if (line.empty()) return;
  checks::Warnings warnings;
  warnings.add(std::move(line));
  Tell(warnings, CheckOptions{}, "");
}

void Binding::save(const FilePath& path) {
  CheckWritable(path);
  std::optional<driver::UserError> failed;  // told once the interpreter lock is back
  {
    Turn turn(*this);
    try {
      turn.session.saveWeights(path.bytes);
    } catch (const driver::UserError& e) {
      failed = e;
    }
  }
  // An OSError naming the path as the caller gave it: the problem alone.
  if (failed) RaiseUserError(*failed, failed->problem(), path.given);
}

BindInput Binding::input() const {
  BindInput input;
  {
    Turn turn(*this);
    input.cage = turn.session.cageRest();
    input.target = turn.session.targetRest();
  }
  input.setupWeights = setupWeights_;
  input.threads = threads_;
  return input;
}

}  // namespace python
