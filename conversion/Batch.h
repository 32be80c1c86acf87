// The batch behind ConvertSaves and ReadSaveVersions: its story (ConvertSaves.cpp), its pass
// scheduler (BatchPasses.cpp) and its steps (BatchSteps.cpp).
#pragma once

#include "conversion/Backups.h"
#include "conversion/ConvertSaves.h"
#include "conversion/JobPlaces.h"
#include "system/Cancel.h"
#include "system/Paths.h"
#include "system/Sha256.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrapel::batch {

constexpr const char* kSideFileSuffix = ".backup";

// The cipher tool runs where it is: one run at a time.
constexpr std::size_t kAlone = static_cast<std::size_t>(-1);

// Per entry only what the passes hand on; paths are built when needed, so a large folder
// costs little more than its names.
struct FileState {
    FileIdentity identity;
    Sha256Digest original{};  // the save as copied in
    Sha256Digest plain{};     // the save deciphered, when deciphered is set
    bool deciphered = false;  // deciphered in the pass under way
    bool heldBack = false;    // held the value already: finished once no twin needs it again
    std::size_t job = kAlone; // whose place the cipher tool runs in: a job's, or its own
    Sha256Digest patched{};   // the patched save the enciphered result must decipher back to
    Sha256Digest result{};    // the enciphered result, which is to replace the save
    bool alive = true;
    bool ranTool = false;         // the cipher tool has run for it in the step under way
    bool retry = false;           // failed beside other tool runs: to be tried once more alone
    std::size_t originalSize = 0; // of the save as copied in
    std::size_t plainSize = 0;    // of its plain form
    bool witnessed = false;       // its plain form is confirmed by its witness
    bool twice = false;           // confirmed by a second decipher, the tool having a salt or IV
    bool disagreed = false;       // its witnesses disagreed: to be tried once more alone
    bool witnessRetried = false;  // it was, so a second disagreement fails it
    bool aloneForTwins = false;   // deciphered again alone because it had a twin
};

class Batch {
public:
    // readOnly: only read every save's field, in one pass, and change nothing.
    Batch(const BatchRequest& request, Scn_Process& runner, BatchObserver* observer,
          bool readOnly = false)
        : request_(request), runner_(runner), observer_(observer), readOnly_(readOnly) {}

    BatchResult run();

private:
    // The step a pass runs on each entry.
    using Step = void (Batch::*)(std::size_t);

    // Refuses entries whose names cannot safely stand for one save in both folders.
    void refuseUnsafeNames();
    // Settles the entries that are the same file as another entry, which alone is converted.
    void settleSameFiles();
    std::string savePath(std::size_t index) const {
        return JoinPath(request_.saveFolder, request_.names[index]);
    }
    std::string workCopy(std::size_t index) const {
        return JoinPath(workFolder_, request_.names[index]);
    }
    std::string scratchCopy(std::size_t index) const {
        return JoinPath(JoinPath(workFolder_, kScratchFolder), request_.names[index]);
    }
    // Entries whose saves differ yet decipher to the same bytes, among themselves or with the
    // kept deciphered saves, are deciphered again, alone, by again; then every entry held back
    // is finished.
    void recheckTwins(Step again);
    // Copies the save in, deciphers the copy and reads it back; empty when the entry failed.
    std::optional<std::string> copyInAndDecipher(std::size_t index);
    void decipherAndPatch(std::size_t index);
    void decipherAndRead(std::size_t index);
    void encipherAndCheck(std::size_t index);
    // Tries an entry whose encipher step failed from the start: its work copy is gone.
    void decipherAndEncipher(std::size_t index);
    // The witness of the first entry still to be confirmed, taken alone: it may show that the
    // tool enciphers one plain form two ways, which the other entries' witnesses then rely on.
    void probeTool();
    // Confirms the entry's plain form, or has it tried once more alone (BatchWitness.cpp).
    void witness(std::size_t index);
    // Its plain form is confirmed; an entry already at the value is then done with.
    void confirmed(std::size_t index, bool twice);
    // For an entry confirmed by a second decipher: whether the enciphered result, of another
    // length than the save, still shows the plain form whole (proof: the result deciphered).
    bool wholeDespiteLength(std::size_t index, std::string proof);
    void decipherAndWitness(std::size_t index);
    // The tool's enciphering of the entry's unpatched plain form; empty when the entry failed.
    std::optional<std::string> encipherUnpatched(std::size_t index);
    // Whether a second decipher of the save gives the plain form of the first; empty when the
    // entry failed.
    std::optional<bool> decipheredAlike(std::size_t index);
    // The witnesses disagree: the entry is tried once more alone, or fails when it was.
    void disagree(std::size_t index);
    void copyBack(std::size_t index);
    // Keeps the originals of the saves about to be replaced; those it cannot keep fail.
    void keepOriginals(BackupWriter& backup);
    // Stops the batch when most saves read as no known version and the request says so.
    bool stopForUnknownVersions();
    // Tells the set which saves were replaced.
    void finishBackup(BackupWriter& backup);
    // The deciphered save's field, kept in the outcome; empty when the entry failed.
    std::optional<std::int16_t> readField(std::size_t index, std::string_view deciphered);

