// The checks in Python, from the same code as the command's (checks/): the
// cage check as a report (check_cage), and what the checks around bind and
// load find, told Python's way: each of the command's warnings as a warning
// of the module's own category (ostrand.OstrandWarning), under strict an
// ostrand.OstrandError instead, and points left without weights as
// ostrand.UnboundPointsError. Both errors are ValueErrors. And every
// driver::UserError (a check's refusal among them) as the Python exception
// its kind stands for, decided in one place (SetUserError).
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "checks/bind_checks.h"
#include "checks/warnings.h"
#include "driver/user_error.h"

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

// Adds the warning and error types and check_cage to the module.
void AddChecks(py::module_& m);

// Sets Python's error for e, message its text: the one place that decides
// which exception a driver::UserError becomes, by its kind:
//   refused: ostrand.UnboundPointsError (its `points` the points, from 0) or
//     ostrand.OstrandError when a check refused (checks::CheckError), else
//     RuntimeError (the plug-in refused, or cannot be had);
//   input, usage: ValueError;
//   output: OSError for filename (a path as the caller gave it; e's subject
//     when null), with the error number whose system text the problem names
//     (EIO when none), so that it is the subclass that number stands for.
// Needs the interpreter lock (and the types AddChecks adds).
void SetUserError(const driver::UserError& e, const std::string& message, py::handle filename = py::handle());
// The same, raised: throws py::error_already_set.
[[noreturn]] void RaiseUserError(const driver::UserError& e, const std::string& message,
                                 py::handle filename = py::handle());

}  // namespace python
