#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ostrapel {

// The command-line front end: exit 0 when every listed save changed, 1 when any did not,
// 2 for bad usage.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace ostrapel
