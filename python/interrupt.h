// Ctrl-C during a bind from Python. The module cannot stop "Calculate" once
// it is pressed; while the calculation runs (without the interpreter lock),
// SIGINT cancels the host's ray tests (host::CancelRayTests), so that the
// rest of it costs next to nothing, and the caller drops its result and
// raises what Python's own SIGINT handler raises (KeyboardInterrupt).
#pragma once

#include <signal.h>

namespace python {

class CalculationInterrupt {
 public:
  // Takes SIGINT over while alive, unless nothing in Python answers it (it
  // is ignored, or left to the system).
  CalculationInterrupt();
  ~CalculationInterrupt();
  CalculationInterrupt(const CalculationInterrupt&) = delete;
  CalculationInterrupt& operator=(const CalculationInterrupt&) = delete;

  // Cancels as SIGINT does (a progress callback raised).
  void cancel() noexcept;
  bool interrupted() const noexcept;

 private:
  struct sigaction previous_ {};
  bool installed_ = false;
};

// With the interpreter lock: hands the SIGINT that came to Python's handler
// and raises what it raises (KeyboardInterrupt unless the user chose
// otherwise; KeyboardInterrupt too when the handler raises nothing, since the
// bind has no result). Throws py::error_already_set.
[[noreturn]] void RaiseInterrupted();

}  // namespace python
