// A target bound to a cage through the plug-in: an effect item of the shared
// session, with its weights in the module, deformed there frame by frame.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/bind_statistics.h"
#include "python/arrays.h"
#include "python/checks.h"
#include "python/file_path.h"
#include "python/shared_session.h"

namespace python {

namespace py = pybind11;

// The meshes and settings of bind and load, checked.
struct BindInput {
  host::Mesh cage, target;
  std::vector<float> setupWeights;  // empty: every point
  std::optional<int> threads;
};

struct BindJob;

class Binding {
 public:
  // Binds ("Calculate") with the checks around it (python/checks.h): the
  // cage check first, then the checks of the weights; their warnings are
  // told, or under strict raised, before the binding is returned. progress,
  // when not None, is called with the fraction done and a text, in order; an
  // exception it raises is raised here once the module has finished, and no
  // binding is made.
  static std::unique_ptr<Binding> bind(BindInput input, int samples, double weightFloor, const CheckOptions& options,
                                       py::object progress);
  // Reads a weights file made for this cage and target.
  static std::unique_ptr<Binding> load(const FilePath& path, BindInput input);
  // The checks of weights read (for load): points without weights are an
  // error naming subject, or kept where they are with a warning; rest-pose
  // errors above the threshold are warned of, or under strict raised.
  void checkLoaded(const std::string& subject, const CheckOptions& options);
  // What pickle keeps (the weights file's bytes, the meshes, the setup
  // weights and the thread count), and the binding loaded back from it, as
  // load reads the weights file: single precision, as the command deforms.
  py::dict pickleState();
  static std::unique_ptr<Binding> unpickle(const py::dict& state);
  ~Binding();
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;

  py::object weights() const;  // scipy.sparse.csr_matrix, target points x cage points
  py::array bound() const;
  py::array restError() const;
  // poseAxis names an axis conversion (checks/pose_check.h) given to every
  // posed cage first; the first is then checked against the bound cage, and
  // when it is far off warned of as ostrand.OstrandWarning.
  py::array deform(py::handle posed, py::handle blend, bool keepRest, const std::optional<std::string>& poseAxis);
  void save(const FilePath& path);

  size_t cagePointCount() const { return cagePoints_; }
  size_t targetPointCount() const { return targetPoints_; }
  std::optional<int> threads() const { return threads_; }
  double bindSeconds() const { return bindSeconds_; }
  double evaluationSeconds() const { return evaluationSeconds_; }

 private:
  Binding(std::shared_ptr<SharedSession> shared, uint32_t item, const BindInput& input);
  // A new item for input in the shared session, with its setup weight map
  // and thread count, and work done on it; on any failure of work the item
  // goes again.
  static std::unique_ptr<Binding> made(const BindInput& input,
                                       const std::function<void(SharedSession&, uint32_t setup)>& work);
  // The same without the interpreter lock, under a hold of the session: the item's id.
  static uint32_t makeItem(SharedSession& shared, const BindInput& input,
                           const std::function<void(SharedSession&, uint32_t setup)>& work);
  // A bind's calculation on a thread of its own (binding.cpp).
  static void runBindJob(std::shared_ptr<BindJob> job, BindInput input, checks::BindCheckSettings settings);
  static void releaseProgress(BindJob& job);
  // Runs the job and waits for it, the interpreter lock released; true when
  // the caller left it (Ctrl-C on the main thread, or its progress raised).
  static bool awaitBindJob(const std::shared_ptr<BindJob>& job, const BindInput& input,
                           const checks::BindCheckSettings& settings);
  // The job's bound item as a binding, with the points it kept at rest.
  static std::unique_ptr<Binding> adopt(BindJob& job, const BindInput& input);
  BindInput input() const;  // the meshes, setup weights and threads it was made with
  // Takes the session for one call, the interpreter lock released.
  class Turn;
  void measure();  // bound points and rest-pose errors, under a turn
  void pickBlend(const PointArray* values);  // under a turn
  // Warns when posed is far from the bound cage (checks::CheckPose).
  void warnFarPose(const std::vector<Vec3>& posed, const std::string& subject) const;

  std::shared_ptr<SharedSession> shared_;
  uint32_t item_ = 0;
  size_t cagePoints_ = 0, targetPoints_ = 0;
  std::optional<int> threads_;
  std::vector<float> setupWeights_;  // empty: every point
  driver::BindStatistics stats_;
  std::vector<uint32_t> unbound_;  // points the module holds no weight for: kept where they are
  std::vector<uint32_t> keptAtRest_;  // points bind left out for want of weights (allow_unbound)
  std::vector<bool> bound_;        // points with at least one weight
  uint32_t blendMap_ = 0;          // the blend weight map, made at the first blended deform
  std::vector<float> blendValues_;  // its values, as the host holds them (empty: unknown)
  bool blendOn_ = false, keepRest_ = false;
  double bindSeconds_ = 0.0, evaluationSeconds_ = 0.0;
};

}  // namespace python
