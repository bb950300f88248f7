// The PC2 reader: see point_cache_fuzzing.h for what each input is checked for.
#include "point_cache_fuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return point_cache_fuzzing::FuzzOneInput(data, size, host::PointCacheFormat::kPc2);
}
