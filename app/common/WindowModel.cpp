#include "WindowModel.h"

#include "RestoreChoices.h"
#include "WindowTexts.h"
#include "Words.h"
#include "conversion/DlcVersion.h"
#include "conversion/SaveFolder.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Wine.h"

#include <algorithm>
#include <array>

namespace ostrapel {

namespace {

// Full, without trailing separators but the root's; a relative path gives empty.
std::string NormalisedFolder(std::string path) {
#ifdef _WIN32
    const bool absolute = (path.size() >= 3 && path[1] == ':' && path[2] == kPathSeparator) ||
                          path.starts_with("\\\\");
    const auto atRoot = [&path] { return path.size() == 3 && path[1] == ':'; };
#else
    const bool absolute = path.starts_with('/');
    const auto atRoot = [&path] { return path.size() == 1; };
#endif
    if (!absolute) {
        return {};
    }
    while (!atRoot() && path.back() == kPathSeparator) {
        path.pop_back();
    }
    return path;
}

// The folder's own name: its last component, or the whole path for a root.
std::string OwnName(const std::string& folder) {
    const std::size_t slash = folder.find_last_of(kPathSeparator);
    const std::string own = slash == std::string::npos ? folder : folder.substr(slash + 1);
    return own.empty() ? folder : own;
}

void SetVersion(ListRow& row, std::string version) {
    // TRANSLATORS: a save's tooltip in the file list: its name and its DLC version.
    row.tooltip = Tr("{name}: {version}", {{"name", row.name}, {"version", version}});
    // TRANSLATORS: what a screen reader says for a save in the file list.
    row.accessibleName = Tr("{name}, {version}", {{"name", row.name}, {"version", version}});
    row.description.clear();
    row.version = std::move(version);
}

// A version not read takes a short mark in the list; the tooltip and the description say why.
void SetReadVersion(ListRow& row, const FileOutcome& outcome) {
    if (outcome.oldValue) {
        return SetVersion(row, ReadVersionText(outcome));
    }
    const std::string notRead = Tr(kVersionNotRead);
    row.version = Tr(kVersionNotReadMark);
    row.description = Say(outcome.reason);
    row.tooltip =
        row.description.empty()
            ? Tr("{name}: {version}", {{"name", row.name}, {"version", notRead}})
            // TRANSLATORS: a save's tooltip in the file list: its name, "not read" and why.
            : Tr("{name}: {version} ({reason})",
                 {{"name", row.name}, {"version", notRead}, {"reason", row.description}});
    row.accessibleName = Tr("{name}, {version}", {{"name", row.name}, {"version", notRead}});
}

} // namespace

BoxReport ReportBox::Compose(const SummaryLimits& limits) const {
    if (kind == Kind::Batch && batch != nullptr) {
        return ComposeBoxReport(*batch, limits);
    }
    if (kind == Kind::Restore && restore != nullptr) {
        return ComposeRestoreBoxReport(*restore, limits);
    }
    return {};
}

std::span<const SummaryLimits> ReportBox::ShorterSummaries() {
    // Names go before reasons: the last still shows the most frequent reason whole.
    static constexpr std::array<SummaryLimits, 5> kSummaries{{
        {},
        {.groups = 3, .namesPerGroup = 2, .nameLength = 32, .reasonLength = 80, .folderLength = 96},
        {.groups = 3, .namesPerGroup = 0, .reasonLength = 60, .folderLength = 64},
        {.groups = 1, .namesPerGroup = 0, .reasonLength = 60, .folderLength = 48},
        {.groups = 1, .namesPerGroup = 0, .reasonLength = 40, .folderLength = 32},
    }};
    return kSummaries;
}

// Hands a worker's findings to the window's thread.
class WindowModel::Observer final : public BatchObserver {
public:
    // reading: a reading of versions, whose outcomes are shown; a batch's are shown at its end.
    // rows: the row of each entry of the request, when not the entry's own index.
    Observer(WindowModel& model, bool reading, std::vector<std::size_t> rows = {},
             std::size_t count = 0)
        : model_(model), reading_(reading), rows_(std::move(rows)), count_(count) {}

