// The settings file "Ostrand.ini" and the log file "ostrand.log", kept in the
// directory of the module file.
#pragma once

#include <cstddef>

namespace ostrand {

// Builds logPath and settingsPath from the module file's path that the host
// reports (two requests, the log's first). A path that does not fit its
// 2048-byte buffer is left empty and that file is skipped.
void BuildFilePaths();

// Appends one line (which carries its own line end) to the log: open, write,
// close. Skipped when the log cannot be opened.
void appendLogLine(const char* text);

// Empties the log file (creating it).
void EmptyLog();

// Reads num_threads from the settings file, creating the file with its default
// lines (and num_threads 4) when it is missing. Logs the settings path first.
void readSettings();

// Rewrites the settings file with the single line "num_threads: <count>".
void writeSettings();

// The number a settings line gives, when it is a num_threads line whose value
// (parsed from its 14th character on) is above 0; otherwise 0.
int ParseThreadsLine(const char* line);

// Writes into out (of outSize bytes) the directory part of path, up to and
// including its last separator (the whole path when it has none), followed by
// name. Returns false, leaving out empty, when the result does not fit.
bool PathBeside(char* out, size_t outSize, const char* path, const char* name);

}  // namespace ostrand
