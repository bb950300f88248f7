// Undoing a program's unfinished work when it is told to stop (SIGINT,
// SIGTERM, SIGHUP). What a run changes on disk (files put in place, folders
// made, a lock taken, a private copy of the module) registers an Undo; a
// signal then runs every registered Undo, latest first, and ends the process.
//
// The signals are never handled asynchronously: InstallSignalWatcher blocks
// them in every thread and one thread of its own waits for them. A change
// that must not be seen half done is made while holding Step(), which the
// watcher takes before it undoes anything, so an Undo always finds what it
// undoes either wholly before or wholly after each such change.
#pragma once

#include <mutex>
#include <string>

namespace driver {

class Undo {
 public:
  // Registers this object; the derived class must be fully built before a
  // signal can reach it, so derived constructors call enroll() last.
  Undo() = default;
  virtual ~Undo();
  Undo(const Undo&) = delete;
  Undo& operator=(const Undo&) = delete;

  // Called on the watcher's thread with Step() held, after the Undo objects
  // registered later than this one. The process ends right afterwards.
  virtual void undoOnSignal() noexcept = 0;
  // What it did, for the line printed on the way out ("" for nothing to say).
  virtual std::string undoneText() const { return ""; }

 protected:
  void enroll();
  void withdraw();

 private:
  bool registered_ = false;
};

// Held around every change an Undo must see whole. Re-entrant.
std::unique_lock<std::recursive_mutex> Step();

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread (and so in every
// thread made from it afterwards) and starts the thread that waits for them.
// Call it before any other thread is made. On a signal the watcher undoes
// what is registered, prints "<program>: interrupted (SIGINT): <what was
// done>" on stderr and ends the process with 128 + the signal's number.
// beforeUndo runs first (ending a progress line, say).
void InstallSignalWatcher(const std::string& program, void (*beforeUndo)());

}  // namespace driver
