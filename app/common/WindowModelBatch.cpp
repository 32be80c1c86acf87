// The batch: starting and cancelling it, its progress in the list's caption, and its end.

#include "ListRows.h"
#include "WindowModel.h"
#include "WindowModelInternal.h"
#include "WindowTexts.h"
#include "Words.h"
#include "system/Wine.h"

#include <algorithm>

namespace ostrapel {

void WindowModel::SaveClicked() {
    if (state_ == State::Batch) {
        CancelPressed();
    } else {
        StartBatch();
    }
}

void WindowModel::CancelPressed() {
    if (state_ == State::Batch && batch_.cancel) {
        batch_.cancel->raise();
    }
}

void WindowModel::StartBatch() {
    // No folder listed: nothing to apply the version to (the button is disabled then).
    if (state_ != State::Idle || folder_.empty()) {
        return;
    }
    // Most saves read as no known version: the tool may be the wrong one, and would pass every
    // proof. Asked here, No the default; otherwise the batch stops should it find them so.
    const std::size_t read = static_cast<std::size_t>(
        std::count_if(unknown_.begin(), unknown_.end(),
                      [](const std::optional<bool>& u) { return u.has_value(); }));
    const std::size_t unknown =
        static_cast<std::size_t>(std::count(unknown_.begin(), unknown_.end(), true));
    const bool asked = MostlyUnknownVersions(unknown, read);
    if (asked) {
        Question question;
        // TRANSLATORS: asked before converting; {count} of {n} saves, No is the default.
        question.text =
            TrN("{count} of {n} save read as no known version: the cipher tool may not "
                "be the one for these saves. Convert them all the same?",
                "{count} of {n} saves read as no known version: the cipher tool may not "
                "be the one for these saves. Convert them all the same?",
                read, {{"count", std::to_string(unknown)}});
        if (!view_.Ask(question) || state_ != State::Idle) {
            return;
        }
    }
    if (!rules_.StartBatch()) {
        return;
    }
    // The reading holds the work folder; the batch needs it.
    StopReading();
    if (batch_.thread.joinable()) {
        batch_.thread.join();
    }
    BatchRequest request = Request();
    request.stopOnUnknownVersions = !asked;
    request.deciphered = &deciphered_;
    batch_.cancel = std::make_unique<CancelFlag>();
    request.cancel = batch_.cancel.get();
    {
        std::lock_guard lock(mutex_);
        inbox_.cursor.reset();
        inbox_.paced = false;
        inbox_.pass = 0;
        inbox_.passes = 1;
        inbox_.done = 0;
    }
    announced_ = {};
    state_ = State::Batch;
    batch_.thread = std::thread([this, request = std::move(request)] {
        Observer observer(*this, false, {}, request.names.size());
        BatchResult result = options_.convert(request, batchRunner_, &observer);
        Hand([&result](Inbox& inbox) {
            inbox.batch = std::move(result);
            return true;
        });
    });
    ShowControls();
    const std::string tool = CipherToolOf(options_.appDir);
    if (!options_.appDir.empty() && RunsThroughWine(tool) && !WinePrefixReady(WinePrefix())) {
        // TRANSLATORS: the window's title bar while Wine prepares for the conversion.
        caption_ = Tr("{title} - Wine is setting up for its first use...", {{"title", Tr(kTitle)}});
        view_.ShowCaption(caption_);
    }
}

void WindowModel::PaceElapsed() {
    bool pending = false;
    {
        std::lock_guard lock(mutex_);
        inbox_.paced = false;
        pending = inbox_.cursor.has_value() && !inbox_.wakeUpPending;
    }
    if (pending) {
        Posted();
    }
}

void WindowModel::ShowCursor(std::size_t index, std::size_t pass, std::size_t passes,
                             std::size_t done) {
    // Moves that piled up are never seen one by one: the list shows the last.
    if (state_ != State::Batch || index >= rows_.size()) {
        return;
    }
    ListCaption caption;
    caption.total = passes * rows_.size();
    caption.done = std::min(done, caption.total);
    // The highlight walks down the list once over the whole batch, where its progress has got
    // to, rather than back to the top at each pass; the caption names the entry at work.
    const std::size_t reached = caption.done * rows_.size() / caption.total; // in saves
    view_.Select(std::min(reached, rows_.size() - 1));
    caption.prefix = ProgressCount(pass, caption.done, caption.total);
    caption.tooltip = caption.prefix + rows_[index].name;
    // The entry's name where what tells it apart fits with one of its ends; else the count
    // alone, the entry being the list's selected row.
    const std::string_view whole = rows_[index].name;
    const Telling telling = TellingPart(names_, index);
    const int room = measure_.captionRoom - measure_.width(caption.prefix);
    caption.name = FittedName(whole, telling, room, measure_.width);
    const std::string_view shown = caption.name;
    const bool startCut = shown.starts_with(kElision);
    const bool endCut = shown.ends_with(kElision) || shown.empty() || shown.back() != whole.back();
    if (measure_.width(caption.name) > room || (startCut && endCut) ||
        caption.name.find(whole.substr(telling.start, telling.end - telling.start)) ==
            std::string::npos) {
        caption.name.clear();
        caption.prefix = ProgressText(pass, caption.done, caption.total); // without ": "
        if (measure_.width(caption.prefix) > measure_.captionRoom) {
            // The pass with the saves it has got to, shorter than its steps.
            caption.prefix = ProgressText(pass, reached, rows_.size());
        }
        if (measure_.width(caption.prefix) > measure_.captionRoom) {
            // The count alone; the pass is in the tooltip and what a screen reader hears.
            caption.prefix = ProgressOf(reached, rows_.size());
        }
    }
    caption.description = listCaption_.description;
    // Told to a screen reader no more often than it can say it.
    const auto now = std::chrono::steady_clock::now();
    caption.accessibleName = listCaption_.accessibleName;
    if (announced_ == std::chrono::steady_clock::time_point{} ||
        now - announced_ >= options_.announcePace) {
        caption.accessibleName = caption.tooltip;
        announced_ = now;
    }
    listCaption_ = caption;
    view_.ShowListCaption(listCaption_);
}

void WindowModel::BatchEnded(BatchResult result) {
    batch_.thread.join();
    std::optional<std::size_t> last; // progress posted before the end
    std::size_t pass = 0;
    std::size_t passes = 1;
    std::size_t done = 0;
    {
        std::lock_guard lock(mutex_);
        last = std::exchange(inbox_.cursor, std::nullopt);
        inbox_.paced = false;
        pass = inbox_.pass;
        passes = inbox_.passes;
        done = inbox_.done;
    }
    if (last) {
        ShowCursor(*last, pass, passes, done);
    }
    ShowFolderCaption();
    for (std::size_t i = 0; i < result.files.size() && i < rows_.size(); ++i) {
        if (auto version = VersionAfterBatch(result.files[i])) {
            if (i < unknown_.size() && result.files[i].newValue) {
                unknown_[i] = false;
            }
            SetVersion(rows_[i], std::move(*version));
            Refit(i);
            view_.ShowRow(i, rows_[i]);
        }
    }
    // The batch has ended when its report shows: the controls are back first.
    ClearWorkFolder();
    state_ = State::Idle;
    const bool close = rules_.EndBatch();
    caption_ = Tr(kTitle);
    view_.ShowCaption(caption_);
    ReportBox box;
    box.kind = ReportBox::Kind::Batch;
    box.warning = BoxWarns(result);
    box.batch = &result;
    ShowEnded(box, WindowView::Work::Batch, close);
}

} // namespace ostrapel
