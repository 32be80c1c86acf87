#include "WindowRules.h"

#include "conversion/DlcVersion.h"

namespace ostrapel {

std::optional<std::string> WindowRules::ChooseVersion(std::string_view label) {
    if (batchRunning_) {
        return std::nullopt;
    }
    versionChosen_ = true;
    controls_.save = folderListed_;
    if (auto value = DlcVersionTable::LookUp(label)) {
        return std::to_string(*value);
    }
    return std::nullopt;
}

void WindowRules::FolderListed(bool listed) {
    folderListed_ = listed;
    if (!batchRunning_) {
        controls_.save = versionChosen_ && folderListed_;
    }
}

bool WindowRules::StartBatch(bool cancellable) {
    if (batchRunning_) {
        return false;
    }
    batchRunning_ = true;
    cancellable_ = cancellable;
    beforeBatch_ = controls_;
    controls_ = {false, false, cancellable, cancellable};
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

CloseStep WindowRules::RequestClose() {
    if (!batchRunning_) {
        return CloseStep::CloseNow;
    }
    if (!cancellable_) {
        // Nothing to offer: it runs to its end, then the window closes.
        closeAfterBatch_ = true;
    }
    return closeAfterBatch_ ? CloseStep::Wait : CloseStep::AskToCancel;
}

void WindowRules::CancelAndClose() {
    if (batchRunning_) {
        closeAfterBatch_ = true;
    }
}

} // namespace ostrapel
