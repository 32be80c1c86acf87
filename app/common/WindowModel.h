#pragma once

#include "ShownNames.h"
#include "WindowRules.h"
#include "WindowView.h"
#include "Words.h"
#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "conversion/DecipheredSaves.h"
#include "system/Cancel.h"
#include "system/Paths.h"
#include "system/Process.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ostrapel {

// How the window's work is done. The defaults are the program's; tests and later tuning pass
// their own.
struct WindowOptions {
    // The program folder; empty when none was found (nothing can be converted then).
    std::string appDir;
    // Cipher tool runs at once in a batch and in a reading of versions (BatchRequest::jobs).
    std::size_t jobs = DefaultJobs();
    // Progress shows at most once per this (WindowView::StartPaceTimer).
    std::chrono::milliseconds pace{15};
    // A screen reader hears the progress at most once per this (ListCaption::accessibleName).
    std::chrono::milliseconds announcePace{500};
    // The work itself, on the workers' threads: reading the listed saves' versions, and the
    // batch. A wrapper can reuse what one learned in the other, or read the rows in another
    // order (the observer's indexes stay the request's).
    using Work = std::function<BatchResult(const BatchRequest&, Scn_Process&, BatchObserver*)>;
    Work readVersions = [](const BatchRequest& request, Scn_Process& runner,
                           BatchObserver* observer) {
        return ReadSaveVersions(request, runner, observer);
    };
    Work convert = [](const BatchRequest& request, Scn_Process& runner, BatchObserver* observer) {
        return ConvertSaves(request, runner, observer);
    };
};

// How the view measures what it shows, so that names are fitted once, by the model, in the room
// they really have. The defaults count characters, for a view that cannot measure.
struct TextMeasure {
    TextWidth width = [](std::string_view text) { return static_cast<int>(CharacterCount(text)); };
    int listRoom = 40;    // a row's text width: the name, and the version beside it on the right
    int versionGap = 1;   // between the name and the version
    int captionRoom = 40; // the list frame's caption's text width
};

// The program's window without its toolkit: the state (idle, reading versions, batch, restore),
// the workers and their cancelling, the list's rows, every control's state and text, and the
// report boxes. A view (WindowView) draws what it says and forwards the user's actions to the
// events below; every event and every view call is on the window's thread.
//
// Workers never call the view. They leave what they learned in an inbox and call post, which
// the toolkit provides: thread-safe, it makes the window's thread call Posted() soon (a queued
// call in Qt, PostMessage in Win32). post is called at most once per wake-up, and never after
// the model's destructor has returned.
class WindowModel {
public:
    using Post = std::function<void()>;

    // Start-up: clears the program folder's work folder and makes the program folder current.
    // The view is told nothing until Show().
    WindowModel(WindowView& view, Post post, WindowOptions options);
    // Stops the reading, cancels a batch and waits for every worker.
    ~WindowModel();
    WindowModel(const WindowModel&) = delete;
    WindowModel& operator=(const WindowModel&) = delete;

    // Shows the whole state: caption, controls, list caption, value, rows.
    void Show();

    // --- events (window's thread) ---

    // cmdOpen: empties the list, asks the view for a folder (ChooseFolder), lists its entries,
    // selects the first and starts reading their versions. Nothing during a batch or a restore.
    void OpenClicked();
    // Lists folder as if it had been chosen in the browser. False (nothing done) during a batch
    // or a restore, or for a relative path.
    bool OpenFolder(const std::string& folder);
    // A path dropped on the window: a folder is listed, a file's folder is listed. False when
    // it was refused: during a batch or a restore, or nothing a folder can be told from.
    bool FolderDropped(const std::string& path);
    // ComboDLC: a version label was chosen. Enables cmdSave for good and sets the value.
    void VersionChosen(const std::string& label);
    // cmdSave: starts the batch over the listed entries, or cancels the running batch.
    void SaveClicked();
    // Esc: cancels the running batch.
    void CancelPressed();
    // The file list's right-click menu (RestoreMenuItems): the listed folder's conversions not
    // undone, newest first; disabled while a batch or a restore runs.
    std::vector<RestoreMenuItem> RestoreMenu() const;
    // The menu's item at index was chosen: asks (Ask) what restoring back to its set would put
    // back and leave, then on yes restores as RestoreChosen does, undoing the later conversions
    // first.
    void RestoreChosen(std::size_t index);
    // Undoes the newest conversion of the listed folder without asking (the menu's first item),
    // off the window's thread, the controls locked, then shows its report and reads the
    // versions again.
    void RestoreChosen();
    // The user asked to close the window. True: close now (reading stopped, work folder
    // cleared). False: keep it open; during a batch the view was asked (Ask) whether to cancel
    // it, and on yes the window closes (Close) once the batch has ended and its report has been
    // seen; during a restore it closes once the restore has ended.
    bool CloseRequested();
    // The user is signing out or Windows is shutting down, and the program ends once this
    // returns: the batch stops after the save under way and the work, a restore's too, is waited
    // for; the work folder is emptied. Nothing is shown.
    void SessionEnding();
    // The list shows count rows from first on (after ShowRows, and whenever that changes):
    // the versions of those not read yet are read before the others'.
    void RowsInView(std::size_t first, std::size_t count);
    // The wake-up that post asked for.
    void Posted();
    // The view's font and room for the list and its frame's caption (at start-up, and whenever
    // they change): the rows whose shown names change are shown again, and the caption.
    void MeasureText(TextMeasure measure);
    // The pace timer (WindowView::StartPaceTimer) has fired.
    void PaceElapsed();

