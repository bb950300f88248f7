// The extension of the Python package "ostrand" (python/ostrand/__init__.py
// gives its functions Python signatures): bind a target to a cage through the
// plug-in and deform it, NumPy arrays in and out.
#include <dlfcn.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "checks/bind_checks.h"
#include "checks/warnings.h"
#include "driver/user_error.h"
#include "python/arrays.h"
#include "python/binding.h"
#include "python/checks.h"
#include "ostrand/settings.h"

namespace python {
namespace {

// The module asks the loading process for its file dialogs by name, which
// this extension supplies; Python loads extensions with their names local, so
// they are made visible to the process.
void ShareDialogSuppliers() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ShareDialogSuppliers), &info) != 0 && info.dli_fname != nullptr)
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
}

FilePath PathText(const py::object& path) { return ToFilePath(path, "path"); }

std::string Repr(const Binding& binding) {
  const std::optional<int> threads = binding.threads();
  return "<ostrand.Binding: " + checks::Counted(binding.targetPointCount(), "target point", "target points") +
         " bound to a cage of " + checks::Counted(binding.cagePointCount(), "point", "points") +
         ", threads: " + (threads ? std::to_string(*threads) : "the plug-in's setting") + ">";
}

BindInput Input(const py::object& cagePoints, const py::object& cageFaces, const py::object& targetPoints,
                const py::object& setupWeights, std::optional<int> threads) {
  CheckThreads(threads);
  BindInput input;
  const PointArray cage = Points(cagePoints, "cage_points");
  input.cage.points = ToPoints(cage);
  input.cage.polygons = Faces(cageFaces, "cage_faces", input.cage.points.size());
  input.target.points = ToPoints(Points(targetPoints, "target_points"));
  if (!setupWeights.is_none()) {
    input.setupWeights = PerPointValues(setupWeights, "setup_weights", input.target.points.size());
    checks::CheckSetupWeights(input.setupWeights, "setup_weights");
  }
  input.threads = threads;
  return input;
}

}  // namespace
}  // namespace python

PYBIND11_MODULE(_ostrand, m) {
  namespace py = pybind11;
  using python::Binding;
  python::ShareDialogSuppliers();
  python::FindPackagedModule();
  m.doc() = "The extension of the ostrand package: import ostrand.";
  m.attr("__version__") = OSTRAND_VERSION;
  // Every driver::UserError no call tells its own way, told as its kind
  // stands for (python/checks.h), with its message as it is.
  py::register_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const driver::UserError& e) {
      python::SetUserError(e, e.what());
    }
  });
  // The classes are named where users find them, in the package: pybind11
  // names a class by its scope's __module__ when there is one, so pickles,
  // reprs and signatures say ostrand.Binding, not ostrand._ostrand.Binding.
  m.attr("__module__") = "ostrand";
  python::AddChecks(m);

  py::class_<Binding>(m, "Binding", "A target bound to a cage: its weights live in the plug-in.")
      .def_property_readonly("weights", &Binding::weights,
                             "The weights as scipy.sparse.csr_matrix (target points x cage points).")
      .def_property_readonly("bound", &Binding::bound, "Per target point: whether it holds any weight.")
      .def_property_readonly("rest_error", &Binding::restError,
                             "Per target point: distance from its rest position to the weighted rest cage "
                             "(0 for points the setup weights left out, NaN for points without weights).")
      .def_property_readonly("cage_point_count", &Binding::cagePointCount)
      .def_property_readonly("target_point_count", &Binding::targetPointCount)
      .def_property_readonly("threads", &Binding::threads)
      .def_property_readonly("bind_seconds", &Binding::bindSeconds, "The plug-in's Calculate, in seconds.")
      .def_property_readonly("evaluation_seconds", &Binding::evaluationSeconds,
                             "The plug-in's evaluation during the last deform, in seconds.")
      // deform and save, with their signatures, are the package's (python/ostrand/__init__.py).
      .def("_deform", &Binding::deform, py::arg("posed_cage_points"), py::arg("blend_weights"),
           py::arg("keep_rest"), py::arg("pose_axis"))
      .def(
          "_save", [](Binding& binding, const py::object& path) { binding.save(python::PathText(path)); },
          py::arg("path"))
      .def("__repr__", &python::Repr)
      .def(py::pickle([](Binding& binding) { return binding.pickleState(); },
                      [](const py::dict& state) { return Binding::unpickle(state); }));

  m.def(
      "bind",
      [](const py::object& cagePoints, const py::object& cageFaces, const py::object& targetPoints, int samples,
         double weightFloor, const py::object& setupWeights, std::optional<int> threads, const py::object& progress,
         bool allowUnbound, double warnRestError, bool strict) {
        python::CheckWithin("samples", samples, ostrand::kLeastSamples, ostrand::kMostSamples);
        if (!(weightFloor >= ostrand::kLeastWeightFloor && weightFloor <= ostrand::kMostWeightFloor))
          throw py::value_error("weight_floor: " + std::string(py::str(py::float_(weightFloor))) + " is not from 0 to 1");
        const python::CheckOptions checked = python::MakeCheckOptions(allowUnbound, strict, warnRestError);
        return Binding::bind(python::Input(cagePoints, cageFaces, targetPoints, setupWeights, threads), samples,
                             weightFloor, checked, progress);
      },
      py::arg("cage_points"), py::arg("cage_faces"), py::arg("target_points"), py::kw_only(),
      py::arg("samples") = ostrand::kDefaultSamples, py::arg("weight_floor") = 0.0,
      py::arg("setup_weights") = py::none(), py::arg("threads") = py::none(), py::arg("progress") = py::none(),
      py::arg("allow_unbound") = false, py::arg("warn_rest_error") = 0.01, py::arg("strict") = false,
      "Binds the target points to the cage (the plug-in's Calculate), with the checks around it.");
  m.def(
      "load",
      [](const py::object& path, const py::object& cagePoints, const py::object& cageFaces,
         const py::object& targetPoints, const py::object& setupWeights, std::optional<int> threads,
         bool allowUnbound, double warnRestError, bool strict) {
        const python::FilePath file = python::PathText(path);
        const python::CheckOptions checked = python::MakeCheckOptions(allowUnbound, strict, warnRestError);
        std::unique_ptr<Binding> binding =
            Binding::load(file, python::Input(cagePoints, cageFaces, targetPoints, setupWeights, threads));
        binding->checkLoaded(file.shown, checked);
        return binding;
      },
      py::arg("path"), py::arg("cage_points"), py::arg("cage_faces"), py::arg("target_points"), py::kw_only(),
      py::arg("setup_weights") = py::none(), py::arg("threads") = py::none(), py::arg("allow_unbound") = false,
      py::arg("warn_rest_error") = 0.01, py::arg("strict") = false,
      "Reads a weights file (.cw) made for this cage and target, and checks how well it fits them.");
  m.def("module_path", &python::ModulePathInUse,
        "The plug-in module file in use: $OSTRAND_MODULE, or libOstrand64.so beside this extension.");
  py::delattr(m, "__module__");
}
