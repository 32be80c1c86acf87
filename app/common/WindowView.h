#pragma once

#include "Report.h"
#include "WindowTexts.h"
#include "Words.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrapel {

struct BatchResult;
struct RestoreResult;

// One entry of the file list. Texts are UTF-8.
struct ListRow {
    std::string name;    // the entry's name exactly as the folder listing gave it
    std::string shown;   // what the list draws for the name (ShownNames)
    std::string version; // drawn beside the name, on the right: "2.00", "250", "?" (not read);
                         // empty until read
    std::string tooltip; // the whole name, ": " and the version once known
    std::string accessibleName; // what a screen reader says: the whole name, ", " and the
                                // version once known ("not read" for "?")
    std::string description;    // why the version was not read; empty otherwise
    bool operator==(const ListRow&) const = default;
};

// Every working control's state; the other controls never change.
struct WindowControls {
    bool open = true;                      // cmdOpen enabled
    bool combo = true;                     // ComboDLC enabled
    bool save = false;                     // cmdSave enabled
    std::string saveText = Tr(kApplyText); // cmdSave's text: kApplyText or kCancelText, in words
    bool busy = false;   // a batch or a restore runs: the busy cursor shows over the window
    bool folders = true; // a folder may be opened or dropped now
    bool operator==(const WindowControls&) const = default;
};

// The file list frame's caption: prefix then name, the name fitted in the room the view gave
// (WindowModel::MeasureText). Idle, the listed folder's own name follows kListTitle; during a
// batch, the pass and the count over all passes, then the entry being worked on.
struct ListCaption {
    // kListTitle in words ('&' marks its access key), with ": " when a folder is named, or the
    // batch's "Converting 3 of 12: ". Empty when the folder's name alone fills the room: the
    // view keeps the label's access key working then.
    std::string prefix = Tr(kListTitle);
    std::string name;    // the folder's or the entry's name, fitted (plain text); empty for none
    std::string tooltip; // the caption's whole text: the prefix, then the whole path or name
    // The list's tooltip and accessible description: the listed folder's whole path, and that
    // it is empty when it is; empty when no folder is listed.
    std::string description;
    // What a screen reader hears as the frame's name: the caption, its progress told at most
    // once per WindowOptions::announcePace.
    std::string accessibleName = WithoutAccessKey(Tr(kListTitle));
    std::size_t done = 0;  // the batch's steps done over all its passes
    std::size_t total = 0; // all its steps; 0 when no batch runs
    bool operator==(const ListCaption&) const = default;
};

// The box titled "Ostrapel" that reports a batch or a restore once it has ended. Only valid
// during the view's ShowReport call.
struct ReportBox {
    enum class Kind { Batch, Restore };
    Kind kind = Kind::Batch;
    std::string title = "Ostrapel";
    // Warning icon unless every entry was changed or held the version already (every save was
    // restored); information icon then.
    bool warning = false;
    const BatchResult* batch = nullptr;     // Kind::Batch
    const RestoreResult* restore = nullptr; // Kind::Restore

    // The box's text (the first line and the entries left grouped by reason) and its details
    // (every entry left, one a line; empty when none was), the grouping as limits allow.
    BoxReport Compose(const SummaryLimits& limits = {}) const;
    // Ever shorter limits for Compose, the last giving the count of entries alone: a view that
    // can measure the box takes the first whose box, details shown, fits the screen.
    static std::span<const SummaryLimits> ShorterSummaries();
};

// A yes/no question; "no" is the default button.
struct Question {
    std::string title = "Ostrapel";
    std::string text;
};

// What each window implements: it draws what the model tells it and hands the user's actions to
// the model (WindowModel's events). The model calls it only on the window's thread. Calls that
// show a box return once the user has dismissed it.
class WindowView {
public:
    virtual ~WindowView() = default;

    // The list's rows, all of them (empty: the list is cleared). No row is selected after.
    virtual void ShowRows(const std::vector<ListRow>& rows) = 0;
    // One row changed (its version read, or set by a batch).
    virtual void ShowRow(std::size_t index, const ListRow& row) = 0;
    // Selects the row (the list's cursor) and brings it into view.
    virtual void Select(std::size_t index) = 0;
    virtual void ShowControls(const WindowControls& controls) = 0;
    // The window's title bar text.
    virtual void ShowCaption(const std::string& caption) = 0;
    virtual void ShowListCaption(const ListCaption& caption) = 0;
    // The folder the list shows, full (its tooltip names it); empty when none.
    virtual void ShowFolder(const std::string& folder) { (void)folder; }
    // The DLC value the batch writes, kept in the hidden text box txt ("400" at start-up).
    virtual void ShowValue(const std::string& value) = 0;
    // Modal: the report of the batch or restore that has just ended.
    virtual void ShowReport(const ReportBox& box) = 0;
    // Modal: true for yes.
    virtual bool Ask(const Question& question) = 0;
    // Modal folder browser: the folder chosen, full; nothing when the user cancelled.
    virtual std::optional<std::string> ChooseFolder() = 0;
    // A folder was opened without the browser (dropped, or OpenFolder): the browser starts there
    // next time.
    virtual void RememberFolder(const std::string& folder) { (void)folder; }
    // Calls WindowModel::PaceElapsed on the window's thread once delay has passed. Progress
    // shows at most once per delay; a second call before the first has fired may replace it.
    virtual void StartPaceTimer(std::chrono::milliseconds delay) = 0;
    // Closes the window for good: a close asked for during a batch or restore is due now. The
    // model is idle; WindowModel::CloseRequested called from within returns true.
    virtual void Close() = 0;

    // Told when work has ended: the versions have been read (or could not be), a batch or a
    // restore has ended and its report has been dismissed. Nothing to draw; for tests and tools.
    enum class Work { Reading, Batch, Restore };
    virtual void Ended(Work work) { (void)work; }
};

} // namespace ostrapel
