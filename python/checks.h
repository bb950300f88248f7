// The checks in Python, from the same code as the command's (checks/): the
// cage check as a report (check_cage), and what the checks around bind and
// load find, told Python's way: each of the command's warnings as a warning
// of the module's own category (ostrand.OstrandWarning), under strict an
// ostrand.OstrandError instead, and points left without weights as
// ostrand.UnboundPointsError. Both errors are ValueErrors.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "checks/bind_checks.h"
#include "checks/warnings.h"

namespace python {

namespace py = pybind11;

// What bind and load are asked to check, as given: allow_unbound, strict,
// warn_rest_error (a fraction of the cage's size).
struct CheckOptions {
  bool allowUnbound = false;
  bool strict = false;
  double warnRestError = 0.01;
};

// The options checked: ValueError naming warn_rest_error when it is not from 0 to 1.
CheckOptions MakeCheckOptions(bool allowUnbound, bool strict, double warnRestError);

// The settings of the checks around a bind, with the names a Python caller
// knows in their messages: subject (the argument or file at fault) and
// "allow_unbound=True".
checks::BindCheckSettings CheckSettings(const std::string& subject, int samples, double weightFloor,
                                        const CheckOptions& options);

// With strict and any warning, raises ostrand.OstrandError naming them all
// (its `warnings` attribute holds the lines), saying that nothing is `kept`
// ("bound", "loaded"); otherwise warns of each as ostrand.OstrandWarning.
// Needs the interpreter lock; throws py::error_already_set (a warning the
// caller's filters turn into an error is raised too).
void Tell(const checks::Warnings& warnings, const CheckOptions& options, const std::string& kept);

// Adds the warning and error types and check_cage to the module, and turns
// the checks' errors into those types. Call after any translator of
// driver::UserError is registered, so that this one is tried first.
void AddChecks(py::module_& m);

}  // namespace python
