#pragma once
// "korvarun results ...": what the results store answers, as a table, CSV or JSON.
//   history DUT                       every run of a unit, oldest first
//   yield [--since DATE] [--by day|station|part]   first-pass and final yield
//   pareto [--since DATE]             the failing steps by count

#include <ostream>
#include <span>
#include <string>

namespace korva::korvarun {

// args: the words after "results". Returns the exit status: 0, or 2 with the reason on err.
int RunResultsCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace korva::korvarun
