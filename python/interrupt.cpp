#include "python/interrupt.h"

#include <pybind11/pybind11.h>

#include <atomic>

#include "host/host.h"

namespace python {
namespace {

std::atomic<bool> sigintCame{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int) {
  sigintCame.store(true);
  host::CancelRayTests(true);
}

}  // namespace

CalculationInterrupt::CalculationInterrupt() {
  sigintCame.store(false);
  struct sigaction current {};
  if (::sigaction(SIGINT, nullptr, &current) != 0) return;
  const bool answered = (current.sa_flags & SA_SIGINFO) != 0 ||
                        (current.sa_handler != SIG_IGN && current.sa_handler != SIG_DFL);
  if (!answered) return;
  struct sigaction ours {};
  ours.sa_handler = &OnInterrupt;
  sigemptyset(&ours.sa_mask);
  installed_ = ::sigaction(SIGINT, &ours, &previous_) == 0;
}

CalculationInterrupt::~CalculationInterrupt() {
  // The ray tests stay cancelled until the calculation left behind ends.
  if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
}

void CalculationInterrupt::cancel() noexcept { OnInterrupt(SIGINT); }

bool CalculationInterrupt::interrupted() const noexcept { return sigintCame.load(); }

void RaiseInterrupted() {
  PyErr_SetInterruptEx(SIGINT);
  if (PyErr_CheckSignals() != 0) throw pybind11::error_already_set();
  PyErr_SetNone(PyExc_KeyboardInterrupt);
  throw pybind11::error_already_set();
}

}  // namespace python