    // Runs the cipher tool on a file and removes its side file; false when the entry failed.
    // Each caller then reads the file back and requires the run to have changed it: a tool
    // that leaves it as it was did not do its work.
    bool runTool(std::size_t index, const std::string& file, bool decipher);
    // Reads a work file whole after a tool run; false when the entry failed, the tool having
    // removed the file among the reasons.
    bool readBack(std::size_t index, const std::string& file, std::string& content);
    // Runs the cipher tool on the entry's scratch copy and reads it back, then removes the copy
    // whatever happened; empty when the entry failed.
    std::optional<std::string> runOnScratch(std::size_t index, bool decipher);
    bool cancelled() const { return request_.cancel != nullptr && request_.cancel->raised(); }
    void fail(std::size_t index, Phrase reason);
    // Ends an entry that is done with: read, already at the value, or replaced.
    void succeed(std::size_t index);
    // The observer hears of one entry at a time; mutex_ is held.
    void notifyFinished(std::size_t index) {
        if (observer_ != nullptr) {
            observer_->fileFinished(index, result_.files[index]);
        }
    }

    // Runs step on every entry still alive, in list order, with the cursor on it. With more
    // than one job, up to that many entries are worked on at once; the pass ends when all are,
    // after an entry that failed once the tool had run for it is tried again alone, by again.
    void pass(Step step, Step again, bool parallel = true);
    // A tool that cannot share the machine with other runs of itself fails beside them and
    // works alone: such a failure costs time, not the save.
    void retryAlone(Step again);
    // Works on an entry again from the start, alone.
    void redo(std::size_t index, Step again);

    const BatchRequest& request_;
    Scn_Process& runner_;
    BatchObserver* observer_;
    const bool readOnly_;
    bool windowsTool_ = false; // the cipher tool is a Windows program, here or through Wine
    std::int16_t target_ = 0;
    std::string workFolder_;
    std::vector<FileState> states_;
    std::vector<std::size_t> kept_;  // entries handed to the backup, in order
    std::vector<JobPlace> places_;   // one per job when jobs run side by side
    std::vector<std::size_t> twins_; // entries whose kept deciphered bytes had a twin
    // Guards what the entries of a pass share: the counts and the observer.
    std::mutex mutex_;
    // Several jobs are at work: a failure after a tool run waits for a retry alone.
    bool deferring_ = false;
    // Runs side by side were seen spoiling each other (twins, or witnesses that disagreed):
    // the tool keeps state its places do not keep apart, so the passes left run it alone.
    bool spoiled_ = false;
    // The tool was seen to encipher one plain form two ways, each as long as the save: a salt or
    // an IV. Until then every plain form must encipher back to its save exactly.
    bool randomTool_ = false;
    // Added to a job's number to choose its place: a second decipher runs in another place.
    std::size_t placeShift_ = 0;
    BatchResult result_;
};

} // namespace ostrapel::batch
