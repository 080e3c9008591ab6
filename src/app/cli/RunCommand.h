#pragma once

#include <ostream>
#include <string>

#include "app/cli/CliOptions.h"
#include "engine/Synchroniser.h"

inline constexpr int kExitStopped = 130;

// `kelvane-cli run FILE [--dry-run]`: runs a profile (.kvp) or a batch (.kvb) the way an
// automatic start would, with no one at the screen: no questions, every delete confirmation
// counts as Yes, no review. The report goes to `out`, progress and error lines to `err`. With
// dryRun the plan is printed, one line per action, and nothing is executed.
//
// Exit status: 0 done without problems, 1 done with problems, 2 failed (file not loaded or not
// valid, connection failed or lost during the run, analysis failed), 130 stopped by SIGINT or
// SIGTERM; a batch exits with the worst status of its runs.
int runRunCommand(const CliOptions& options, const std::string& file, bool dryRun,
                  std::ostream& out, std::ostream& err);

// The exit status for the worst outcome of a call.
int exitStatusFor(RunOutcome outcome);
