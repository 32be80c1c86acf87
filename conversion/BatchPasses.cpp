#include "conversion/Batch.h"
#include "conversion/DecipheredSaves.h"
#include "system/FileSystem.h"

#include <algorithm>
#include <map>
#include <system_error>
#include <thread>

namespace ostrapel::batch {

void Batch::pass(Step step, Step again, bool parallel) {
    const std::size_t count = states_.size();
    std::size_t next = 0;
    auto work = [&](std::size_t job) {
        for (;;) {
            std::size_t index = 0;
            {
                std::lock_guard lock(mutex_);
                if (cancelled() || next >= count) {
                    return;
                }
                index = next++;
                if (observer_ != nullptr) {
                    observer_->cursorMoved(index);
                }
                if (cancelled()) {
                    return;
                }
            }
            if (states_[index].alive) {
                states_[index].ranTool = false;
                states_[index].job = job;
                (this->*step)(index);
            }
        }
    };
    // One job runs the tool where it is; several run it each in a place of its own.
    const std::size_t workers =
        parallel && !spoiled_ && places_.size() > 1 ? std::min(places_.size(), count) : 1;
    deferring_ = workers > 1;
    std::vector<std::thread> helpers;
    try {
        for (std::size_t k = 1; k < workers; ++k) {
            helpers.emplace_back(work, k);
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones there share the work.
    }
    work(workers > 1 ? 0 : kAlone);
    for (std::thread& helper : helpers) {
        helper.join();
    }
    deferring_ = false;
    retryAlone(again);
}

void Batch::retryAlone(Step again) {
    // A try alone may call for one more, when its witnesses disagree; there is never a third.
    for (bool any = true; any;) {
        any = false;
        for (std::size_t index = 0; index < states_.size(); ++index) {
            FileState& state = states_[index];
            if (!state.retry) {
                continue;
            }
            any = true;
            state.retry = false;
            {
                std::lock_guard lock(mutex_);
                if (cancelled()) {
                    notifyFinished(index); // failed as it did
                    continue;
                }
                if (observer_ != nullptr) {
                    observer_->cursorMoved(index);
                }
            }
            redo(index, again);
        }
    }
}

void Batch::redo(std::size_t index, Step again) {
    FileState& state = states_[index];
    for (const std::string& file : {workCopy(index), scratchCopy(index)}) {
        (void)RemoveFile(file);
        (void)RemoveFile(file + kSideFileSuffix);
    }
    state.alive = true;
    state.heldBack = false;
    state.deciphered = false;
    state.ranTool = false;
    state.witnessed = false;
    state.job = kAlone;
    result_.files[index].reason = Phrase();
    result_.files[index].oldValue.reset();
    result_.files[index].already = false;
    (this->*again)(index);
}

void Batch::recheckTwins(Step again) {
    std::vector<std::size_t> twins = std::move(twins_);
    // Each round deciphers alone the twins not yet deciphered alone, which may give one of them
    // the plain form of a save not rechecked yet; those left once all were are genuine.
    for (;;) {
        std::map<Sha256Digest, std::vector<std::size_t>> byPlain;
        for (std::size_t i = 0; i < states_.size(); ++i) {
            if (states_[i].deciphered) {
                byPlain[states_[i].plain].push_back(i);
            }
        }
        for (const auto& group : byPlain) {
            const std::vector<std::size_t>& entries = group.second; // Clang 14 captures no binding
            const bool differ = std::any_of(entries.begin(), entries.end(), [&](std::size_t i) {
                return states_[i].original != states_[entries.front()].original;
            });
            if (differ) {
                twins.insert(twins.end(), entries.begin(), entries.end());
            }
        }
        // A save that failed already shows the others wrong, but is not tried again.
        std::erase_if(twins, [&](std::size_t i) {
            const FileState& state = states_[i];
            return state.aloneForTwins || (!readOnly_ && !state.alive && !state.heldBack);
        });
        std::sort(twins.begin(), twins.end());
        twins.erase(std::unique(twins.begin(), twins.end()), twins.end());
        if (twins.empty()) {
            break;
        }
        spoiled_ = spoiled_ || places_.size() > 1;
        for (std::size_t index : twins) {
            if (request_.deciphered != nullptr) {
                request_.deciphered->drop(states_[index].original);
            }
            std::lock_guard lock(mutex_);
            if (!cancelled() && observer_ != nullptr) {
                observer_->cursorMoved(index);
            }
        }
        for (std::size_t index : twins) {
            states_[index].aloneForTwins = true;
            if (cancelled()) {
                states_[index].heldBack = false;
                states_[index].alive = true; // failed as cancelled with the rest
                continue;
            }
            redo(index, again);
        }
        retryAlone(again);
        twins.clear();
    }
    for (std::size_t index = 0; index < states_.size(); ++index) {
        if (states_[index].heldBack) {
            states_[index].heldBack = false;
            succeed(index);
        }
    }
}

void Batch::fail(std::size_t index, Phrase reason) {
    std::lock_guard lock(mutex_);
    FileState& state = states_[index];
    state.alive = false;
    result_.files[index].reason = std::move(reason);
    result_.files[index].already = false; // read at the value, maybe, but not confirmed
    if ((state.disagreed || (deferring_ && state.ranTool)) && !cancelled()) {
        state.disagreed = false;
        state.retry = true;
        return;
    }
    notifyFinished(index);
}

void Batch::succeed(std::size_t index) {
    std::lock_guard lock(mutex_);
    states_[index].alive = false;
    FileOutcome& file = result_.files[index];
    if (file.changed) {
        ++result_.changedCount;
    } else if (file.already) {
        ++result_.alreadyCount;
    }
    if (file.changed || file.already) {
        file.newValue = target_;
    }
    notifyFinished(index);
}

} // namespace ostrapel::batch
