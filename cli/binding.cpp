#include "cli/binding.h"

#include <algorithm>

#include "driver/user_error.h"
#include "driver/weights_check.h"

namespace cli {

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
void CompareWithoutFloor(driver::Session& session, const Job& job, uint32_t setupMap, const driver::BindStatistics& floored,
                         Warnings& warnings) {
  const ErrorsAbove with = PointsAbove(floored, job.warnRestError);
  if (with.points.empty()) return;
  session.calculate({job.samples, 0.0, setupMap}, job.target);
  const ErrorsAbove without = PointsAbove(Measure(session, 0.0), job.warnRestError);
  session.calculate({job.samples, job.weightFloor, setupMap}, job.target);
  if (with.points.size() <= without.points.size()) return;
  warnings.add("weight floor " + Fraction(job.weightFloor) + " takes the rest-pose error above " +
               Fraction(job.warnRestError) + " of the cage's size at " +
               Counted(with.points.size(), "point", "points") + " (" + std::to_string(without.points.size()) +
               " without the floor), largest " + Fraction(RoundedUp(with.largest)) + " at point " +
               std::to_string(with.largestAt + 1) + "; a lower floor keeps the weights those points need");
}

}  // namespace

std::string UnboundText(const driver::BindStatistics& stats, const std::string& cause) {
  std::string text = std::to_string(stats.unbound.size()) + " of " + std::to_string(stats.targetPoints) +
                     " points got no weights: " + PointNumbers(stats.unbound);
  if (!cause.empty()) text += " (likely cause: " + cause + ")";
  return text;
}

size_t BindChecked(driver::Session& session, const Job& job, uint32_t setupMap, const std::function<std::string()>& likelyCause,
                   Warnings& warnings) {
  session.calculate({job.samples, job.weightFloor, setupMap}, job.target);
  // Weights no bind should give (from a degenerate cage) would be saved as they are.
  const driver::WeightsDamage damage =
      driver::FindWeightsDamage(session.instance(), session.targetRest().points.size());
  if (!damage.empty()) {
    const std::string cause = likelyCause();
    throw driver::UserError(job.target, driver::DescribeWeightsDamage(damage) +
                                            (cause.empty() ? "" : " (likely cause: " + cause + ")"));
  }
  driver::BindStatistics stats = Measure(session, job.weightFloor);
  size_t kept = 0;
  if (!stats.unbound.empty()) {
    const std::string text = UnboundText(stats, likelyCause());
    if (!job.allowUnbound) throw driver::UserError(job.target, text + "; --allow-unbound keeps them where they are");
    if (stats.pointsBound == 0) throw driver::UserError(job.target, text);
    // Each point's weights are its own: binding again without the unbound
    // points gives the others the same weights, and leaves these untouched.
    setupMap = LeaveOut(session, setupMap, stats.unbound);
    session.calculate({job.samples, job.weightFloor, setupMap}, job.target);
    kept = stats.unbound.size();
    warnings.add(text + "; they are kept where they are");
    stats = Measure(session, job.weightFloor);
  }
  if (job.weightFloor > 0.0) CompareWithoutFloor(session, job, setupMap, stats, warnings);
  return kept;
}

void WarnRestErrors(const driver::BindStatistics& stats, double threshold, Warnings& warnings) {
  const ErrorsAbove above = PointsAbove(stats, threshold);
  if (above.points.empty()) return;
  warnings.add("rest-pose error above " + Fraction(threshold) + " of the cage's size at " +
               Counted(above.points.size(), "point", "points") + ", largest " + Fraction(RoundedUp(above.largest)) +
               " at point " + std::to_string(above.largestAt + 1) + ": " + PointNumbers(above.points));
}

}  // namespace cli
