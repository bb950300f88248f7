#include "checks/bind_checks.h"

#include <algorithm>
#include <cstdio>

#include "checks/rest_errors.h"
#include "driver/weights_check.h"

namespace checks {

namespace {

std::string Fraction(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

driver::BindStatistics Measure(const driver::Session& session, double weightFloor) {
  return driver::MeasureBinding(session.instance(), session.cageRest(), session.targetRest(), weightFloor);
}

// The setup weight map that leaves the given points out as well.
uint32_t LeaveOut(driver::Session& session, uint32_t setupMap, const std::vector<uint32_t>& points) {
  std::vector<float> values = session.weightMapValues(setupMap);
  if (values.empty()) values.assign(session.targetRest().points.size(), 1.0f);
  for (uint32_t point : points) values.at(point) = 0.0f;
  return session.addWeightMap("bound points", std::move(values));
}

// Binds once more without the floor and compares: a warning when the floor
// takes more points above the threshold. The weights held afterwards are the
// floored ones again.
void CompareWithoutFloor(driver::Session& session, const BindCheckSettings& settings, uint32_t setupMap,
                         const driver::BindStatistics& floored, Warnings& warnings) {
  const ErrorsAbove with = PointsAbove(floored, settings.warnRestError);
  if (with.points.empty()) return;
  session.calculate({settings.samples, 0.0, setupMap}, settings.subject);
  const ErrorsAbove without = PointsAbove(Measure(session, 0.0), settings.warnRestError);
  session.calculate({settings.samples, settings.weightFloor, setupMap}, settings.subject);
  if (with.points.size() <= without.points.size()) return;
  warnings.add("weight floor " + Fraction(settings.weightFloor) + " takes the rest-pose error above " +
               Fraction(settings.warnRestError) + " of the cage's size at " +
               Counted(with.points.size(), "point", "points") + " (" + std::to_string(without.points.size()) +
               " without the floor), largest " + Fraction(RoundedUp(with.largest)) + " at point " +
               std::to_string(with.largestAt + 1) + "; a lower floor keeps the weights those points need");
}

}  // namespace

void CheckSetupWeights(const std::vector<float>& values, const std::string& subject) {
  if (std::all_of(values.begin(), values.end(), [](float value) { return value == 0.0f; }))
    throw driver::UserError(driver::ErrorKind::kInput, subject, "every value is 0, so no point would be bound");
}

std::string UnboundText(const driver::BindStatistics& stats, const std::string& cause) {
  std::string text = std::to_string(stats.unbound.size()) + " of " + std::to_string(stats.targetPoints) +
                     " points got no weights: " + PointNumbers(stats.unbound);
  if (!cause.empty()) text += " (likely cause: " + cause + ")";
  return text;
}

void CheckUnbound(const driver::BindStatistics& stats, const std::string& cause, const BindCheckSettings& settings,
                  const std::string& kept, Warnings& warnings) {
  if (stats.unbound.empty()) return;
  const std::string text = UnboundText(stats, cause);
  if (!settings.allowUnbound)
    throw UnboundPointsError(settings.subject, text + "; " + settings.allowUnboundOption + " keeps them where they are",
                             stats.unbound);
  warnings.add(text + "; " + kept);
}

std::vector<uint32_t> BindChecked(driver::Session& session, const BindCheckSettings& settings, uint32_t setupMap,
                                  const std::function<std::string()>& likelyCause, Warnings& warnings) {
  session.calculate({settings.samples, settings.weightFloor, setupMap}, settings.subject);
  // Weights no bind should give (from a degenerate cage) would be saved as they are.
  const driver::WeightsDamage damage =
      driver::FindWeightsDamage(session.instance(), session.targetRest().points.size());
  if (!damage.empty()) {
    const std::string cause = likelyCause();
    throw CheckError(settings.subject,
                     driver::DescribeWeightsDamage(damage) + (cause.empty() ? "" : " (likely cause: " + cause + ")"));
  }
  driver::BindStatistics stats = Measure(session, settings.weightFloor);
  std::vector<uint32_t> kept;
  if (!stats.unbound.empty()) {
    const std::string cause = likelyCause();
    if (stats.pointsBound == 0 && settings.allowUnbound)
      throw UnboundPointsError(settings.subject, UnboundText(stats, cause), stats.unbound);
    CheckUnbound(stats, cause, settings, "they are kept where they are", warnings);
    // Each point's weights are its own: binding again without the unbound
    // points gives the others the same weights, and leaves these untouched.
    setupMap = LeaveOut(session, setupMap, stats.unbound);
    session.calculate({settings.samples, settings.weightFloor, setupMap}, settings.subject);
    kept = std::move(stats.unbound);
    stats = Measure(session, settings.weightFloor);
  }
  if (settings.weightFloor > 0.0) CompareWithoutFloor(session, settings, setupMap, stats, warnings);
  return kept;
}

void WarnRestErrors(const driver::BindStatistics& stats, double threshold, Warnings& warnings) {
  const ErrorsAbove above = PointsAbove(stats, threshold);
  if (above.points.empty()) return;
  warnings.add("rest-pose error above " + Fraction(threshold) + " of the cage's size at " +
               Counted(above.points.size(), "point", "points") + ", largest " + Fraction(RoundedUp(above.largest)) +
               " at point " + std::to_string(above.largestAt + 1) + ": " + PointNumbers(above.points));
}

}  // namespace checks
