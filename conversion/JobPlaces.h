// Where the jobs of a batch run the cipher tool side by side, each in a place of its own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ostrapel {

// Where one job runs the cipher tool: its own copy of the tool's folder, working folder and
// temporary folder.
struct JobPlace {
    std::string tool;
    std::string workingFolder;
    std::string temporaryFolder;
};

// Makes the jobs' places for a batch of this many jobs in the work folder, with copies of the
// tool's folder of appDir; none when they cannot all be made.
std::vector<JobPlace> MakeJobPlaces(const std::string& appDir, const std::string& workFolder,
                                    std::size_t jobs);

} // namespace ostrapel
