// Writing an instance's weights to a weights file and reading them back.
//
// Layout, every value a big-endian 32-bit word: a header (marker 1, Mode,
// CagePoints, CagePolys, number of targets), then per target PointCount,
// ActiveCount, WeightCount and, with Mode 0 only, one block per active point
// (point number, n, then n pairs of cage point number and weight as a single).
#include "operations/weights_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "operations/weights_records.h"
#include "operations/weights_stream.h"
#include "instance/instance.h"
#include "platform/file_replace.h"
#include "platform/file_size.h"
#include "platform/paths.h"
#include "host_interface/host_function_table.h"
#include "host_interface/memory.h"
#include "host_interface/messages.h"
#include "ostrand/settings.h"

namespace ostrand {
namespace {

constexpr uint32_t kFormatMarker = 1;

// WeightsPath as a file name: null when empty, not terminated within its
// buffer, or ending in a separator. The last names a folder, never a file:
// it is what an empty name stored in a scene becomes when the scene is loaded,
// so it means "no weights file" as the empty name does.
const char* FileName(const EffectInstance* instance) {
  const char* path = instance->WeightsPath;
  const void* end = std::memchr(path, '\0', sizeof instance->WeightsPath);
  if (path[0] == '\0' || end == nullptr) return nullptr;
  const char last = static_cast<const char*>(end)[-1];
  if (last == '/' || (kPlatformPaths.driveLetters && last == '\\')) return nullptr;  // Windows takes both
  return path;
}

// True when the target's compact arrays are there for its counts and its
// per-point counts add up to WeightCount, so that writing stays inside them.
bool HoldsCompactWeights(const TargetEntry* target) {
  if (target->ActiveCount == 0) return target->WeightCount == 0;
  if (target->ActiveCount > INT32_MAX || target->PointIndices == nullptr || target->WeightCounts == nullptr)
    return false;
  int64_t sum = 0;
  for (uint32_t j = 0; j < target->ActiveCount; ++j) {
    if (target->WeightCounts[j] < 0) return false;
    sum += target->WeightCounts[j];
  }
  if (sum != target->WeightCount) return false;
  return sum == 0 || (target->Weights != nullptr && target->CageIndices != nullptr);
}

void WriteTarget(WordWriter& out, int32_t mode, const TargetEntry* target) {
  out.write(static_cast<uint32_t>(target->PointCount));
  if (mode == 0 && !HoldsCompactWeights(target)) {
    out.write(0);
    out.write(0);
    return;
  }
  out.write(target->ActiveCount);
  out.write(static_cast<uint32_t>(target->WeightCount));
  if (mode != 0) return;
  int32_t next = 0;
  for (uint32_t j = 0; j < target->ActiveCount; ++j) {
    const int32_t n = target->WeightCounts[j];
    out.write(target->PointIndices[j]);
    out.write(static_cast<uint32_t>(n));
    for (int32_t k = 0; k < n; ++k, ++next) {
      out.write(static_cast<uint32_t>(target->CageIndices[next]));
      out.write(SingleBits(target->Weights[next]));
    }
  }
}

// Checks the header against the instance.
bool HeaderMatches(WordReader& in, const EffectInstance* instance) {
  uint32_t marker, cagePoints;
  int32_t mode, cagePolys, targets;
  if (!in.read(&marker) || !in.read(&mode) || !in.read(&cagePoints) || !in.read(&cagePolys) || !in.read(&targets))
    return false;
  return marker == kFormatMarker && mode == instance->Mode && cagePoints == instance->CagePoints &&
         cagePolys == instance->CagePolys && targets > 0 && targets == TargetCount(instance);
}

// Reads every record into staged[]; false when any is unsound, when the file
// has more after the last one, or when memory runs out (*outOfMemory set).
bool ReadAllRecords(WordReader& in, const EffectInstance* instance, const TargetCounts* counts,
                    StagedTarget* staged, int32_t targets, bool* outOfMemory) {
  const RecordLimits limits{instance->Mode, instance->CagePoints, instance->CagePositions};
  for (int32_t t = 0; t < targets; ++t) {
    if (!ReadTargetRecord(in, limits, counts[t].PointCount, &staged[t])) {
      *outOfMemory = staged[t].outOfMemory;
      return false;
    }
  }
  return in.atEnd();
}

// Added to the file's name for the file written first, in the same folder
// so that it can take the named file's place in one step.
constexpr char kTemporarySuffix[] = ".tmp";

// The most of a file name an error shows: messages are cut at 1023
// characters, and the reason after the name must never be lost.
constexpr size_t kShownNameLength = 800;

// A weights file that was not written is a lost calculation unless the user
// hears of it. A longer name is shown by its end, which names the file.
void TellNotWritten(const EffectInstance* instance, const char* reason) {
  const char* shown = instance->WeightsPath;
  const size_t length = std::strlen(shown);
  const char* cut = length > kShownNameLength ? "..." : "";
  if (length > kShownNameLength) shown += length - kShownNameLength;
  ShowErrorFormat(instance->EffectId,
                  "The weights file \"%s%s\" could not be written (%s); the previous file is unchanged.", cut,
                  shown, reason);
}

// A failing heap is not a file error: unlike those, the user hears of it.
void TellOutOfMemory(const EffectInstance* instance) {
  ShowErrorFormat(instance->EffectId,
                  "Not enough memory to read the weights file \"%s\"; the weights stay as they were.",
                  instance->WeightsPath);
}

// Hands the staged records over to the targets. Cannot fail.
void Replace(EffectInstance* instance, const TargetCounts* counts, StagedTarget* staged, int32_t targets) {
  for (int32_t t = 0; t < targets; ++t) {
    TargetEntry* target = TargetAt(instance, t);
    TargetEntry& entry = staged[t].entry;
    target->PointCount = counts[t].PointCount;
    FreeTargetArrays(target);
    if (!staged[t].matches) {
      // Its weights were made for other points: evaluation must leave it alone.
      target->ActiveCount = 0;
      target->WeightCount = 0;
      continue;
    }
    target->ActiveCount = entry.ActiveCount;
    target->WeightCount = entry.WeightCount;
    if (instance->Mode != 0) continue;  // the file holds counts only
    for (uint32_t j = 0; j < entry.ActiveCount; ++j)
      FX(fxMeshPoint)(target->ObjectId, static_cast<int32_t>(entry.PointIndices[j]), &entry.SetupPositions[j], 1);
    target->PointIndices = entry.PointIndices;
    target->RestPositions = entry.RestPositions;
    target->SetupPositions = entry.SetupPositions;
    target->WeightCounts = entry.WeightCounts;
    target->WeightOffsets = entry.WeightOffsets;
    target->Weights = entry.Weights;
    target->CageRefs = entry.CageRefs;
    target->CageIndices = entry.CageIndices;
    target->OutPositions = entry.OutPositions;
    std::memset(&entry, 0, sizeof entry);
  }
}

void ReadOpenFile(FILE* file, EffectInstance* instance) {
  const int32_t targets = TargetCount(instance);
  const int64_t size = FileSize(file);
  if (size < 0 || targets == 0) return;
  // CageRefs will point into CagePositions: it must be there for CagePoints.
  if (instance->Mode == kModeWeights && instance->CagePoints > 0 && instance->CagePositions == nullptr) return;

  TargetCounts* counts = nullptr;
  StagedTarget* staged = nullptr;
  if (!AllocateArray(counts, static_cast<size_t>(targets)) || !AllocateArray(staged, static_cast<size_t>(targets))) {
    FreeArray(counts);
    TellOutOfMemory(instance);
    return;
  }
  CountActivePoints(instance, counts);

  WordReader in(file, size);
  bool outOfMemory = false;
  if (HeaderMatches(in, instance) && ReadAllRecords(in, instance, counts, staged, targets, &outOfMemory))
    Replace(instance, counts, staged, targets);
  if (outOfMemory) TellOutOfMemory(instance);

  for (int32_t t = 0; t < targets; ++t) FreeStagedTarget(&staged[t]);
  FreeArray(staged);
  FreeArray(counts);
}

}  // namespace

void CountActivePoints(const EffectInstance* instance, TargetCounts* counts) {
  for (int32_t t = 0; t < TargetCount(instance); ++t) {
    const TargetEntry* target = TargetAt(instance, t);
    TargetCounts& c = counts[t];
    c.PointCount = HostPointCount(target->ObjectId);
    c.ActiveCount = static_cast<uint32_t>(CountActive(target->ObjectId, c.PointCount, instance->SetupMask));
    const int64_t dense = static_cast<int64_t>(c.ActiveCount) * instance->CagePoints;
    c.WeightCount = dense > INT32_MAX ? INT32_MAX : static_cast<int32_t>(dense);
  }
}

void WriteWeightsFile(const EffectInstance* instance) {
  if (instance->Mode == kModeNoWeights) return;
  const char* name = FileName(instance);
  if (name == nullptr) return;
  char temporary[sizeof instance->WeightsPath];
  const int temporaryLength = std::snprintf(temporary, sizeof temporary, "%s%s", name, kTemporarySuffix);
  if (temporaryLength < 0 || temporaryLength >= static_cast<int>(sizeof temporary)) {
    TellNotWritten(instance, "the name leaves no room for the temporary file beside it");
    return;
  }
  errno = 0;
  FILE* file = std::fopen(temporary, "wb");
  if (file == nullptr) {
    TellNotWritten(instance, std::strerror(errno != 0 ? errno : EIO));
    return;
  }

  WordWriter out(file);
  const int32_t targets = TargetCount(instance);
  out.write(kFormatMarker);
  out.write(static_cast<uint32_t>(instance->Mode));
  out.write(instance->CagePoints);
  out.write(static_cast<uint32_t>(instance->CagePolys));
  out.write(static_cast<uint32_t>(targets));
  for (int32_t t = 0; t < targets; ++t) WriteTarget(out, instance->Mode, TargetAt(instance, t));
  int error = out.finish();
  const int closed = CloseFile(file);
  if (error == 0) error = closed;
  if (error == 0) error = MoveFileOver(temporary, name);
  if (error == 0) return;
  std::remove(temporary);
  TellNotWritten(instance, std::strerror(error));
}

void ReadWeightsFile(EffectInstance* instance) {
  if (instance->Mode == kModeNoWeights) return;
  const char* name = FileName(instance);
  if (name == nullptr) return;
  FILE* file = std::fopen(name, "rb");
  if (file == nullptr) return;
  ReadOpenFile(file, instance);
  std::fclose(file);
}

}  // namespace ostrand
