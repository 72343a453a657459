#pragma once
// The capture itself: the line heard, never written to, and each packet as a pcapng block into the
// analyzer's fifo.

#include <ostream>

#include "Extcap.h"

namespace korva::korvacap {

// Until SIGTERM, SIGINT or SIGHUP, or until the analyzer closes the fifo (0); 1 when the line
// cannot be opened or goes away, the reason written to err.
int Capture(const Options& options, std::ostream& err);

}  // namespace korva::korvacap
