// Binding in this run, and the checks around it: points the bind leaves
// without weights (which the module would move to the origin with the cage),
// and rest-pose errors the weights or the weight floor bring.
#pragma once

#include <functional>
#include <string>

#include "cli/job.h"
#include "cli/summary.h"
#include "cli/warnings.h"
#include "driver/session.h"

namespace cli {

// "17 of 2117 points got no weights: 3, 8, 11, 12, 40, ... (likely cause: CAUSE)"
std::string UnboundText(const driver::BindStatistics& stats, const std::string& cause);

// Presses "Calculate" with the job's settings. When points get no weights it
// fails naming them, or (--allow-unbound) binds again with them left out
// through a setup weight map of their own, so that the module keeps them
// where they are, and warns. When the weight floor takes points' rest-pose
// error above the threshold, warns. likelyCause names what the cage check
// found. Returns how many points are kept where they are.
size_t BindChecked(driver::Session& session, const Job& job, uint32_t setupMap, const std::function<std::string()>& likelyCause,
                   Warnings& warnings);

// Warns of the points whose rest-pose error is above the job's threshold.
void WarnRestErrors(const driver::BindStatistics& stats, double threshold, Warnings& warnings);

}  // namespace cli
