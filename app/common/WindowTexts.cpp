#include "WindowTexts.h"

#include "conversion/DlcVersion.h"

namespace ostrapel {

std::string ReadVersionText(const FileOutcome& outcome) {
    return outcome.oldValue ? DlcValueText(*outcome.oldValue) : std::string(kVersionNotRead);
}

std::optional<std::string> VersionAfterBatch(const FileOutcome& outcome) {
    if (!outcome.done() || !outcome.newValue) {
        return std::nullopt;
    }
    return DlcValueText(*outcome.newValue);
}

std::string ProgressCount(std::size_t index, std::size_t count) {
    return std::to_string(index + 1) + " of " + std::to_string(count) + ": ";
}

} // namespace ostrapel
