// Records shared between the module and the host (64-bit layouts).
//
// These are plain C records: the host's target-list service stores TargetEntry
// records back to back at sizeof(TargetEntry), and the geometry module hands out
// TriangulatedCage records in the layout below. Offsets are checked at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef struct Vec3 {
  double x, y, z;
} Vec3;

typedef void* (*HostLookup)(const char* name, uint32_t group);
typedef int32_t (*ModuleCallback)(void* handle, uint32_t effectId, int32_t message, uint64_t argument);
typedef int32_t (*ControlCallback)(uint32_t control, uint32_t effectId, void* unused, uint64_t event);

typedef void (*TargetInitFn)(void* records, int32_t index, uint32_t objectId);
typedef void (*TargetFreeFn)(void* records, int32_t index);
typedef void (*TargetCopyFn)(void* srcRecords, int32_t srcIndex, void* dstRecords, int32_t dstIndex);

// One target object of an effect and its computed cage coordinates. Arrays are
// single heap blocks owned by the record (null when empty). Between the
// preparation and the compaction of a calculation, Weights is dense
// (ActiveCount x CagePoints); afterwards it holds only the non-zero weights.
typedef struct TargetEntry {
  uint32_t ObjectId;
  int32_t PointCount;
  int32_t WeightCount;
  uint32_t ActiveCount;
  uint32_t* PointIndices;
  Vec3* RestPositions;
  Vec3* SetupPositions;
  int32_t* WeightCounts;
  int32_t* WeightOffsets;
  double* Weights;
  Vec3** CageRefs;
  int32_t* CageIndices;
  Vec3* OutPositions;
  uint64_t Reserved[2];
} TargetEntry;

// Owned by the host's target-list service; the module reads count and records
// and never resizes the table.
typedef struct TargetTable {
  int32_t count;
  uint8_t serviceOwn[12];
  TargetEntry* records;
} TargetTable;

struct EffectInstance;
typedef void (*PrepareEvaluationFn)(struct EffectInstance* instance);
typedef void (*DisplaceFn)(struct EffectInstance* instance, TargetEntry* target);

enum { kWeightsPathSize = 6144 };

// The per-effect state. The host keeps a pointer to it under kInstanceDataKey
// (ostrand/protocol.h).
typedef struct EffectInstance {
  uint32_t EffectId;
  int32_t Mode;  // -1: no weights; 0: weights calculated or loaded
  int32_t Weight[3];  // weight map blending the deformation (map, part, unused)
  uint32_t SetupMask;  // weight map choosing the active points at calculation
  PrepareEvaluationFn PrepareEvaluation;
  DisplaceFn DisplacePlain;
  DisplaceFn DisplaceWeighted;
  TargetTable* Targets;
  uint32_t Cage;
  uint32_t CagePoints;
  Vec3* CagePositions;
  int32_t Samples;
  double Tolerance;
  int32_t ScaleWeight[3];
  int32_t CagePolys;
  char WeightsPath[kWeightsPathSize];
} EffectInstance;

// The geometry module's triangulation of an object: one record per polygon, in
// polygon order, each with triangleCount triangles of three point numbers.
typedef struct TriangulatedPolygon {
  int32_t triangleCount;
  int32_t unused;
  int32_t (*triangles)[3];
} TriangulatedPolygon;

typedef struct TriangulatedCage {
  int32_t polygonCount;
  int32_t unused;
  TriangulatedPolygon* polygons;
} TriangulatedCage;

}  // extern "C"

static_assert(sizeof(Vec3) == 24);
static_assert(sizeof(TargetEntry) == 104);
static_assert(offsetof(TargetEntry, PointIndices) == 16);
static_assert(offsetof(TargetEntry, OutPositions) == 80);
static_assert(offsetof(TargetEntry, Reserved) == 88);
static_assert(offsetof(TargetTable, records) == 16);
static_assert(sizeof(TriangulatedPolygon) == 16);
static_assert(offsetof(TriangulatedPolygon, triangles) == 8);
static_assert(offsetof(TriangulatedCage, polygons) == 8);
