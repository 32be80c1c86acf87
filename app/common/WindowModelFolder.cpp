// The listed folder: opening it, listing its entries and reading their versions, those in view
// first.

#include "WindowModel.h"
#include "WindowModelInternal.h"
#include "conversion/SaveFolder.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <algorithm>

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

} // namespace

void WindowModel::ClearListing() {
    StopReading();
    rows_.clear();
    names_.clear();
    unknown_.clear();
    view_.ShowRows(rows_);
    if (!options_.appDir.empty()) {
        (void)SetCurrentDirectory(options_.appDir);
    }
}

void WindowModel::OpenClicked() {
    if (state_ != State::Idle) {
        return;
    }
    ClearListing();
    std::optional<std::string> chosen = view_.ChooseFolder();
    ListFolder(chosen ? NormalisedFolder(std::move(*chosen)) : std::string());
}

bool WindowModel::OpenFolder(const std::string& folder) {
    if (state_ != State::Idle) {
        return false;
    }
    ClearListing();
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

} // namespace ostrapel
