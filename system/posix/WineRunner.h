#pragma once

#include "system/Process.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ostrapel {

// Runs Windows programs under Wine through the bridge (see app/winebridge/WineBridge.cpp):
// one bridge is started under Wine and then serves every run it is given, so a run costs one
// process start inside Wine, not one Wine start. Paths are turned into their Windows form by
// Wine itself (what winepath -w gives; / is drive Z: by default), and a path whose Windows
// form does not lead back to it is refused. The program receives exactly the command line
// BuildWindowsCommandLine makes of the converted command.
//
// Safe for concurrent callers: each run takes an idle bridge or starts one, so there are as
// many bridges as runs at once. Idle bridges are kept until the runner goes; a bridge whose
// run did not end cleanly is ended with whatever it had started.
class WineRunner {
public:
    explicit WineRunner(std::string bridgePath);
    ~WineRunner();
    WineRunner(const WineRunner&) = delete;
    WineRunner& operator=(const WineRunner&) = delete;

    ProcessOutcome run(const CommandLine& command, const RunLimits& limits);

    // How long starting a bridge may take (the first use of a prefix sets it up).
    static constexpr std::chrono::seconds kStartLimit{300};

    struct Bridge;

private:
    std::unique_ptr<Bridge> take(const std::string& wine, const RunLimits& limits,
                                 ProcessOutcome& outcome);

    const std::string bridgePath_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Bridge>> idle_;
};

} // namespace ostrapel
