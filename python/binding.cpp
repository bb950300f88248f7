#include "python/binding.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>

#include "driver/sparse_weights.h"
#include "driver/user_error.h"
#include "driver/weights_check.h"
#include "host/regular_file.h"
#include "python/arrays.h"

namespace python {
namespace {

// Raises the built-in OSError subclass `type` with errno, text and file name.
[[noreturn]] void RaiseOSError(const char* type, int code, const std::string& text, const std::string& path) {
  py::object error = py::module_::import("builtins").attr(type)(code, text, path);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

// A file to read: there, no folder, readable; else the OSError that says which.
void CheckReadable(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) RaiseOSError("FileNotFoundError", ENOENT, "no such weights file", path);
  if (std::filesystem::is_directory(status)) RaiseOSError("IsADirectoryError", EISDIR, "a folder, not a weights file", path);
  // A device or a FIFO would be read without end or block.
  if (const std::string problem = host::NotARegularFile(path); !problem.empty())
    RaiseOSError("OSError", EINVAL, problem, path);
  if (FILE* file = std::fopen(path.c_str(), "rb"))
    std::fclose(file);
  else
    RaiseOSError("PermissionError", errno, std::string("cannot be read: ") + std::strerror(errno), path);
}

// The message of a failure of the module, without the driver's subject.
std::string Problem(const driver::UserError& e, const std::string& subject) {
  const std::string text = e.what();
  return text.rfind(subject + ": ", 0) == 0 ? text.substr(subject.size() + 2) : text;
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
      threads_(input.threads) {}

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

std::unique_ptr<Binding> Binding::Made(const BindInput& input,
                                       const std::function<void(SharedSession&, uint32_t setup)>& work) {
  std::shared_ptr<SharedSession> shared;
  uint32_t item = 0;
  {
    py::gil_scoped_release release;
    shared = AcquireSession();
    Hold hold(*shared);
    driver::Session& session = *shared->session;
    item = session.addObjects(input.cage, "cage", input.target, "target");
    try {
      const uint32_t setup = input.setupWeights.empty() ? 0 : session.addWeightMap("setup", input.setupWeights);
      shared->useThreads(input.threads);
      work(*shared, setup);
    } catch (...) {
      shared->progress = nullptr;
      session.removeItem(item);
      throw;
    }
  }
  return std::unique_ptr<Binding>(new Binding(shared, item, input));
}

std::unique_ptr<Binding> Binding::Bind(BindInput input, int samples, double weightFloor, py::object progress) {
  if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
    throw py::type_error("progress: a callable taking a fraction and a text is needed");
  std::exception_ptr progressError;
  double seconds = 0.0;
  std::unique_ptr<Binding> binding = Made(input, [&](SharedSession& shared, uint32_t setup) {
    shared.progress = [&](const host::Progress& report) {
      if (progressError || progress.is_none()) return;
      py::gil_scoped_acquire acquire;
      try {
        progress(report.percent / 100.0, report.text);
      } catch (py::error_already_set&) {
        progressError = std::current_exception();
      }
    };
    const auto start = std::chrono::steady_clock::now();
    try {
      shared.session->calculate({samples, weightFloor, setup}, "bind");
    } catch (const driver::UserError& e) {
      throw std::runtime_error(Problem(e, "bind"));
    }
    if (const std::string damage = DamagedWeights(*shared.session); !damage.empty())
      throw py::value_error("bind: the cage is likely degenerate: " + damage);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    shared.progress = nullptr;
  });
  if (progressError) std::rethrow_exception(progressError);
  binding->bindSeconds_ = seconds;
  binding->measure();
  return binding;
}

std::unique_ptr<Binding> Binding::Load(const std::string& path, BindInput input) {
  CheckReadable(path);
  std::unique_ptr<Binding> binding = Made(input, [&](SharedSession& shared, uint32_t setup) {
    try {
      shared.session->restoreWeights(path, setup, "setup_weights");
    } catch (const driver::UserError& e) {
      throw py::value_error(path + ": " + Problem(e, path));
    }
    if (const std::string damage = DamagedWeights(*shared.session); !damage.empty())
      throw py::value_error(path + ": " + damage + "; the file is damaged");
  });
  binding->measure();
  return binding;
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

py::array Binding::deform(py::handle posed, py::handle blend, bool keepRest) {
  bool many = false;
  const PointArray poses = Poses(posed, "posed_cage_points", cagePoints_, many);
  std::optional<PointArray> blendValues;
  if (!blend.is_none()) blendValues = PerPointArray(blend, "blend_weights", targetPoints_);
  const size_t frames = many ? static_cast<size_t>(poses.shape(0)) : 1;
  PointArray out = many ? PointArray(std::vector<size_t>{frames, targetPoints_, 3}) : PointArray(std::vector<size_t>{targetPoints_, 3});
  const auto* in = reinterpret_cast<const Vec3*>(poses.data());
  auto* result = reinterpret_cast<Vec3*>(out.mutable_data());
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
      throw std::runtime_error(Problem(e, "deform"));
    }
    // The module moves points without weights to the origin: they stay where they are.
    for (uint32_t point : unbound_) frame[point] = rest[point];
  }
  return out;
}

void Binding::save(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::absolute(path).parent_path();
  std::error_code error;
  if (!std::filesystem::is_directory(parent, error)) RaiseOSError("FileNotFoundError", ENOENT, "no such folder", path);
  if (std::filesystem::is_directory(path, error)) RaiseOSError("IsADirectoryError", EISDIR, "a folder", path);
  std::string problem;
  {
    Turn turn(*this);
    try {
      turn.session.saveWeights(path);
    } catch (const driver::UserError& e) {
      problem = Problem(e, path);
    }
  }
  if (!problem.empty()) RaiseOSError("OSError", EIO, problem, path);
}

}  // namespace python
