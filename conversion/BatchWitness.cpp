// The second witness of a save's plain form, taken before the save is patched for good.
#include "conversion/Batch.h"
#include "conversion/DecipheredSaves.h"
#include "conversion/DlcVersion.h"
#include "system/FileSystem.h"
#include "system/Sha256.h"

namespace ostrapel::batch {

namespace {

// The most a cipher adds to a plain form without compressing it: an IV or salt, padding and a
// message authentication code.
constexpr std::size_t kMostOverhead = 64;

} // namespace

void Batch::chooseWitness() {
    for (std::size_t index = 0; index < states_.size() && witness_ == Witness::Unknown; ++index) {
        FileState& state = states_[index];
        if (!state.alive || cancelled()) {
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            if (observer_ != nullptr) {
                observer_->cursorMoved(index);
            }
        }
        state.ranTool = false;
        state.job = kAlone;
        const std::optional<std::string> first = encipherUnpatched(index);
        if (!first) {
            continue;
        }
        if (Sha256Of(*first) == state.original) {
            // The save itself is the witness: this one is confirmed by the run that found it.
            witness_ = Witness::EnciphersBack;
            state.witnessed = true;
            return;
        }
        const std::optional<std::string> second = encipherUnpatched(index);
        if (!second) {
            continue;
        }
        if (*second == *first) {
            // Alike twice, yet not the save: this plain form is not the save's.
            witness_ = Witness::EnciphersBack;
            disagree(index);
            return;
        }
        // A salt or an IV: only a second decipher can confirm a plain form, and a fixed overhead
        // its length.
        witness_ = Witness::DecipheredTwice;
        if (second->size() == first->size() && first->size() >= state.plainSize &&
            first->size() - state.plainSize <= kMostOverhead) {
            overhead_ = first->size() - state.plainSize;
        }
    }
}

void Batch::witness(std::size_t index) {
    FileState& state = states_[index];
    if (!state.alive || state.witnessed) {
        return;
    }
    switch (witness_) {
    case Witness::Unknown:
        return; // no entry could show which: none is patched
    case Witness::EnciphersBack:
        if (const std::optional<std::string> back = encipherUnpatched(index)) {
            if (Sha256Of(*back) != state.original) {
                return disagree(index);
            }
            state.witnessed = true;
        }
        return;
    case Witness::DecipheredTwice:
        if (const std::optional<bool> alike = decipheredAlike(index)) {
            if (!*alike || (overhead_ && state.originalSize != state.plainSize + *overhead_)) {
                return disagree(index);
            }
            state.witnessed = true;
        }
        return;
    }
}

void Batch::decipherAndWitness(std::size_t index) {
    decipherAndPatch(index);
    witness(index);
}

std::optional<std::string> Batch::encipherUnpatched(std::size_t index) {
    FileState& state = states_[index];
    std::string plain;
    if (!readBack(index, workCopy(index), plain)) {
        return std::nullopt;
    }
    if (std::optional<std::int16_t> old = result_.files[index].oldValue) {
        SetDlcField(plain, *old);
    }
    if (Sha256Of(plain) != state.plain) {
        fail(index, "its work copy changed during the conversion");
        return std::nullopt;
    }
    const std::string scratch = scratchCopy(index);
    (void)RemoveFile(scratch);
    if (Status written = WriteNewFile(scratch, plain); !written) {
        fail(index, Phrase(N_("copy failed: {reason}")).With("reason", written.phrase()));
        return std::nullopt;
    }
    std::optional<std::string> enciphered = runOnScratch(index, false);
    if (!enciphered) {
        return std::nullopt;
    }
    if (*enciphered == plain) {
        fail(index, "cipher tool changed nothing");
        return std::nullopt;
    }
    if (enciphered->empty()) {
        fail(index, "cipher tool left an empty file");
        return std::nullopt;
    }
    return enciphered;
}

std::optional<bool> Batch::decipheredAlike(std::size_t index) {
    FileState& state = states_[index];
    const std::string scratch = scratchCopy(index);
    (void)RemoveFile(scratch);
    std::string original;
    FileIdentity identity;
    if (Status copied = CopyFileTo(savePath(index), scratch, {&identity, &original}); !copied) {
        fail(index, Phrase(N_("copy failed: {reason}")).With("reason", copied.phrase()));
        return std::nullopt;
    }
    if (Sha256Of(original) != state.original) {
        (void)RemoveFile(scratch);
        fail(index, "changed on disk during conversion");
        return std::nullopt;
    }
    const std::optional<std::string> plain = runOnScratch(index, true);
    if (!plain) {
        return std::nullopt;
    }
    return Sha256Of(*plain) == state.plain;
}

std::optional<std::string> Batch::runOnScratch(std::size_t index, bool decipher) {
    const std::string scratch = scratchCopy(index);
    std::string content;
    const bool ran = runTool(index, scratch, decipher) && readBack(index, scratch, content);
    (void)RemoveFile(scratch);
    if (!ran) {
        return std::nullopt;
    }
    return content;
}

void Batch::disagree(std::size_t index) {
    FileState& state = states_[index];
    if (deferring_) {
        std::lock_guard lock(mutex_);
        spoiled_ = true;
    }
    if (request_.deciphered != nullptr) {
        // What was kept for the save may be what disagrees: the try alone deciphers it afresh.
        request_.deciphered->drop(state.original);
    }
    if (!state.witnessRetried) {
        state.witnessRetried = true;
        state.disagreed = true;
    }
    fail(index, kTwoResults);
}

} // namespace ostrapel::batch
