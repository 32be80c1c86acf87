#include "WindowRules.h"

#include "conversion/DlcVersion.h"

namespace ostrapel {

std::optional<std::string> WindowRules::ChooseVersion(std::string_view label) {
    if (batchRunning_) {
        return std::nullopt;
    }
    controls_.save = true;
    if (auto value = DlcVersionTable::LookUp(label)) {
        return std::to_string(*value);
    }
    return std::nullopt;
}

bool WindowRules::StartBatch() {
    if (batchRunning_) {
        return false;
    }
    batchRunning_ = true;
    beforeBatch_ = controls_;
    controls_ = {false, false, false};
    return true;
}

bool WindowRules::EndBatch() {
    if (!batchRunning_) {
        return false;
    }
    batchRunning_ = false;
    controls_ = beforeBatch_;
    const bool close = closeAfterBatch_;
    closeAfterBatch_ = false;
    return close;
}

bool WindowRules::RequestClose() {
    if (batchRunning_) {
        closeAfterBatch_ = true;
        return false;
    }
    return true;
}

} // namespace ostrapel