    void passStarted(std::size_t pass, std::size_t passes) override {
        model_.Hand([=](Inbox& inbox) {
            inbox.pass = pass;
            inbox.passes = passes;
            return false;
        });
    }
    void cursorMoved(std::size_t index) override {
        // Paced: while the last move shown is recent, the next waits for the pace timer. The
        // count goes on over the passes; an entry tried again does not take it back.
        model_.Hand([this, index = Row(index)](Inbox& inbox) {
            inbox.cursor = index;
            inbox.done = std::max(inbox.done, inbox.pass * count_ + index + 1);
            return !inbox.paced;
        });
    }
    void fileFinished(std::size_t index, const FileOutcome& outcome) override {
        if (!reading_) {
            return;
        }
        model_.Hand([&, index = Row(index)](Inbox& inbox) {
            inbox.read.emplace_back(index, outcome);
            return true;
        });
    }

private:
    std::size_t Row(std::size_t index) const { return rows_.empty() ? index : rows_[index]; }

    WindowModel& model_;
    bool reading_;
    std::vector<std::size_t> rows_;
    std::size_t count_; // entries in a pass
};

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

template <typename Change> void WindowModel::Hand(Change change) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        const bool wanted = change(inbox_);
        wake = wanted && !inbox_.wakeUpPending;
        inbox_.wakeUpPending = inbox_.wakeUpPending || wake;
    }
    if (wake) {
        post_();
    }
}

void WindowModel::OpenClicked() {
    if (state_ != State::Idle) {
        return;
    }
    StopReading();
    rows_.clear();
    names_.clear();
    unknown_.clear();
    view_.ShowRows(rows_);
    if (!options_.appDir.empty()) {
        (void)SetCurrentDirectory(options_.appDir);
    }
    std::optional<std::string> chosen = view_.ChooseFolder();
    ListFolder(chosen ? NormalisedFolder(std::move(*chosen)) : std::string());
}

bool WindowModel::OpenFolder(const std::string& folder) {
    if (state_ != State::Idle) {
        return false;
    }
    StopReading();
    rows_.clear();
    names_.clear();
    unknown_.clear();
    view_.ShowRows(rows_);
    if (!options_.appDir.empty()) {
        (void)SetCurrentDirectory(options_.appDir);
    }
    std::string normalised = NormalisedFolder(folder);
    if (!normalised.empty()) {
        view_.RememberFolder(normalised);
    }
    ListFolder(std::move(normalised));
    return !folder_.empty();
}

bool WindowModel::FolderDropped(const std::string& path) {
    if (state_ != State::Idle || path.empty()) {
        return false;
    }
    switch (KindOf(path)) {
    case EntryKind::Directory:
        return OpenFolder(path);
    case EntryKind::File:
        return OpenFolder(ParentOf(path));
    default:
        return false; // gone meanwhile, or nothing a folder can be told from
    }
}

void WindowModel::ListFolder(std::string folder) {
    if (folder != folder_) {
        deciphered_.clear();
    }
    folder_ = std::move(folder);
    view_.ShowFolder(folder_);
    rules_.FolderListed(!folder_.empty());
    ShowControls();
    if (folder_.empty()) {
        names_.clear();
        ShowFolderCaption();
        return;
    }
    names_ = ListSaveFolder(folder_);
    rows_.assign(names_.size(), ListRow{});
    const std::vector<std::string> shown = FittedNames(
        names_, [this](std::size_t) { return NameRoom({}); }, measure_.width);
    for (std::size_t i = 0; i < names_.size(); ++i) {
        rows_[i].name = names_[i];
        rows_[i].shown = shown[i];
        rows_[i].tooltip = names_[i];
        rows_[i].accessibleName = names_[i];
    }
    ShowFolderCaption();
    view_.ShowRows(rows_);
    if (!rows_.empty()) {
        view_.Select(0);
    }
    StartReading();
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

void WindowModel::StartReading() {
    pending_.assign(rows_.size(), true);
    unknown_.assign(rows_.size(), std::nullopt);
    ReadPending();
}

void WindowModel::ReadPending() {
    StopReading();
    if (options_.appDir.empty() || rows_.empty() ||
        KindOf(CipherToolOf(options_.appDir)) != EntryKind::File) {
        return;
    }
    const std::size_t viewEnd = std::min(viewFirst_ + viewCount_, rows_.size());
    readFirst_ = viewFirst_;
    readEnd_ = viewEnd;
    std::vector<std::size_t> order;
    for (std::size_t row = viewFirst_; row < viewEnd; ++row) {
        if (pending_[row]) {
            order.push_back(row);
        }
    }
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        if (pending_[row] && (row < viewFirst_ || row >= viewEnd)) {
            order.push_back(row);
        }
    }
    if (order.empty()) {
        return;
    }
    BatchRequest request = Request();
    request.names.clear();
    for (std::size_t row : order) {
        request.names.push_back(rows_[row].name);
    }
    request.deciphered = &deciphered_;
    reading_.cancel = std::make_unique<CancelFlag>();
    request.cancel = reading_.cancel.get();
    reading_.thread = std::thread([this, request = std::move(request), order = std::move(order)] {
        Observer observer(*this, true, order);
        (void)options_.readVersions(request, readRunner_, &observer);
        Hand([](Inbox& inbox) {
            inbox.readingEnded = true;
            return true;
        });
    });
}

