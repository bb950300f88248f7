// The target-list callbacks and access to an instance's target records.
#include <cstring>

#include "instance/instance.h"
#include "host_interface/memory.h"

namespace ostrand {
namespace {

TargetEntry* RecordAt(void* records, int32_t index) {
  return reinterpret_cast<TargetEntry*>(static_cast<unsigned char*>(records) +
                                        static_cast<ptrdiff_t>(index) * static_cast<ptrdiff_t>(sizeof(TargetEntry)));
}

}  // namespace

void FreeTargetArrays(TargetEntry* target) {
  FreeArray(target->CageIndices);
  FreeArray(target->CageRefs);
  FreeArray(target->WeightOffsets);
  FreeArray(target->Weights);
  FreeArray(target->OutPositions);
  FreeArray(target->RestPositions);
  FreeArray(target->SetupPositions);
  FreeArray(target->PointIndices);
  FreeArray(target->WeightCounts);
}

extern "C" void InitTargetEntry(void* records, int32_t index, uint32_t objectId) {
  if (records == nullptr) return;
  TargetEntry* target = RecordAt(records, index);
  std::memset(target, 0, sizeof *target);
  target->ObjectId = objectId;
}

extern "C" void FreeTargetEntry(void* records, int32_t index) {
  if (records == nullptr) return;
  TargetEntry* target = RecordAt(records, index);
  FreeTargetArrays(target);
  target->ActiveCount = 0;
  target->PointCount = 0;
  target->ObjectId = 0;
}

extern "C" void CopyTargetEntry(void* srcRecords, int32_t srcIndex, void* dstRecords, int32_t dstIndex) {
  if (srcRecords == nullptr || dstRecords == nullptr) return;
  // The two records share their arrays afterwards; the service drops one of them.
  std::memmove(RecordAt(dstRecords, dstIndex), RecordAt(srcRecords, srcIndex), sizeof(TargetEntry));
}

int32_t TargetCount(const EffectInstance* instance) {
  const TargetTable* table = instance->Targets;
  if (table == nullptr || table->count <= 0 || table->records == nullptr) return 0;
  return table->count;
}

TargetEntry* TargetAt(const EffectInstance* instance, int32_t index) {
  return &instance->Targets->records[index];
}

}  // namespace ostrand
