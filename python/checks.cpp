#include "python/checks.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "checks/cage_check.h"
#include "python/arrays.h"
#include "python/file_path.h"

namespace python {
namespace {

// The module's own warning and error types, made once when it is imported
// and held for as long as the process runs.
PyObject* warningType = nullptr;
PyObject* errorType = nullptr;
PyObject* unboundType = nullptr;

// Sets Python's error to an instance of type with the message and the
// attributes given.
void SetError(PyObject* type, const std::string& message, const py::dict& attributes) {
  py::object error = py::reinterpret_borrow<py::object>(type)(message);
  for (const auto& [name, value] : attributes) py::setattr(error, name, value);
  PyErr_SetObject(type, error.ptr());
}

// The error number whose system text a failure to write names (the module's
// "(No space left on device)", the driver's ": Read-only file system"), so
// that the OSError is the subclass it stands for; EIO when it names none.
int ErrorNumberIn(const std::string& problem) {
  for (int code : {ENOSPC, EDQUOT, EFBIG, EROFS, EACCES, EPERM, ENOENT, ENOTDIR, EISDIR, ENAMETOOLONG})
    if (problem.find(std::strerror(code)) != std::string::npos) return code;
  return EIO;
}

// An example of a finding as a caller reads it: an index, or a tuple of two.
py::object Example(const std::vector<uint32_t>& indices) {
  if (indices.size() == 1) return py::int_(indices[0]);
  py::tuple tuple(indices.size());
  for (size_t i = 0; i < indices.size(); ++i) tuple[i] = py::int_(indices[i]);
  return tuple;
}

// What `ostrand check` prints: the findings' lines, or the clean line.
std::string Printed(const checks::CageCheck& check) {
  if (check.findings.empty()) return checks::CleanCageLine(check);
  std::string text;
  for (const std::string& line : check.findings) text += (text.empty() ? "" : "\n") + line;
  return text;
}

std::string Repr(const checks::CageCheck& check) {
  if (check.findings.empty()) return "<ostrand.CageCheck: clean>";
  std::string kinds;
  for (const checks::CageFinding& finding : check.found) kinds += (kinds.empty() ? "" : ", ") + finding.kind;
  return "<ostrand.CageCheck: " + checks::Counted(check.found.size(), "finding", "findings") + " (" + kinds + ")>";
}

checks::CageCheck CheckCage(const py::object& cagePoints, const py::object& cageFaces, const py::object& targetPoints,
                            std::optional<int> threads) {
  CheckThreads(threads);
  host::Mesh cage;
  cage.points = ToPoints(Points(cagePoints, "cage_points"));
  cage.polygons = Faces(cageFaces, "cage_faces", cage.points.size());
  std::optional<std::vector<Vec3>> target;
  if (!targetPoints.is_none()) target = ToPoints(Points(targetPoints, "target_points"));
  py::gil_scoped_release release;
  return checks::CheckCage(cage, target ? &*target : nullptr, threads.value_or(0));
}

}  // namespace

CheckOptions MakeCheckOptions(bool allowUnbound, bool strict, double warnRestError) {
  if (!(warnRestError >= checks::kLeastWarnRestError && warnRestError <= checks::kMostWarnRestError))
    throw py::value_error("warn_rest_error: " + std::string(py::str(py::float_(warnRestError))) +
                          " is not from 0 to 1");
  return {allowUnbound, strict, warnRestError};
}

checks::BindCheckSettings CheckSettings(const std::string& subject, int samples, double weightFloor,
                                        const CheckOptions& options) {
  return {samples, weightFloor, options.allowUnbound, options.warnRestError, subject, "allow_unbound=True"};
}

void Tell(const checks::Warnings& warnings, const CheckOptions& options, const std::string& kept) {
  if (warnings.empty()) return;
  if (options.strict) {
    std::string lines;
    for (const std::string& line : warnings.lines()) lines += (lines.empty() ? "" : " | ") + line;
    py::dict attributes;
    attributes["warnings"] = py::cast(warnings.lines());
    SetError(errorType,
             "strict: " + checks::Counted(warnings.size(), "warning", "warnings") + ", so nothing is " + kept + ": " +
                 lines,
             attributes);
    throw py::error_already_set();
  }
  // Level 2: the frame above the package's function (python/ostrand/__init__.py)
  // that called the extension, so that the warning names the caller's line.
  for (const std::string& line : warnings.lines())
    if (PyErr_WarnEx(warningType, line.c_str(), 2) != 0) throw py::error_already_set();
}

void AddChecks(py::module_& m) {
  warningType = PyErr_NewExceptionWithDoc(
      "ostrand.OstrandWarning",
      "What the checks around bind and load found that the caller should know: the ostrand command's warnings.",
      PyExc_UserWarning, nullptr);
  errorType = PyErr_NewExceptionWithDoc(
      "ostrand.OstrandError",
      "A check refused the weights (under strict, any warning): nothing was bound or loaded.", PyExc_ValueError,
      nullptr);
  unboundType = PyErr_NewExceptionWithDoc(
      "ostrand.UnboundPointsError",
      "Target points got no weights; `points` holds them (indices from 0). allow_unbound=True keeps them where they "
      "are.",
      errorType, nullptr);
  if (warningType == nullptr || errorType == nullptr || unboundType == nullptr) throw py::error_already_set();
  m.add_object("OstrandWarning", py::reinterpret_borrow<py::object>(warningType));
  m.add_object("OstrandError", py::reinterpret_borrow<py::object>(errorType));
  m.add_object("UnboundPointsError", py::reinterpret_borrow<py::object>(unboundType));

  py::class_<checks::CageFinding>(m, "CageFinding", "One finding of the cage check.")
      .def_readonly("kind", &checks::CageFinding::kind,
                    "What is wrong: boundary_edges, non_manifold_edges, misoriented_faces, one_sided_parts, "
                    "intersecting_faces, flat, inward, degenerate_faces, non_finite_points, size, far_from_origin, "
                    "no_faces or points_outside.")
      .def_readonly("count", &checks::CageFinding::count,
                    "How many edges, faces, pairs of faces, parts or points it counts (1 for the whole cage).")
      .def_property_readonly(
          "examples",
          [](const checks::CageFinding& finding) {
            py::list examples;
            for (const std::vector<uint32_t>& example : finding.examples) examples.append(Example(example));
            return examples;
          },
          "The first few (at most 5), from 0: a point or a face, an edge as (point, point), a pair of faces.")
      .def_readonly("line", &checks::CageFinding::line, "The line `ostrand check` prints for it.")
      .def("__str__", [](const checks::CageFinding& finding) { return finding.line; })
      .def("__repr__", [](const checks::CageFinding& finding) {
        return "<ostrand.CageFinding " + finding.kind + ": " + std::to_string(finding.count) + ">";
      });

  py::class_<checks::CageCheck>(m, "CageCheck", "What the cage check found; str() is what `ostrand check` prints.")
      .def_readonly("findings", &checks::CageCheck::found, "The findings, in the order printed.")
      .def_property_readonly("clean", [](const checks::CageCheck& check) { return check.findings.empty(); },
                             "Nothing found (and, with a target, every point inside).")
      .def_readonly("likely_cause", &checks::CageCheck::likelyCause,
                    "Why points would be bound badly or not at all, the gravest first; \"\" when nothing points to it.")
      .def_property_readonly(
          "outside",
          [](const checks::CageCheck& check) -> py::object {
            if (!check.hasTarget) return py::none();
            py::array_t<bool> mask(static_cast<py::ssize_t>(check.outside.size()));
            for (size_t i = 0; i < check.outside.size(); ++i) mask.mutable_data()[i] = check.outside[i] != 0;
            return mask;
          },
          "Per target point: whether it lies outside the cage; None without a target.")
      .def("__str__", &Printed)
      .def("__repr__", &Repr);

  m.def("check_cage", &CheckCage, py::arg("cage_points"), py::arg("cage_faces"), py::arg("target_points") = py::none(),
        py::kw_only(), py::arg("threads") = py::none(),
        "Checks the cage, and with target points which of them lie outside it, as `ostrand check` does.");
}

void SetUserError(const driver::UserError& e, const std::string& message, py::handle filename) {
  switch (e.kind()) {
    case driver::ErrorKind::kRefused:
      if (const auto* unbound = dynamic_cast<const checks::UnboundPointsError*>(&e)) {
        py::dict attributes;
        const std::vector<int64_t> points(unbound->points().begin(), unbound->points().end());
        attributes["points"] = py::array_t<int64_t>(static_cast<py::ssize_t>(points.size()), points.data());
        SetError(unboundType, message, attributes);
      } else if (dynamic_cast<const checks::CheckError*>(&e) != nullptr) {
        PyErr_SetString(errorType, message.c_str());
      } else {
        PyErr_SetString(PyExc_RuntimeError, message.c_str());
      }
      return;
    case driver::ErrorKind::kOutput:
      if (!filename) {
        const FilePath subject = OwnPath(e.subject());
        SetOSError(ErrorNumberIn(e.problem()), message, subject.given);
        return;
      }
      SetOSError(ErrorNumberIn(e.problem()), message, filename);
      return;
    case driver::ErrorKind::kUsage:
    case driver::ErrorKind::kInput:
      PyErr_SetString(PyExc_ValueError, message.c_str());
      return;
  }
}

void RaiseUserError(const driver::UserError& e, const std::string& message, py::handle filename) {
  SetUserError(e, message, filename);
  throw py::error_already_set();
}

}  // namespace python
