// One run at a time in an output folder: a run holds an advisory lock on
// .ostrand-lock in each folder it writes into, and removes the file at its
// end. The lock goes with the process that holds it, so a lock file left by
// a run that was killed is simply taken over.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "driver/interruption.h"

namespace cli {

inline constexpr const char* kLockName = ".ostrand-lock";

class FolderLock : public driver::Undo {
 public:
  // Takes the folder's lock. When another run holds it: with wait, calls
  // waiting (with the other run's process id, 0 when unknown) once and waits;
  // without, throws UserError (refused) naming the folder and the other process.
  // Throws FolderGone when the folder is not there (another run made it
  // and removed it again): make it anew and try again.
  FolderLock(const std::filesystem::path& folder, bool wait, const std::function<void(long)>& waiting);
  ~FolderLock() override;

  void undoOnSignal() noexcept override;

  struct FolderGone {};

 private:
  // Keeps the lock just taken on descriptor when the name still leads to its
  // file; else closes it and returns false (another run removed the file).
  bool take(int descriptor);
  void release() noexcept;

  std::filesystem::path file_;
  int descriptor_ = -1;
};

}  // namespace cli
