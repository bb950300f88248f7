// Reading and checking one target record of a weights file.
#include "operations/weights_records.h"

#include <algorithm>

#include "instance/instance.h"
#include "host_interface/memory.h"

namespace ostrand {
namespace {

// Every point block takes at least 8 bytes and every weight pair 8 more, so a
// record can only describe as many points and weights as the file has bytes
// left: this bounds what a short or hostile file can make us allocate.
bool FitsInFile(const WordReader& in, uint32_t active, int32_t weightCount) {
  return (static_cast<int64_t>(active) + weightCount) * 8 <= in.remaining();
}

bool AllocateRecordArrays(TargetEntry* entry) {
  const size_t active = entry->ActiveCount;
  const size_t weights = static_cast<size_t>(entry->WeightCount);
  return AllocateArray(entry->PointIndices, active) && AllocateArray(entry->WeightCounts, active) &&
         AllocateArray(entry->WeightOffsets, active) && AllocateArray(entry->RestPositions, active) &&
         AllocateArray(entry->OutPositions, active) && AllocateArray(entry->SetupPositions, active) &&
         AllocateArray(entry->Weights, weights) && AllocateArray(entry->CageIndices, weights) &&
         AllocateArray(entry->CageRefs, weights);
}

// Reads the record's point blocks. With store null they are only checked;
// otherwise they fill store's arrays, which hold ActiveCount and WeightCount
// entries. pointLimit is the record's own point count.
bool ReadPointBlocks(WordReader& in, const RecordLimits& limits, int32_t pointLimit, uint32_t active,
                     int32_t weightCount, TargetEntry* store) {
  int32_t next = 0;  // running position in Weights, never above weightCount
  for (uint32_t j = 0; j < active; ++j) {
    int32_t point, n;
    if (!in.read(&point) || !in.read(&n)) return false;
    if (point < 0 || point >= pointLimit) return false;
    if (n < 0 || n > weightCount - next) return false;
    if (store) {
      store->PointIndices[j] = static_cast<uint32_t>(point);
      store->WeightCounts[j] = n;
      store->WeightOffsets[j] = next;
    }
    for (int32_t k = 0; k < n; ++k, ++next) {
      int32_t cagePoint;
      uint32_t bits;
      if (!in.read(&cagePoint) || !in.read(&bits)) return false;
      if (cagePoint < 0 || static_cast<uint32_t>(cagePoint) >= limits.cagePoints) return false;
      if (store) {
        store->CageIndices[next] = cagePoint;
        store->Weights[next] = FromSingleBits(bits);
        store->CageRefs[next] = &limits.cagePositions[cagePoint];
      }
    }
  }
  return next == weightCount;
}

// A point listed twice would be displaced twice, by two workers at once.
// Sorts a copy, whose memory may fail: outOfMemory then tells why.
bool PointsAreDistinct(const TargetEntry* entry, bool* outOfMemory) {
  if (entry->ActiveCount < 2) return true;
  uint32_t* sorted = nullptr;
  if (!AllocateArray(sorted, entry->ActiveCount)) {
    *outOfMemory = true;
    return false;
  }
  std::copy(entry->PointIndices, entry->PointIndices + entry->ActiveCount, sorted);
  std::sort(sorted, sorted + entry->ActiveCount);
  bool distinct = std::adjacent_find(sorted, sorted + entry->ActiveCount) == sorted + entry->ActiveCount;
  FreeArray(sorted);
  return distinct;
}

}  // namespace

bool ReadTargetRecord(WordReader& in, const RecordLimits& limits, int32_t hostPointCount, StagedTarget* staged) {
  TargetEntry& entry = staged->entry;
  int32_t pointCount, active, weightCount;
  if (!in.read(&pointCount) || !in.read(&active) || !in.read(&weightCount)) return false;
  if (pointCount < 0 || active < 0 || weightCount < 0) return false;
  staged->matches = pointCount == hostPointCount;
  entry.PointCount = pointCount;
  entry.ActiveCount = static_cast<uint32_t>(active);
  entry.WeightCount = weightCount;
  if (limits.mode != 0) return true;

  // The record of a target whose point count changed is read through but not kept.
  if (!staged->matches) return ReadPointBlocks(in, limits, pointCount, entry.ActiveCount, weightCount, nullptr);

  if (!FitsInFile(in, entry.ActiveCount, weightCount)) return false;
  staged->outOfMemory = !AllocateRecordArrays(&entry);
  bool ok = !staged->outOfMemory &&
            ReadPointBlocks(in, limits, pointCount, entry.ActiveCount, weightCount, &entry) &&
            PointsAreDistinct(&entry, &staged->outOfMemory);
  if (!ok) FreeStagedTarget(staged);
  return ok;
}

void FreeStagedTarget(StagedTarget* staged) { FreeTargetArrays(&staged->entry); }

}  // namespace ostrand