void WindowModel::StopReading() {
    if (reading_.cancel) {
        reading_.cancel->raise();
    }
    if (reading_.thread.joinable()) {
        reading_.thread.join();
    }
    reading_.cancel.reset();
    std::lock_guard lock(mutex_);
    inbox_.read.clear();
    inbox_.readingEnded = false;
}

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

void WindowModel::RowsInView(std::size_t first, std::size_t count) {
    if (first == viewFirst_ && count == viewCount_) {
        return;
    }
    viewFirst_ = first;
    viewCount_ = count;
    if (!ReadingVersions()) {
        return;
    }
    // Rows come into view whose versions are still to come and were not read first: the
    // reading starts again with them.
    const std::size_t viewEnd = std::min(first + count, pending_.size());
    for (std::size_t row = first; row < viewEnd; ++row) {
        if (pending_[row] && (row < readFirst_ || row >= readEnd_)) {
            return ReadPending();
        }
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
    // The entry's name where what tells it apart fits; else the count alone, the entry being
    // the list's selected row.
    const std::string_view whole = rows_[index].name;
    const Telling telling = TellingPart(names_, index);
    const int room = measure_.captionRoom - measure_.width(caption.prefix);
    caption.name = FittedName(whole, telling, room, measure_.width);
    if (measure_.width(caption.name) > room ||
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

void WindowModel::ShowFolderCaption() {
    ListCaption caption;
    if (!folder_.empty()) {
        const std::string own = OwnName(folder_);
        // TRANSLATORS: the file list's caption names a folder that holds nothing.
        const std::string empty = Tr("{folder} (empty)", {{"folder", own}});
        const std::string label = CaptionBeforeName(Tr(kListTitle));
        const std::string plain = WithoutAccessKey(label);
        const int room = measure_.captionRoom;
        const auto fits = [&](const std::string& text) { return measure_.width(text) <= room; };
        // The folder's name before the rest: "(empty)" goes first, then the label, and only then
        // is the name itself cut.
        if (rows_.empty() && fits(plain + empty)) {
            caption.prefix = label;
            caption.name = empty;
        } else if (fits(plain + own)) {
            caption.prefix = label;
            caption.name = own;
        } else {
            caption.prefix.clear();
            caption.name = FittedName(own, {}, room, measure_.width);
        }
        caption.tooltip = plain + folder_;
        caption.description =
            rows_.empty() ? Tr("{folder}\nThis folder is empty.", {{"folder", folder_}}) : folder_;
        caption.accessibleName = plain + (rows_.empty() ? empty : own);
    }
    listCaption_ = caption;
    view_.ShowListCaption(listCaption_);
}

int WindowModel::NameRoom(const ListRow& row) const {
    return measure_.listRoom -
           (row.version.empty() ? 0 : measure_.width(row.version) + measure_.versionGap);
}

void WindowModel::Refit(std::size_t index) {
    rows_[index].shown = FittedName(rows_[index].name, TellingPart(names_, index),
                                    NameRoom(rows_[index]), measure_.width);
}

void WindowModel::MeasureText(TextMeasure measure) {
    measure_ = std::move(measure);
    const std::vector<std::string> shown = FittedNames(
        names_, [this](std::size_t i) { return NameRoom(i < rows_.size() ? rows_[i] : ListRow{}); },
        measure_.width);
    for (std::size_t i = 0; i < rows_.size() && i < shown.size(); ++i) {
        if (rows_[i].shown != shown[i]) {
            rows_[i].shown = shown[i];
            view_.ShowRow(i, rows_[i]);
        }
    }
    if (state_ != State::Batch) {
        ShowFolderCaption();
    }
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
