// A private copy of the module file, for a run whose settings are its own.
// The module keeps its settings file ("Ostrand.ini") and its log beside its
// module file and rewrites the settings whenever the "Threads" control
// changes; loaded from a copy in a folder of its own (with a copy of the
// settings file, so that it starts from the same count), the module writes
// there and never touches the settings of the module the user installed,
// whatever happens to the process. The folder goes with the copy, or on a
// signal; one left by a process that was killed outright is removed by the
// next copy made.
#pragma once

#include <string>

#include "driver/interruption.h"

namespace driver {

class PrivateModuleCopy : public Undo {
 public:
  // Throws UserError naming modulePath when the copy cannot be made (refused:
  // as when the plug-in cannot be loaded, the session cannot start).
  explicit PrivateModuleCopy(const std::string& modulePath);
  ~PrivateModuleCopy() override;

  const std::string& path() const { return path_; }  // the copy's module file

  void undoOnSignal() noexcept override;

 private:
  void remove() noexcept;

  std::string folder_, path_;
  long maker_ = 0;  // the process that made the folder
};

}  // namespace driver
