// The checks around a bind and a read of weights, the same for every front
// end: setup weights that pick no point, points left without weights (which
// the module would move to the origin with the cage), weights no bind gives,
// and rest-pose errors the weights or the weight floor bring. Messages name
// points as the command does, from 1 (the n-th "v" line of an OBJ file).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "checks/warnings.h"
#include "driver/bind_statistics.h"
#include "driver/session.h"
#include "driver/user_error.h"

namespace checks {

// A check refused the weights: nothing bound or read should be kept.
class CheckError : public driver::UserError {
 public:
  CheckError(const std::string& subject, const std::string& problem)
      : driver::UserError(driver::ErrorKind::kRefused, subject, problem) {}
};

// Points got no weights, or hold none: which (target point indices, ascending).
class UnboundPointsError : public CheckError {
 public:
  UnboundPointsError(const std::string& subject, const std::string& problem, std::vector<uint32_t> points)
      : CheckError(subject, problem), points_(std::move(points)) {}
  const std::vector<uint32_t>& points() const { return points_; }

 private:
  std::vector<uint32_t> points_;
};

// The bounds of BindCheckSettings::warnRestError, as both front ends take it.
inline constexpr double kLeastWarnRestError = 0.0;
inline constexpr double kMostWarnRestError = 1.0;

struct BindCheckSettings {
  int samples = 32;
  double weightFloor = 0.0;
  bool allowUnbound = false;    // points without weights stay where they are, with a warning
  double warnRestError = 0.01;  // fraction of the cage's size
  std::string subject;          // what errors name: the target's file, or the argument it came in
  std::string allowUnboundOption = "--allow-unbound";  // how the user asks for allowUnbound
};

// Setup weights whose every value is 0 would bind no point: throws UserError
// (input) naming subject, the file or argument they came in.
void CheckSetupWeights(const std::vector<float>& values, const std::string& subject);

// "17 of 2117 points got no weights: 3, 8, 11, 12, 40, ... (likely cause: CAUSE)"
std::string UnboundText(const driver::BindStatistics& stats, const std::string& cause);

// Points without weights in stats, when there are any: throws
// UnboundPointsError ("SUBJECT: TEXT; OPTION keeps them where they are"), or
// with allowUnbound warns "TEXT; KEPT", where kept says what becomes of them.
// Of settings only subject, allowUnbound and allowUnboundOption count here.
void CheckUnbound(const driver::BindStatistics& stats, const std::string& cause, const BindCheckSettings& settings,
                  const std::string& kept, Warnings& warnings);

// Presses "Calculate" with the settings. Weights no bind gives throw
// CheckError. When points get no weights it throws UnboundPointsError naming
// them, or (allowUnbound) binds again with them left out through a setup
// weight map of their own ("bound points"), so that the module keeps them
// where they are, and warns; when no point is bound at all it throws even so.
// When the weight floor takes points' rest-pose error above the threshold,
// warns. likelyCause names what the cage check found. Returns the points kept
// where they are. UserError from the module names settings.subject.
std::vector<uint32_t> BindChecked(driver::Session& session, const BindCheckSettings& settings, uint32_t setupMap,
                                  const std::function<std::string()>& likelyCause, Warnings& warnings);

// Warns of the points whose rest-pose error is above the threshold.
void WarnRestErrors(const driver::BindStatistics& stats, double threshold, Warnings& warnings);

}  // namespace checks
