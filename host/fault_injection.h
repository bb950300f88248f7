// Faults the host stand-in commits on request: chosen host functions answer as
// a careless or hostile host might (bad counts, short or unterminated buffers,
// null records), so that tests and fuzzers can check that the module survives
// every such answer, tells the user and keeps its data consistent.
//
// Nothing is armed by default. While nothing is armed, each hooked host
// function pays one relaxed load and one predictable branch; the hooks sit in
// the functions themselves (mesh_functions.cpp, data_and_formats.cpp,
// messages.cpp, triangulate.cpp). Services the host does not offer at all are
// made with Host::missName before the module looks them up.
//
// Arm and disarm only while the module is not running: the plan is read, not
// locked, by the host functions the module calls from its worker threads.
#pragma once

#include <atomic>
#include <cstdint>

namespace host {

enum class Fault : int {
  kNegativePointCount,        // fxMeshNumPoints answers -7
  kHugePointCount,            // fxMeshNumPoints answers INT32_MAX
  kNegativePolygonCount,      // fxMeshNumPolys answers -7
  kHugePolygonCount,          // fxMeshNumPolys answers INT32_MAX
  kPointNotFinite,            // fxMeshPoint answers (NaN, +inf, -inf)
  kPolygonCountAboveWritten,  // fxMeshPoly reports 5 points more than it writes
  kPolygonHugeCount,          // fxMeshPoly reports INT32_MAX points and writes the real ones
  kPolygonNegativeCount,      // fxMeshPoly reports -3 points and writes none
  kPolygonPointsOutside,      // fxMeshPoly writes point numbers from the mesh's point count up
  kPolygonPointsNegative,     // fxMeshPoly writes point numbers -1, -2, ...
  kDataGetNull,               // fxDataGet answers null
  kTriangulateNull,           // useful_TriangulateTarget answers null
  kTriangulateNegativePolygons,   // a record with polygonCount -3 and a non-null polygons block
  kTriangulateNegativeTriangles,  // the real record with every triangleCount -2
  kFormatNull,                // fxFormatGet and fxFormatNew answer null
  kNameUnterminated,          // fxObjectGetName fills its whole buffer with 'N', no NUL
  kPathUnterminated,          // fxPluginPath and fxPathGet fill their whole buffer with 'P', no NUL
  kStringUnterminated,        // fxArgLoadString fills its whole buffer with 'S', no NUL
  kCount
};

// Which calls of a fault's host functions answer badly.
struct FaultPlan {
  Fault fault;
  uint32_t object = 0;  // only calls about this object (or effect id); 0: every call
  long skip = 0;        // matching calls that answer normally first
  long times = -1;      // bad answers after those; -1: every later matching call
};

// Arms one fault; a kind armed again replaces its earlier plan. Several kinds
// may be armed at once.
void ArmFault(const FaultPlan& plan);
// Disarms every fault (the Host's destructor does too).
void DisarmFaults();
// Bad answers given since the process started, all kinds together; tests
// report it as the number of faults injected.
long FaultsInjected();
// Human-readable name of a fault, for test names and messages.
const char* FaultName(Fault fault);

// Arms a plan for the life of the object.
class ScopedFault {
 public:
  explicit ScopedFault(const FaultPlan& plan) { ArmFault(plan); }
  ~ScopedFault() { DisarmFaults(); }
  ScopedFault(const ScopedFault&) = delete;
  ScopedFault& operator=(const ScopedFault&) = delete;
};

namespace faults {

extern std::atomic<bool> anyArmed;

// The hooks' first test: false unless some fault is armed.
inline bool Armed() { return anyArmed.load(std::memory_order_relaxed); }

// Whether this call (about object, 0 when it concerns none) answers with that
// fault; counts the call against the plan's skip and times. Only called when
// Armed().
bool Strikes(Fault fault, uint32_t object);

}  // namespace faults
}  // namespace host
