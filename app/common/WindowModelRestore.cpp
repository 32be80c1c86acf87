// Undo: the file list's menu of conversions, the question before going back, and the restore.

#include "RestoreChoices.h"
#include "WindowModel.h"
#include "WindowModelInternal.h"

namespace ostrapel {

std::vector<RestoreMenuItem> WindowModel::RestoreMenu() const {
    const BackupSetListing listing =
        folder_.empty() ? BackupSetListing{}
                        : ListBackupSets(BackupFolderFor(options_.appDir), folder_);
    return RestoreMenuItems(listing, state_ == State::Idle && !rules_.BatchRunning());
}

void WindowModel::RestoreChosen(std::size_t index) {
    if (state_ != State::Idle || folder_.empty()) {
        return;
    }
    const BackupSetListing listing = ListBackupSets(BackupFolderFor(options_.appDir), folder_);
    const std::vector<RestoreMenuItem> items = RestoreMenuItems(listing, true);
    if (index >= items.size() || !items[index].enabled) {
        return;
    }
    Question question;
    question.text =
        RestoreQuestion(items[index], PlanRestoreBackTo(listing, items[index].setFolder, folder_));
    if (view_.Ask(question)) {
        StartRestore(items[index].setFolder);
    }
}

void WindowModel::RestoreChosen() {
    const std::vector<RestoreMenuItem> items = RestoreMenu();
    StartRestore(items.front().enabled ? items.front().setFolder : std::string());
}

void WindowModel::StartRestore(std::string setFolder) {
    if (state_ != State::Idle || folder_.empty() || !rules_.StartBatch(false)) {
        return;
    }
    StopReading();
    if (restore_.joinable()) {
        restore_.join();
    }
    state_ = State::Restore;
    restore_ = std::thread([this, backups = BackupFolderFor(options_.appDir), folder = folder_,
                            set = std::move(setFolder)] {
        RestoreResult result = set.empty() ? RestoreLastConversion(backups, folder)
                                           : RestoreBackTo(backups, folder, set);
        Hand([&result](Inbox& inbox) {
            inbox.restore = std::move(result);
            return true;
        });
    });
    ShowControls();
}

void WindowModel::RestoreEnded(RestoreResult result) {
    restore_.join();
    state_ = State::Idle;
    const bool close = rules_.EndBatch();
    ReportBox box;
    box.kind = ReportBox::Kind::Restore;
    box.warning = !result.allRestored();
    box.restore = &result;
    if (!ShowEnded(box, WindowView::Work::Restore, close)) {
        StartReading(); // the saves put back hold their old versions again
    }
}

} // namespace ostrapel
