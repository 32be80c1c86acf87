// The witness of every save's plain form, taken before the save is patched for good. The whole
// rule is here (docs/design.md has it as a table):
//  - The plain form enciphers back to the save byte for byte: confirmed. A tool that enciphers
//    alike shows every save so, whatever the others showed.
//  - It does not, yet the tool has not been seen to encipher one plain form two ways: the plain
//    form is enciphered once more. The save then: the first run misbehaved, confirmed. The same
//    bytes again: this plain form is not the save's. Two results, each as long as the save: the
//    tool has a salt or an IV, which is known from then on once this save's witness holds.
//  - With such a tool: a second decipher, in another place, must give the same bytes, and the
//    save's enciphered result must be as long as the save (or, for a tool whose lengths follow
//    the content rather than its length, the unpatched plain form enciphered must be).
// A save already at the value is confirmed the same way before it is reported so. Whatever fails
// is tried once more alone; a second failure leaves the save as it was.
#include "conversion/Batch.h"
#include "conversion/DecipheredSaves.h"
#include "conversion/DlcVersion.h"
#include "system/FileSystem.h"
#include "system/Sha256.h"

namespace ostrapel::batch {

void Batch::probeTool() {
    for (std::size_t index = 0; index < states_.size(); ++index) {
        FileState& state = states_[index];
        if (!state.alive || state.witnessed || cancelled()) {
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
        witness(index);
        return;
    }
}

void Batch::witness(std::size_t index) {
    FileState& state = states_[index];
    if (!state.alive || state.witnessed) {
        return;
    }
    bool random = false;
    {
        std::lock_guard lock(mutex_);
        random = randomTool_;
    }
    // Two results of one plain form show a salt or an IV only once the save's own second
    // decipher agrees: a save whose runs misbehaved never weakens the witness of the others.
    const bool foundRandom = !random;
    if (!random) {
        const std::optional<std::string> first = encipherUnpatched(index);
        if (!first) {
            return;
        }
        if (Sha256Of(*first) == state.original) {
            return confirmed(index, false);
        }
        const std::optional<std::string> second = encipherUnpatched(index);
        if (!second) {
            return;
        }
        if (Sha256Of(*second) == state.original) {
            return confirmed(index, false); // the first encipher misbehaved
        }
        if (*second == *first || first->size() != state.originalSize ||
            second->size() != state.originalSize) {
            return disagree(index);
        }
    }
    const std::optional<bool> alike = decipheredAlike(index);
    if (!alike) {
        return;
    }
    if (!*alike) {
        return disagree(index);
    }
    if (result_.files[index].already) {
        // No result of its own is made to show the length: the plain form's, enciphered.
        const std::optional<std::string> back = encipherUnpatched(index);
        if (!back) {
            return;
        }
        if (back->size() != state.originalSize) {
            return fail(index, kNotWhole);
        }
    }
    if (foundRandom) {
        std::lock_guard lock(mutex_);
        randomTool_ = true;
    }
    confirmed(index, true);
}

void Batch::confirmed(std::size_t index, bool twice) {
    FileState& state = states_[index];
    state.witnessed = true;
    state.twice = twice;
    if (result_.files[index].already) {
        // Nothing to change: the save is neither enciphered again nor replaced. It is finished
        // once no other save turns out to decipher alike.
        (void)RemoveFile(workCopy(index));
        state.alive = false;
        state.heldBack = true;
    }
}

bool Batch::wholeDespiteLength(std::size_t index, std::string proof) {
    FileState& state = states_[index];
    if (std::optional<std::int16_t> old = result_.files[index].oldValue) {
        SetDlcField(proof, *old);
    }
    const std::string scratch = scratchCopy(index);
    (void)RemoveFile(scratch);
    if (Status written = WriteNewFile(scratch, proof); !written) {
        fail(index, Phrase(N_("copy failed: {reason}")).With("reason", written.phrase()));
        return false;
    }
    const std::optional<std::string> back = runOnScratch(index, false);
    if (!back) {
        return false;
    }
    if (back->size() != state.originalSize) {
        fail(index, kNotWhole);
        return false;
    }
    return true;
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
