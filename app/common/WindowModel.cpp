#include "WindowModel.h"

#include "ListRows.h"
#include "WindowTexts.h"
#include "Words.h"
#include "conversion/DlcVersion.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Wine.h"

namespace ostrapel {

WindowModel::WindowModel(WindowView& view, Post post, WindowOptions options)
    : view_(view), post_(std::move(post)), options_(std::move(options)) {
    if (!options_.appDir.empty()) {
        options_.appDir = WithTrailingSeparator(options_.appDir);
    }
    ClearWorkFolder();
    if (!options_.appDir.empty()) {
        (void)SetCurrentDirectory(options_.appDir);
    }
}

WindowModel::~WindowModel() {
    StopReading();
    if (batch_.cancel) {
        batch_.cancel->raise();
    }
    if (batch_.thread.joinable()) {
        batch_.thread.join();
    }
    if (restore_.joinable()) {
        restore_.join();
    }
}

void WindowModel::Show() {
    view_.ShowCaption(caption_);
    ShowControls();
    ShowFolderCaption();
    view_.ShowValue(value_);
    view_.ShowRows(rows_);
}

std::vector<std::string> WindowModel::VersionLabels() {
    std::vector<std::string> labels;
    for (std::string_view label : DlcVersionTable::Labels()) {
        labels.emplace_back(label);
    }
    return labels;
}

std::string WindowModel::StartupNotice() const {
    if (options_.appDir.empty()) {
        return Tr(kNoProgramFolder);
    }
    const std::string tool = CipherToolOf(options_.appDir);
    if (KindOf(tool) != EntryKind::File) {
        return Tr("Cipher tool not found: {path}\n\nPut decrypt.exe there before converting saves.",
                  {{"path", tool}});
    }
    if (RunsThroughWine(tool) && FindWine().empty()) {
        return Tr(kWineMissing);
    }
    return {};
}

void WindowModel::VersionChosen(const std::string& label) {
    if (auto value = rules_.ChooseVersion(label)) {
        value_ = *value;
        view_.ShowValue(value_);
    }
    ShowControls();
}

BatchRequest WindowModel::Request() const {
    BatchRequest request;
    request.saveFolder = folder_;
    request.appDir = options_.appDir;
    request.valueText = value_;
    request.jobs = options_.jobs;
    request.names.reserve(rows_.size());
    for (const ListRow& row : rows_) {
        request.names.push_back(row.name);
    }
    return request;
}

void WindowModel::SessionEnding() {
    StopReading();
    CancelPressed();
    if (batch_.thread.joinable()) {
        batch_.thread.join();
    }
    if (restore_.joinable()) {
        restore_.join();
    }
    ClearWorkFolder();
}

void WindowModel::Posted() {
    Inbox inbox;
    {
        std::lock_guard lock(mutex_);
        inbox.read.swap(inbox_.read);
        inbox.cursor = std::exchange(inbox_.cursor, std::nullopt);
        inbox.pass = inbox_.pass;
        inbox.passes = inbox_.passes;
        inbox.done = inbox_.done;
        inbox.readingEnded = std::exchange(inbox_.readingEnded, false);
        inbox.batch = std::exchange(inbox_.batch, std::nullopt);
        inbox.restore = std::exchange(inbox_.restore, std::nullopt);
        inbox_.wakeUpPending = false;
        inbox_.paced = inbox_.paced || inbox.cursor.has_value();
    }
    for (auto& [index, outcome] : inbox.read) {
        if (index < rows_.size()) {
            SetReadVersion(rows_[index], outcome);
            if (index < unknown_.size() && outcome.oldValue) {
                unknown_[index] = !DlcVersionTable::LabelOf(*outcome.oldValue);
            }
            Refit(index);
            view_.ShowRow(index, rows_[index]);
            if (index < pending_.size()) {
                pending_[index] = false;
            }
        }
    }
    if (inbox.cursor) {
        view_.StartPaceTimer(options_.pace);
        ShowCursor(*inbox.cursor, inbox.pass, inbox.passes, inbox.done);
    }
    if (inbox.readingEnded && reading_.thread.joinable()) {
        reading_.thread.join();
        view_.Ended(WindowView::Work::Reading);
    }
    if (inbox.batch) {
        BatchEnded(std::move(*inbox.batch));
    }
    if (inbox.restore) {
        RestoreEnded(std::move(*inbox.restore));
    }
}

bool WindowModel::ShowEnded(const ReportBox& box, WindowView::Work work, bool close) {
    ShowControls(); // the work has ended before its box shows
    view_.ShowReport(box);
    view_.Ended(work);
    if (close) {
        view_.Close();
    }
    return close;
}

bool WindowModel::CloseRequested() {
    switch (rules_.RequestClose()) {
    case CloseStep::CloseNow:
        StopReading();
        ClearWorkFolder();
        deciphered_.clear();
        return true;
    case CloseStep::AskToCancel: {
        Question question;
        question.text = Tr("A conversion is running. Cancel it and close the window?\n\n"
                           "Saves not yet replaced stay as they were.");
        if (view_.Ask(question) && state_ == State::Batch) {
            rules_.CancelAndClose();
            CancelPressed();
        }
        return false;
    }
    case CloseStep::Wait:
        // Cancelling already, or a restore: the window closes once the work has ended and its
        // report has been seen.
        return false;
    }
    return false;
}

void WindowModel::ShowControls() {
    const ControlStates& states = rules_.Controls();
    controls_.open = states.open;
    controls_.combo = states.combo;
    controls_.save = states.save;
    controls_.saveText = Tr(states.saveCancels ? kCancelText : kApplyText);
    controls_.busy = state_ != State::Idle;
    controls_.folders = state_ == State::Idle;
    view_.ShowControls(controls_);
}

void WindowModel::ClearWorkFolder() {
    if (!options_.appDir.empty()) {
        (void)ostrapel::ClearWorkFolder(options_.appDir);
    }
}

} // namespace ostrapel
