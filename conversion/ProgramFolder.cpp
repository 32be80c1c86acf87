// The program folder's layout and the rules that keep its work folder apart from the saves.
#include "conversion/ProgramFolder.h"

#include "conversion/JobPlaces.h"
#include "system/FileSystem.h"
#include "system/Paths.h"
#include "system/UserFolders.h"

#include <string>
#include <utility>
#include <vector>

namespace ostrapel {

// Deletes a folder with everything in it; a link inside is removed, never followed.
Status RemoveTree(const std::string& folder) {
    ListingResult listing = ListDirectory(folder);
    for (const DirectoryEntry& entry : listing.entries) {
        const std::string path = JoinPath(folder, entry.name);
        if (entry.kind == EntryKind::Directory && !IsSymbolicLink(path)) {
            (void)RemoveTree(path);
        } else if (!RemoveFile(path)) {
            (void)RemoveEmptyDirectory(path); // a link to a folder, on Windows
        }
    }
    return RemoveEmptyDirectory(folder);
}

// Empties the work folder, the batch's own folders in it included, which go too; the job
// places keep their copies of the tool's folder.
Status ClearWorkArea(const std::string& workFolder) {
    ClearJobPlaces(workFolder);
    Status cleared = RemoveFilesIn(workFolder);
    for (const char* own : {kScratchFolder, kEarlierPatchedFolder}) {
        const std::string folder = JoinPath(workFolder, own);
        if (KindOf(folder) == EntryKind::Directory) {
            Status removed = RemoveFilesIn(folder);
            if (removed) {
                removed = RemoveEmptyDirectory(folder);
            }
            if (!removed && cleared) {
                cleared = removed;
            }
        }
    }
    return cleared;
}

std::string Join(std::initializer_list<std::string_view> parts) {
    std::string path;
    for (std::string_view part : parts) {
        path = path.empty() ? std::string(part) : JoinPath(path, part);
    }
    return path;
}

Phrase WhoHoldsTheWorkFolder(const std::string& appDir) {
    const std::string folder = WorkFolderOf(appDir);
    const std::string tool = ResolvedPath(CipherToolOf(appDir));
    std::vector<RunningProgram> holders = ProgramsUsing(ResolvedPath(folder));
    if (tool.empty() || holders.empty()) {
        return kWorkFolderBusy;
    }
    // The tool runs where it is, or from a job's copy of its folder in the work folder.
    const std::string copies = JoinPath(ResolvedPath(folder), kJobsFolder);
    std::string ids;
    for (const RunningProgram& holder : holders) {
        if (holder.executable != tool && !PathIsWithin(holder.executable, copies)) {
            return kWorkFolderBusy; // a conversion, with its tool run if one is under way
        }
        ids += (ids.empty() ? "" : ", ") + std::to_string(holder.id);
    }
    // TRANSLATORS: {ids} is a list of process numbers.
    return Phrase(N_("The cipher tool is still running from a conversion that was interrupted, "
                     "and keeps the work folder {path} in use (process {ids}). Wait for it to "
                     "end, or end it, then try again"))
        .With("path", folder)
        .With("ids", ids);
}

namespace {

// Whether a file can be made in the folder, which is made when missing.
bool CanWriteIn(const std::string& folder) {
    if (!MakeDirectory(folder)) {
        return false;
    }
    // A name of its own, so instances testing at once do not meet.
    const std::string probe = JoinPath(folder, NewTemporaryName());
    if (!WriteNewFile(probe, {})) {
        return false;
    }
    (void)RemoveFile(probe);
    return true;
}

// Makes a folder and the folders above it that are missing.
Status MakeFolders(const std::string& folder) {
    const std::string parent = ParentOf(folder);
    if (parent != folder && KindOf(parent) != EntryKind::Directory) {
        (void)MakeFolders(parent);
    }
    return MakeDirectory(folder);
}

} // namespace

std::string ChooseWorkFolder(const std::string& appDir, const std::string& userWorkFolder,
                             bool keepOut, bool (*canWriteIn)(const std::string& folder)) {
    const std::string beside = WithTrailingSeparator(Join({appDir, "Decrypt", "temp"}));
    if (userWorkFolder.empty() || (!keepOut && canWriteIn(beside))) {
        return beside;
    }
    (void)MakeFolders(userWorkFolder);
    return WithTrailingSeparator(userWorkFolder);
}

bool KeepsWorkFolderOut(const std::string& appDir, const std::vector<std::string>& keptOut,
                        bool underSyncRoot) {
    if (underSyncRoot) {
        return true;
    }
    const std::string resolved = ResolvedPath(appDir);
    for (const std::string& folder : keptOut) {
        if (!folder.empty() && (PathIsWithin(appDir, folder) ||
                                (!resolved.empty() && PathIsWithin(resolved, folder)))) {
            return true;
        }
    }
    return false;
}

std::string WorkFolderOf(const std::string& appDir) {
#ifdef _WIN32
    const SyncedOrProtected places = SyncedOrProtectedFolders(appDir);
    return ChooseWorkFolder(appDir, UserWorkFolder(),
                            KeepsWorkFolderOut(appDir, places.folders, places.underSyncRoot),
                            CanWriteIn);
#else
    return ChooseWorkFolder(appDir, {}, false, CanWriteIn); // see ProgramFolder
#endif
}

std::string CipherToolOf(const std::string& appDir) {
    return Join({appDir, "Decrypt", "decrypt.exe"});
}

Status ClearWorkFolder(const std::string& appDir) {
    const std::string folder = WorkFolderOf(appDir);
    // With no save folder to check it against, a work folder reached through a link (itself, or
    // a folder on the way down from the program folder) may lead anywhere, a save folder among
    // them: it is left as it is, and a batch checks and empties it.
    std::string at = folder.substr(0, folder.size() - 1); // without its trailing separator
    const std::string top = PathIsWithin(at, appDir) ? appDir : at;
    for (;;) {
        if (IsSymbolicLink(at)) {
            return Status::Ok();
        }
        const std::string parent = ParentOf(at);
        if (SamePathText(at, top) || parent.empty() || SamePathText(parent, at) ||
            SamePathText(parent, top)) {
            break;
        }
        at = parent;
    }
    FolderLock lock(folder);
    if (!lock.held()) {
        return lock.busy() ? Status::Fail(WhoHoldsTheWorkFolder(appDir)) : lock.status();
    }
    return ClearWorkArea(folder);
}

Status CheckSaveFolder(const std::string& saveFolder, const std::string& appDir) {
    if (saveFolder.empty() || appDir.empty()) {
        return Status::Ok();
    }
    auto resolved = [](const std::string& path) {
        std::string real = ResolvedPath(path);
        return real.empty() ? path : real;
    };
    const std::string program = resolved(appDir);
    std::string folder = resolved(saveFolder);
    const auto refused =
        Status::Fail(Phrase(N_("The save folder is inside the program folder: {path}"))
                         .With("path", saveFolder));
    if (PathIsWithin(folder, program)) {
        return refused;
    }
    // The same folder under another name (a short name, a second mount): the save folder or a
    // folder above it is the program folder itself.
    const auto programId = IdentityOf(program);
    if (!programId) {
        return Status::Ok();
    }
    for (;;) {
        if (auto id = IdentityOf(folder); id && id->sameFile(*programId)) {
            return refused;
        }
        std::string parent = ParentOf(folder);
        if (parent == folder || parent == ".") {
            return Status::Ok();
        }
        folder = std::move(parent);
    }
}

Status CheckWorkFolder(const std::string& workFolder, const std::string& saveFolder) {
    if (saveFolder.empty()) {
        return Status::Ok();
    }
    const std::string work = ResolvedPath(workFolder);
    const std::string saves = ResolvedPath(saveFolder);
    if (work.empty() || saves.empty()) {
        return Status::Ok(); // what cannot be resolved fails on its own later
    }
    const char* how =
        SamePathText(work, saves)
            ? N_("The work folder {work} is the save folder {saves} (symbolic links resolved); "
                 "it is emptied at every batch, so nothing was done")
        : PathIsWithin(work, saves)
            ? N_("The work folder {work} lies inside the save folder {saves} (symbolic links "
                 "resolved); it is emptied at every batch, so nothing was done")
        : PathIsWithin(saves, work)
            ? N_("The work folder {work} contains the save folder {saves} (symbolic links "
                 "resolved); it is emptied at every batch, so nothing was done")
            : nullptr;
    if (how == nullptr) {
        return Status::Ok();
    }
    return Status::Fail(Phrase(how).With("work", workFolder).With("saves", saveFolder));
}

CommandLine CipherCommand(const std::string& appDir, const std::string& workCopy, bool decipher) {
    return {CipherToolOf(appDir), {(decipher ? "/decrypt:" : "/encrypt:") + workCopy}};
}

} // namespace ostrapel
