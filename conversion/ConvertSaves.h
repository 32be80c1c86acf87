#pragma once

#include "conversion/ProgramFolder.h"
#include "system/Process.h"
#include "system/Status.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrapel {

class CancelFlag;
class DecipheredSaves;

// Said of a save whose name a cipher tool taking the ANSI code page cannot be handed.
inline constexpr const char* kNameNotForTool =
    N_("the cipher tool cannot open a name with characters outside the system's language");

// Why a save whose name ends in a dot or a space is left alone when the cipher tool is a
// Windows program.
inline constexpr const char* kTrailingDotOrSpace =
    N_("the name ends in a dot or a space, which Windows programs cannot open");

// Why a save is left alone whose plain form two witnesses, taken once more alone, do not agree on.
inline constexpr const char* kTwoResults =
    N_("the cipher tool gave two different results for this save");

// Why a save is left alone whose plain form, enciphered by a tool with a salt or an IV, is not as
// long as the save: a decipher cut short, or grown.
inline constexpr const char* kNotWhole =
    N_("the cipher tool's result is not as long as the save: it was not deciphered whole");

// Why a save is left alone when a run of the cipher tool failed: "cipher tool failed (exit code
// 3)", "cipher tool crashed (...)", "cipher tool did not finish within 120 s", with {outcome}
// the run's ProcessOutcome::phrase(), then the tool's last line of output, verbatim, as {words}
// when it said anything.
Phrase ToolFailure(const ProcessOutcome& outcome);

// A save's reason split into our words and the cipher tool's own (ToolFailure's {words}): the
// reason without them, and the words as the tool said them. The reason as it is, and no words,
// when it holds none.
struct ToolSaying {
    Phrase ours;
    std::string words;
};
ToolSaying SplitToolWords(const Phrase& reason);
// Whether reason is ToolFailure's for a run the tool ended itself with a failure (no crash, no
// time limit): it refused the file.
bool ToolRefused(const Phrase& reason);

// How long one run of the cipher tool may take unless told otherwise.
inline constexpr std::chrono::seconds kDefaultToolTimeLimit{120};

// How many saves a pass runs the cipher tool on at once unless told otherwise: one per logical
// processor, at most 8.
std::size_t DefaultJobs();

struct BatchRequest {
    std::string saveFolder;         // the chosen save folder
    std::vector<std::string> names; // entry names in list order
    std::string appDir;             // program folder, ending in a separator
    std::string valueText;          // the DLC value as text ("200")
    std::chrono::milliseconds toolTimeLimit = kDefaultToolTimeLimit; // per tool run
    const CancelFlag* cancel = nullptr; // raised: no new step starts, a tool run is ended
    std::string backupFolder = {};      // where originals are kept; empty: BackupFolderFor(appDir)
    std::string workFolder = {};        // the work folder; empty: WorkFolderOf(appDir)
    // How many saves a pass may run the cipher tool on at once. The passes keep their order
    // and the results are those of one job; replacements are made one after another. With
    // more than one, a save whose tool run failed is tried once more alone before it fails.
    std::size_t jobs = DefaultJobs();
    // Deciphered saves kept from reading their versions: a save whose bytes are unchanged is
    // not deciphered again. Reading fills it, a batch keeps the saves it writes. Optional.
    DecipheredSaves* deciphered = nullptr;
    // Stop before anything is enciphered when most saves read (more than half of those read)
    // hold no known version: the cipher tool may not be the one for these saves, and any tool
    // that deciphers alike passes every proof. The outcome's refusal says so, unknownVersions
    // counts them, and every save stays as it was.
    bool stopOnUnknownVersions = false;
};

// Whether most of the values read are no known version: more than half of them.
bool MostlyUnknownVersions(std::size_t unknown, std::size_t read);

// The most jobs a request may ask for.
inline constexpr std::size_t kMaxJobs = 64;

struct FileOutcome {
    std::string name;
    bool changed = false;
    Phrase reason = {};    // why not, when neither changed nor already
    bool already = false;  // its field held the value already: left as it was
    bool sameFile = false; // another entry is the same file, converted there; reason names it
    std::optional<std::int16_t> oldValue = {}; // the field as read, once deciphered
    std::optional<std::int16_t> newValue = {}; // the value given, when changed or already

    // Changed, or held the value already: nothing left to do for it.
    bool done() const { return changed || already || sameFile; }
};

struct BatchResult {
    std::vector<FileOutcome> files; // one per listed name, in list order
    std::size_t changedCount = 0;
    std::size_t alreadyCount = 0;
    std::size_t sameFileCount = 0; // entries that are another entry's file
    Phrase refusal;                // why nothing was attempted, when nothing was
    bool cancelled = false;
    // Something went wrong after the saves were replaced ("the backup set could not be
    // completed: REASON; --restore still works"); the batch then did not fully succeed.
    Phrase warning;
    // Said once beside the report, the batch's outcome aside: the tool ran on one save at a time
    // as its copies for several jobs could not be made (JobPlaces).
    Phrase note;
    // Saves read as no known version when the batch stopped for them (stopOnUnknownVersions).
    std::size_t unknownVersions = 0;
    std::string backupSet;  // the set keeping the originals of the saves replaced, if any
    std::string saveFolder; // as requested

    // Every listed save was changed or held the value already.
    bool allChanged() const {
        return refusal.empty() && warning.empty() &&
               changedCount + alreadyCount + sameFileCount == files.size();
    }
};

// Told of a batch's progress, on the thread that runs the batch.
class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    // A pass over the whole list begins: pass counts from 0 to passes - 1.
    virtual void passStarted(std::size_t pass, std::size_t passes) {
        (void)pass;
        (void)passes;
    }
    // The entry at index is being worked on.
    virtual void cursorMoved(std::size_t index) { (void)index; }
    // The entry at index has its final outcome: replaced, or left as it was.
    virtual void fileFinished(std::size_t index, const FileOutcome& outcome) {
        (void)index;
        (void)outcome;
    }
};

// Gives every listed save the DLC value: copies each into the work folder, has the cipher
// tool decipher it, leaves it alone when its field holds the value already, confirms the plain
// form by a second witness (it enciphers back to the save, or, for a tool that enciphers
// differently each time, a second decipher gives the same bytes; kTwoResults when they still
// disagree tried alone), writes the field, has the tool encipher it, proves the result by having
// the tool decipher a scratch copy of it back to the patched save, and replaces the save. An entry
// that is a symbolic link to another entry's file is converted once, through that entry. Holds the
// SaveFolderLock. One pass per step over the whole list: every decipher, every witness, then every
// encipher with its proof, then every replacement. Before the first replacement the originals of
// the saves about to be replaced are kept in a backup set (Backups.h); when they cannot be, nothing
// is replaced. A save is replaced only when every step before succeeded; otherwise it stays byte
// for byte as it was. The work folder is left empty.
BatchResult ConvertSaves(const BatchRequest& request, Scn_Process& runner,
                         BatchObserver* observer = nullptr);

// Reads every listed save's current DLC value and changes nothing: each is copied into the
// work folder, deciphered there and its field read. The outcomes carry oldValue when read and
// a reason when not; valueText is not used. Holds the work folder as a batch does and leaves
// it empty; refuses what a batch refuses.
BatchResult ReadSaveVersions(const BatchRequest& request, Scn_Process& runner,
                             BatchObserver* observer = nullptr);

} // namespace ostrapel
