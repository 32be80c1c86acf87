#pragma once

// What the pieces of the window model share: the hand-over of the workers' findings to the
// window's thread.

#include "WindowModel.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace ostrapel {

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

} // namespace ostrapel
