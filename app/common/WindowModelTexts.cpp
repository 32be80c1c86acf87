// What the list and its caption show, names fitted to the room the view measured, and the
// report boxes' contents.

#include "WindowModel.h"
#include "WindowTexts.h"
#include "Words.h"
#include "system/Paths.h"

#include <array>

namespace ostrapel {

namespace {

// The folder's own name: its last component, or the whole path for a root.
std::string OwnName(const std::string& folder) {
    const std::size_t slash = folder.find_last_of(kPathSeparator);
    const std::string own = slash == std::string::npos ? folder : folder.substr(slash + 1);
    return own.empty() ? folder : own;
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

} // namespace ostrapel
