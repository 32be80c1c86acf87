#include "WindowRules.h"

#include "conversion/Backups.h"
#include "conversion/DlcVersion.h"
#include "system/UserFolders.h"

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

RestoreMenuItem WindowRules::RestoreItem(const std::string& backupFolder,
                                         const std::string& saveFolder) const {
    const BackupSetListing listing = saveFolder.empty() || batchRunning_
                                         ? BackupSetListing{}
                                         : ListBackupSets(backupFolder, saveFolder);
    const BackupSet* newest = NewestNotUndone(listing);
    // A set that cannot be read has no time to show; choosing it reports why.
    const std::string when = newest != nullptr && newest->status
                                 ? LocalTimeText(newest->manifest.time)
                                 : std::string("the last conversion");
    return {"Restore saves as they were before " + when, newest != nullptr};
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
