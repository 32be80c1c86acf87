// The program folder's layout and the rules that keep its work folder apart from the saves.
#pragma once

#include "system/Process.h"
#include "system/Status.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ostrapel {

// Folder layout beside the program, from AppDir (which ends in a separator).
// The work folder, where saves are deciphered and the lock is held: ChooseWorkFolder with, on
// Windows, the per-user work folder (UserWorkFolder), whether the program folder is in a synced
// or protected place and whether files can be made in a folder; elsewhere always Decrypt/temp/
// in the program folder.
std::string WorkFolderOf(const std::string& appDir);
std::string CipherToolOf(const std::string& appDir);

// Decrypt/temp/ in the program folder when it can be made and written in (canWriteIn) and the
// program folder is not in a place to keep out of (keepOut: KeepsWorkFolderOut); otherwise
// userWorkFolder, made when missing (a program folder the user cannot write, such as one under
// C:\Program Files, or one on a synced or protected Desktop), unless there is none. Ends in a
// separator. The cipher tool stays in the program folder either way.
std::string ChooseWorkFolder(const std::string& appDir, const std::string& userWorkFolder,
                             bool keepOut, bool (*canWriteIn)(const std::string& folder));

// Whether the work folder, with the deciphered saves and the jobs' copies of the tool, stays out
// of the program folder: a cloud provider syncs it (underSyncRoot), or it is one of keptOut or
// lies inside one (on Windows: the Desktop and Documents, redirection resolved, and the OneDrive
// folders; see SyncedOrProtectedFolders), as given or with its links resolved.
bool KeepsWorkFolderOut(const std::string& appDir, const std::vector<std::string>& keptOut,
                        bool underSyncRoot);

// Said when another instance of the program holds the work folder.
inline constexpr const char* kWorkFolderBusy = N_("Another conversion is using the work folder");

// How the refusal starts (in English) when a cipher tool left by an interrupted conversion holds
// the work folder.
inline constexpr const char* kToolStillRunning =
    "The cipher tool is still running from a conversion that was interrupted";

// Why the work folder is busy: kWorkFolderBusy while another conversion uses it, or which
// leftover cipher tool process holds it.
Phrase WhoHoldsTheWorkFolder(const std::string& appDir);

// Refusal when the work folder's path cannot be handed to a cipher tool that takes its command
// line in the system's ANSI code page (see PathForAnsiPrograms).
inline constexpr const char* kWorkFolderNotForTool =
    N_("The cipher tool cannot open files in the work folder: move the program to a folder whose "
       "path has only characters of the system's language");

// Said when the program folder is not known, so neither the cipher tool nor the work folder is.
inline constexpr const char* kNoProgramFolder = N_("Cannot tell where this program is installed");

// Deletes the files of the work folder and of the batch's own folders inside it; other
// sub-folders stay. Touches nothing while another instance holds the work folder.
Status ClearWorkFolder(const std::string& appDir);

// Refuses a save folder that is the program folder or lies inside it (the work folder among
// them): converting there would clear the saves with the work folder or rewrite the program.
// Paths are compared resolved, symbolic links followed.
Status CheckSaveFolder(const std::string& saveFolder, const std::string& appDir);

// Refuses a work folder that, resolved, is the save folder, lies inside it or contains it (a
// link in the program folder can take it there): emptying it would take saves with it.
Status CheckWorkFolder(const std::string& workFolder, const std::string& saveFolder);

// The cipher tool's command for one work copy; decipher when decipher is true.
CommandLine CipherCommand(const std::string& appDir, const std::string& workCopy, bool decipher);

// The work folder's own folders, which the batch makes and ClearWorkArea empties.
// The batch's own folder inside the work folder, for the scratch copies the enciphered results
// are deciphered in to prove them. Its name starts with a dot, so no listed save's work copy
// can take it.
inline constexpr const char* kScratchFolder = ".scratch";
// Where earlier versions kept copies of the patched saves; cleared like the batch's own.
inline constexpr const char* kEarlierPatchedFolder = ".patched";
// The places of the jobs of a batch, one folder each: the working folder of the job's runs, with
// a copy of the tool's folder and the runs' temporary folder in it, so runs side by side share
// nothing the tool may write in. They stay from batch to batch (JobPlaces).
inline constexpr const char* kJobsFolder = ".jobs";

// Empties the work folder, the batch's own folders in it included, which go too; the job
// places keep their copies of the tool's folder (ClearJobPlaces).
Status ClearWorkArea(const std::string& workFolder);

// Deletes a folder with everything in it; a link inside is removed, never followed.
Status RemoveTree(const std::string& folder);

// The parts joined into one path.
std::string Join(std::initializer_list<std::string_view> parts);

} // namespace ostrapel
