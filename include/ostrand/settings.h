// The effect's settings as every front end takes them: the panel's controls,
// the scene's keys, the command's options and the Python module's arguments
// all read their values and bounds here (docs/architecture.md, "Glossary",
// names them side by side).
#pragma once

#include <cstdint>

namespace ostrand {

// EffectInstance::Mode: whether the instance holds weights.
inline constexpr int32_t kModeNoWeights = -1;  // new, or never calculated nor loaded
inline constexpr int32_t kModeWeights = 0;     // calculated, or loaded from a weights file

// "Samples": rays per point. The panel offers kLeastSamples to kMostSamples,
// a new effect starts at kDefaultSamples.
inline constexpr int32_t kDefaultSamples = 32;
inline constexpr int32_t kLeastSamples = 1;
inline constexpr int32_t kMostSamples = 1000;

// "Weight floor": weights below it are dropped; the panel offers
// kLeastWeightFloor to kMostWeightFloor.
inline constexpr double kLeastWeightFloor = 0.0;
inline constexpr double kMostWeightFloor = 1.0;

// "Threads": worker threads, from kLeastThreads to kMostThreads.
inline constexpr int32_t kLeastThreads = 1;
inline constexpr int32_t kMostThreads = 128;

}  // namespace ostrand
