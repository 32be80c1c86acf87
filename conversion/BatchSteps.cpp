#include "conversion/Batch.h"
#include "conversion/DecipheredSaves.h"
#include "conversion/DlcVersion.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/Sha256.h"

#include <utility>

namespace ostrapel::batch {

std::optional<std::string> Batch::copyInAndDecipher(std::size_t index) {
    const std::string save = savePath(index);
    const std::string copy = workCopy(index);
    switch (KindOf(save)) {
    case EntryKind::Directory:
        fail(index, "is a folder");
        return std::nullopt;
    case EntryKind::Missing:
        fail(index, "not found");
        return std::nullopt;
    case EntryKind::Other:
        fail(index, "is not a regular file");
        return std::nullopt;
    case EntryKind::File:
        break;
    }
    // Reading versions downloads no save that is in the cloud only; converting does.
    if (readOnly_ && IsOnlineOnly(save)) {
        fail(index, "online-only (open it once to download it)");
        return std::nullopt;
    }
    // Only a save that is to be replaced must be writable.
    if (!readOnly_ && IsReadOnly(save)) {
        fail(index, "is read-only");
        return std::nullopt;
    }
    // The work folder starts empty, so a work copy already there belongs to another save
    // whose name differs only in case, on a file system that ignores it.
    if (KindOf(copy) != EntryKind::Missing) {
        fail(index, "its work copy clashes with another save's");
        return std::nullopt;
    }
    std::string original;
    if (Status copied = CopyFileTo(save, copy, {&states_[index].identity, &original}); !copied) {
        fail(index, Phrase(N_("copy failed: {reason}")).With("reason", copied.phrase()));
        return std::nullopt;
    }
    DecipheredSaves* const kept = request_.deciphered;
    FileState& state = states_[index];
    state.original = Sha256Of(original);
    state.originalSize = original.size();
    // Kept bytes that another save deciphered to as well are not trusted: it is deciphered again.
    auto deciphered = [&](std::string bytes) {
        state.plain = Sha256Of(bytes);
        state.plainSize = bytes.size();
        state.deciphered = true;
        if (kept != nullptr && kept->dropTwins(state.original, state.plain)) {
            std::lock_guard lock(mutex_);
            twins_.push_back(index);
        }
        return std::optional<std::string>(std::move(bytes));
    };
    if (kept != nullptr) {
        if (std::optional<std::string> bytes = kept->find(state.original)) {
            // Unchanged since it was deciphered: the kept bytes stand for the tool's run.
            if (readOnly_) {
                (void)RemoveFile(copy);
            } else if (Status written = OverwriteFile(copy, *bytes); !written) {
                fail(index, Phrase(N_("copy failed: {reason}")).With("reason", written.phrase()));
                return std::nullopt;
            }
            return deciphered(std::move(*bytes));
        }
    }
    std::string bytes;
    if (!runTool(index, copy, true) || !readBack(index, copy, bytes)) {
        return std::nullopt;
    }
    if (bytes == original) {
        fail(index, "cipher tool changed nothing");
        return std::nullopt;
    }
    std::optional<std::string> result = deciphered(bytes);
    if (kept != nullptr && readOnly_) {
        kept->keep(state.original, std::move(bytes), &state.plain);
    }
    return result;
}

std::optional<std::int16_t> Batch::readField(std::size_t index, std::string_view deciphered) {
    auto value = DlcFieldOf(deciphered);
    if (!value) {
        fail(index, Phrase(N_("deciphered save too short ({size} bytes)"))
                        .With("size", std::uint64_t{deciphered.size()}));
        return std::nullopt;
    }
    result_.files[index].oldValue = value;
    return value;
}

void Batch::decipherAndRead(std::size_t index) {
    auto deciphered = copyInAndDecipher(index);
    if (!deciphered) {
        return;
    }
    const bool read = readField(index, *deciphered).has_value();
    (void)RemoveFile(workCopy(index));
    if (read) {
        succeed(index);
    }
}

void Batch::decipherAndPatch(std::size_t index) {
    auto deciphered = copyInAndDecipher(index);
    if (!deciphered) {
        return;
    }
    const std::string copy = workCopy(index);
    auto old = readField(index, *deciphered);
    if (!old) {
        return;
    }
    if (*old == target_) {
        // Nothing to change, once its witness confirms the value read (Batch::confirmed).
        result_.files[index].already = true;
        return;
    }
    std::string& patched = *deciphered;
    SetDlcField(patched, target_);
    const auto field = static_cast<std::size_t>(DlcField::kOffset);
    if (Status written =
            WriteBytesAt(copy, DlcField::kOffset, std::string_view(patched).substr(field, 2));
        !written) {
        return fail(
            index,
            Phrase(N_("could not write the DLC field: {reason}")).With("reason", written.phrase()));
    }
    // Kept to prove the enciphered result against.
    states_[index].patched = Sha256Of(patched);
}

void Batch::encipherAndCheck(std::size_t index) {
    const std::string copy = workCopy(index);
    FileState& state = states_[index];
    if (!state.witnessed) {
        return fail(index, kTwoResults); // never built on a plain form not confirmed
    }
    std::string enciphered;
    if (!runTool(index, copy, false) || !readBack(index, copy, enciphered)) {
        return;
    }
    const Sha256Digest result = Sha256Of(enciphered);
    if (result == state.patched) {
        return fail(index, "cipher tool changed nothing");
    }
    if (enciphered.empty()) {
        return fail(index, "cipher tool left an empty file");
    }
    // The result must decipher back to exactly the patched save, or it is not put back.
    const std::string scratch = scratchCopy(index);
    if (Status copied = WriteNewFile(scratch, enciphered); !copied) {
        return fail(index, Phrase(N_("copy failed: {reason}")).With("reason", copied.phrase()));
    }
    // No check that this run changed the scratch copy: it must now equal the patched save,
    // which the enciphered result was just shown to differ from.
    std::string proof;
    if (!runTool(index, scratch, true) || !readBack(index, scratch, proof)) {
        return;
    }
    if (Sha256Of(proof) != state.patched) {
        return fail(index, "the enciphered result does not decipher back to the patched save");
    }
    (void)RemoveFile(scratch);
    // A tool with a salt or an IV enciphers a plain form of the save's length to the save's
    // length: a result of another length was built on a decipher cut short.
    if (state.twice && enciphered.size() != state.originalSize &&
        !wholeDespiteLength(index, proof)) {
        return;
    }
    state.result = result;
    if (request_.deciphered != nullptr) {
        // The save to be, deciphered: reading it after the batch needs no tool run.
        request_.deciphered->keep(result, std::move(proof), &state.patched);
    }
}

void Batch::decipherAndEncipher(std::size_t index) {
    decipherAndWitness(index);
    if (states_[index].alive) {
        encipherAndCheck(index);
    }
}

void Batch::copyBack(std::size_t index) {
    FileState& state = states_[index];
    // The bytes that land are those the proof covered, whatever touched the work copy since.
    ReplaceResult replaced = ReplaceFileAtomically(workCopy(index), savePath(index), state.identity,
                                                   &state.result, &state.original);
    switch (replaced.outcome) {
    case ReplaceOutcome::Replaced:
        result_.files[index].changed = true;
        return succeed(index);
    case ReplaceOutcome::TargetChanged:
        return fail(index, "changed on disk during conversion");
    case ReplaceOutcome::OwnerNotKept:
        return fail(index, replaced.status.phrase());
    case ReplaceOutcome::Failed:
        return fail(index,
                    Phrase(N_("copy failed: {reason}")).With("reason", replaced.status.phrase()));
    }
}

void Batch::keepOriginals(BackupWriter& backup) {
    std::vector<SaveToKeep> saves;
    for (std::size_t i = 0; i < states_.size() && !cancelled(); ++i) {
        if (states_[i].alive) {
            kept_.push_back(i);
            saves.push_back({request_.names[i], HexOf(states_[i].result), states_[i].identity,
                             states_[i].original, result_.files[i].oldValue});
        }
    }
    if (cancelled()) {
        kept_.clear();
        return;
    }
    std::vector<Phrase> reasons = backup.keep(saves);
    for (std::size_t k = 0; k < kept_.size(); ++k) {
        if (!reasons[k].empty()) {
            fail(kept_[k], std::move(reasons[k]));
        }
    }
}

void Batch::finishBackup(BackupWriter& backup) {
    std::vector<bool> replaced;
    for (std::size_t index : kept_) {
        replaced.push_back(result_.files[index].changed);
    }
    if (Status finished = backup.finish(replaced); !finished) {
        result_.warning =
            Phrase(N_("the backup set could not be completed: {reason}; --restore still works"))
                .With("reason", finished.phrase());
    }
    result_.backupSet = backup.setFolder();
}

bool Batch::runTool(std::size_t index, const std::string& file, bool decipher) {
    const std::string forTool = PathForAnsiPrograms(file);
    if (forTool.empty()) {
        fail(index, kNameNotForTool);
        return false;
    }
    states_[index].ranTool = true;
    CommandLine command = CipherCommand(request_.appDir, forTool, decipher);
    RunLimits limits{request_.toolTimeLimit, request_.cancel};
    if (!places_.empty()) {
        // Every run of the batch, alone or not, runs one verified copy of the tool.
        std::size_t job = states_[index].job < places_.size() ? states_[index].job : 0;
        job = (job + placeShift_) % places_.size();
        command.program = places_[job].tool;
        limits.workingFolder = places_[job].workingFolder;
        limits.temporaryFolder = places_[job].temporaryFolder;
    } else {
        // Without copies the tool runs where it is, but never in its own folder: what it leaves
        // there stays out of the program folder and goes with the work folder.
        limits.workingFolder = workFolder_;
    }
    ProcessOutcome outcome = runner_.Run_Process(command, Scn_Process::kHidden, limits);
    (void)RemoveFile(file + kSideFileSuffix);
    if (forTool != file) {
        (void)RemoveFile(forTool + kSideFileSuffix); // the side file of the short name
    }
    if (outcome.kind == ProcessOutcome::Kind::Cancelled) {
        fail(index, "cancelled");
        return false;
    }
    if (!outcome.succeeded()) {
        fail(index, ToolFailure(outcome));
        return false;
    }
    return true;
}

bool Batch::readBack(std::size_t index, const std::string& file, std::string& content) {
    if (Status read = ReadWholeFile(file, content); !read) {
        fail(index, KindOf(file) != EntryKind::File
                        ? Phrase(N_("cipher tool removed the work copy"))
                        : Phrase(N_("could not read back the work copy: {reason}"))
                              .With("reason", read.phrase()));
        return false;
    }
    return true;
}

} // namespace ostrapel::batch
