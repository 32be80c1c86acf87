#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ostrapel {

// An item of the file list's right-click menu (RestoreMenuItems).
struct RestoreMenuItem {
    std::string text; // "&1 Back to 4.00, as before <date time> (N saves)"
    bool enabled = false;
    std::string setFolder; // the backup set it restores back to; empty: the newest
    std::string when;      // that set's local date and time
    // Each save's value before the conversion, as recorded: the versions the saves go back
    // to (RestoreQuestion names those of the saves that get their originals back).
    std::map<std::string, std::optional<std::int16_t>> before;
};

// What the window's three working controls may do; the rest are never disabled.
struct ControlStates {
    bool open = true;         // cmdOpen
    bool combo = true;        // ComboDLC
    bool save = false;        // cmdSave
    bool saveCancels = false; // cmdSave reads "Cancel" and cancels the running batch
    bool operator==(const ControlStates&) const = default;
};

// What closing the window does: close now, ask whether to cancel the running batch (then
// CancelAndClose on yes), or wait for the work to end: a batch being cancelled, or a work that
// cannot be cancelled (a restore).
enum class CloseStep { CloseNow, AskToCancel, Wait };

// The rules every window of the program follows, whatever its toolkit: when the save button
// enables, what a batch locks, and what closing does while a batch runs. The window asks the
// rules before acting and shows Controls() afterwards.
class WindowRules {
public:
    const ControlStates& Controls() const { return controls_; }
    bool BatchRunning() const { return batchRunning_; }

    // A version was chosen in the combo box. Enables the save button for good once a folder is
    // listed too, and gives the value text for txt when the label is one of the table's;
    // nothing while a batch runs.
    std::optional<std::string> ChooseVersion(std::string_view label);

    // Whether a folder is listed (an empty one too): none after the browser was cancelled, and
    // then the save button is disabled, there being nothing to apply the version to.
    void FolderListed(bool listed);

    // Whether a folder may be chosen and listed now (not during a batch).
    bool MayLoadFolder() const { return !batchRunning_; }

    // Whether a batch may start now; when it may, the open button and the combo box are locked
    // until EndBatch, and the save button turns into the batch's cancel button. A work that
    // cannot be cancelled (a restore) locks the save button too.
    bool StartBatch(bool cancellable = true);

    // The batch has ended and its report was seen: the controls are as before it. True when
    // the window is to close now, because closing was asked for during the batch.
    bool EndBatch();

    // The user asked to close the window. CloseNow: close now (after clearing the work folder).
    // AskToCancel: a batch runs; offer to cancel it. Wait: it is being cancelled to close, or
    // it cannot be cancelled; either way the window closes once it has ended (EndBatch says so).
    CloseStep RequestClose();
    // The user chose to cancel the running batch and close: the window closes once the batch
    // has ended (EndBatch says so). The window cancels the batch.
    void CancelAndClose();

private:
    ControlStates controls_;
    ControlStates beforeBatch_;
    bool versionChosen_ = false;
    bool folderListed_ = false;
    bool batchRunning_ = false;
    bool cancellable_ = false;
    bool closeAfterBatch_ = false;
};

} // namespace ostrapel