    // --- what the window asks ---

    // The combo box's labels, in order; none is chosen at start-up.
    static std::vector<std::string> VersionLabels();
    // The window's title bar text when no work is under way (English; Tr gives its words).
    static constexpr const char* kTitle = N_("Ostrapel by Penmorrow");
    // What the user must know before choosing a folder: where the missing cipher tool goes, or
    // that Wine is needed to run it. Empty when the tool can run. Each window shows it in a
    // warning box titled "Ostrapel" once it is on the screen.
    std::string StartupNotice() const;

    const std::string& AppDir() const { return options_.appDir; }
    // The listed folder, full, without a trailing separator; empty before one is chosen and
    // after the browser was cancelled.
    const std::string& Folder() const { return folder_; }
    const std::vector<ListRow>& Rows() const { return rows_; }
    const WindowControls& Controls() const { return controls_; }
    bool BatchRunning() const { return state_ == State::Batch; }
    bool RestoreRunning() const { return state_ == State::Restore; }
    bool ReadingVersions() const { return reading_.thread.joinable(); }

private:
    enum class State { Idle, Batch, Restore };

    class Observer;

    // What the workers hand over, under mutex_.
    struct Inbox {
        std::optional<std::size_t> cursor; // the batch's last move not shown yet
        std::size_t pass = 0;              // the batch's pass under way
        std::size_t passes = 1;            // and how many it makes
        std::size_t done = 0;              // its steps done over all passes; it never goes back
        std::vector<std::pair<std::size_t, FileOutcome>> read;
        bool readingEnded = false;
        std::optional<BatchResult> batch;
        std::optional<RestoreResult> restore;
        bool wakeUpPending = false;
        bool paced = false; // a move was shown and the pace timer has not fired since
    };

    struct Worker {
        std::thread thread;
        std::unique_ptr<CancelFlag> cancel;
    };

    template <typename Change> void Hand(Change change);
    // The reading stopped, the list emptied and the program folder made current again, before a
    // folder is listed.
    void ClearListing();
    void ListFolder(std::string folder);
    void StartReading();
    // Reads the rows whose versions the reading under way has not delivered, those in view
    // first.
    void ReadPending();
    void StopReading();
    void StartBatch();
    // Restores back to setFolder's set; empty: the newest.
    void StartRestore(std::string setFolder);
    void BatchEnded(BatchResult result);
    void RestoreEnded(RestoreResult result);
    // Unlocks the controls, then shows the box and tells the view the work ended; closes the
    // window when a close waited for it. Returns whether it closed.
    bool ShowEnded(const ReportBox& box, WindowView::Work work, bool close);
    void ShowCursor(std::size_t index, std::size_t pass, std::size_t passes, std::size_t done);
    // The list frame's caption when no batch runs: the listed folder.
    void ShowFolderCaption();
    // The room a row's name has beside its version.
    int NameRoom(const ListRow& row) const;
    // rows_[index].shown fitted again (its version changed).
    void Refit(std::size_t index);
    void ShowControls();
    void ClearWorkFolder();
    BatchRequest Request() const;

    WindowView& view_;
    Post post_;
    WindowOptions options_;
    WindowRules rules_;
    State state_ = State::Idle;
    std::string folder_;
    std::string value_ = "400";
    std::vector<ListRow> rows_;
    std::vector<std::string> names_; // the rows' names, in order
    TextMeasure measure_;
    ListCaption listCaption_;
    std::chrono::steady_clock::time_point announced_; // the progress last told
    WindowControls controls_;
    std::string caption_ = Tr(kTitle);

    // The listed folder's saves deciphered by reading their versions, for the batch; dropped
    // when another folder is listed or the window closes.
    DecipheredSaves deciphered_;
    std::vector<bool> pending_; // rows whose versions the reading has not delivered
    // Whether each row's version, as last read, is no known version; empty when not read.
    std::vector<std::optional<bool>> unknown_;
    std::size_t viewFirst_ = 0;
    std::size_t viewCount_ = 0;
    std::size_t readFirst_ = 0; // the rows in view when the reading under way started
    std::size_t readEnd_ = 0;

    Scn_Process readRunner_;
    Scn_Process batchRunner_;
    Worker reading_;
    Worker batch_;
    std::thread restore_;

    std::mutex mutex_;
    Inbox inbox_;
};

} // namespace ostrapel
