#pragma once
// The reports of a run: JUnit XML for CI servers and a JSON record, each written whole or not at all.

#include <string>
#include <vector>

#include "RunRecord.h"

namespace korva::korvarun {

// The version of the JSON layout; korvarun(1) documents each.
inline constexpr int kJsonVersion = 1;

std::string JunitText(const RunRecord& run);
std::string JsonText(const RunRecord& run);
// Several stations: one suite per station named after the file and the DUT; one JSON record per
// station in a "korvarun-stations" document. One station writes as a run of its own.
std::string JunitText(const std::vector<const RunRecord*>& runs);
std::string JsonText(const std::vector<const RunRecord*>& runs);

// Replaces the file at once (a new file renamed over the old); false with a reason when it fails or
// when the name is something other than a regular file.
bool WriteReport(const std::string& path, const std::string& text, std::string& why);

// Why the report may not be written where it is asked for, since it is one of the inputs of the run
// (the sequence, a configuration file); empty when it may.
std::string ReportOverwritesInput(const std::string& report, const std::vector<std::string>& inputs);

// The SHA-256 of a regular file, in lower-case hex; empty when it cannot be read.
std::string FileSha256(const std::string& path);

}  // namespace korva::korvarun
