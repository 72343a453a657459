#pragma once
// Where a working folder keeps its results: the location given by the user, else the one in
// config/results.xml (a line's server, say), else results.sqlite in the folder.
//
//   <results>
//     <location>postgresql://line-server/results?user=station</location>
//   </results>

#include <string>

namespace korva::results {

struct ResultsPlace {
    std::string location;  // empty: keep no results
    std::string spool;     // the local file that keeps a server's runs while it cannot be reached
    std::string error;     // config/results.xml is there but says nothing usable
};

// given: what the user named ("none" keeps nothing); empty asks the folder.
ResultsPlace FindResults(const std::string& workDir, const std::string& given);

// Who runs the station, for a run's operator: the login name, "unknown" when there is none.
std::string LoginName();

}  // namespace korva::results
