// Replacing a file atomically: a save through a temporary given its mode and owner, a whole file
// by rename; and flushing to disk.

#include "FileSystemPosixInternal.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrapel {

using posix::CopyContents;
using posix::Fd;
using posix::IdentityOfStat;
using posix::OpenRetrying;
using posix::WriteAll;

ReplaceResult ReplaceFileAtomically(const std::string& source, const std::string& target,
                                    const std::optional<FileIdentity>& expected,
                                    const Sha256Digest* content,
                                    const Sha256Digest* targetContent) {
    auto fail = [](int err) {
        return ReplaceResult{ReplaceOutcome::Failed, Status::FromErrno(err)};
    };
    auto changed = [] {
        return ReplaceResult{ReplaceOutcome::TargetChanged, Status::Fail("changed on disk")};
    };

    // A symbolic link is written through: the file it names is the one replaced.
    char resolved[PATH_MAX];
    if (::realpath(target.c_str(), resolved) == nullptr) {
        return errno == ENOENT && expected ? changed() : fail(errno);
    }
    const std::string realTarget = resolved;
    const std::string folder = ParentOf(realTarget);

    struct stat targetStat;
    if (::stat(realTarget.c_str(), &targetStat) != 0) {
        return fail(errno);
    }
    if (!S_ISREG(targetStat.st_mode)) {
        return {ReplaceOutcome::Failed, Status::Fail("is not a regular file")};
    }
    if (expected && IdentityOfStat(targetStat) != *expected) {
        return changed();
    }
    if (IsReadOnly(realTarget)) {
        return {ReplaceOutcome::Failed, Status::Fail("is read-only")};
    }

    Fd in(OpenRetrying(source.c_str(), O_RDONLY));
    if (!in.valid()) {
        return fail(errno);
    }

    // An unnamed temporary is linked into the folder only once it is complete. That takes
    // /proc; without it, a named temporary is created exclusively instead.
    bool unnamed = ::access("/proc/self/fd", X_OK) == 0;
    std::string temporary = JoinPath(folder, NewTemporaryName());
    Fd out(unnamed ? OpenRetrying(folder.c_str(), O_WRONLY | O_TMPFILE, 0600) : -1);
    if (!out.valid()) {
        if (unnamed && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL &&
            errno != ENOENT) {
            return fail(errno);
        }
        unnamed = false;
        out.reset(OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
        if (!out.valid()) {
            return fail(errno);
        }
    }
    auto abandon = [&](int err) {
        if (!unnamed) {
            ::unlink(temporary.c_str());
        }
        return fail(err);
    };

    std::string copied;
    if (int err = CopyContents(in.get(), out.get(), content != nullptr ? &copied : nullptr);
        err != 0) {
        return abandon(err);
    }
    if (content != nullptr && Sha256Of(copied) != *content) {
        if (!unnamed) {
            ::unlink(temporary.c_str());
        }
        return {ReplaceOutcome::Failed, Status::Fail(kChangedAfterProof)};
    }
    if (::fchmod(out.get(), targetStat.st_mode & 07777) != 0) {
        return abandon(errno);
    }
    // A new file belongs to whoever wrote it; the game may need the save's owner and group.
    struct stat written;
    if (::fstat(out.get(), &written) != 0) {
        return abandon(errno);
    }
    if ((written.st_uid != targetStat.st_uid || written.st_gid != targetStat.st_gid) &&
        ::fchown(out.get(), targetStat.st_uid, targetStat.st_gid) != 0) {
        const int err = errno;
        if (err != EPERM) {
            return abandon(err);
        }
        if (!unnamed) {
            ::unlink(temporary.c_str());
        }
        return {ReplaceOutcome::OwnerNotKept, Status::Fail("owned by another user")};
    }
    if (::fsync(out.get()) != 0) {
        return abandon(errno);
    }
    // Last look before the replacement, to keep the window for a racing writer small.
    auto current = IdentityOf(realTarget);
    std::string now;
    if ((expected && (!current || *current != *expected)) ||
        (targetContent != nullptr &&
         (!ReadWholeFile(realTarget, now) || Sha256Of(now) != *targetContent))) {
        if (!unnamed) {
            ::unlink(temporary.c_str());
        }
        return changed();
    }
    // The unnamed temporary gets a name only for the two calls that put it in place, so a
    // process killed meanwhile seldom leaves one behind.
    if (unnamed) {
        std::string procPath = "/proc/self/fd/" + std::to_string(out.get());
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) !=
            0) {
            return fail(errno);
        }
        unnamed = false;
    }
    if (::rename(temporary.c_str(), realTarget.c_str()) != 0) {
        return abandon(errno);
    }
    // The content is on disk already (flushed above), so closing can no longer lose it.
    (void)out.close();
    return {ReplaceOutcome::Replaced, Status::Ok()};
}

Status SyncDirectory(const std::string& folder) {
    Fd dir(OpenRetrying(folder.c_str(), O_RDONLY | O_DIRECTORY));
    if (!dir.valid()) {
        return Status::FromErrno(errno);
    }
    if (::fsync(dir.get()) != 0) {
        return Status::FromErrno(errno);
    }
    return Status::Ok();
}

Status SyncFile(const std::string& path) {
    Fd file(OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!file.valid()) {
        return Status::FromErrno(errno);
    }
    if (::fsync(file.get()) != 0) {
        return Status::FromErrno(errno);
    }
    return Status::Ok();
}

Status WriteFileAtomically(const std::string& path, std::string_view content) {
    const std::string folder = ParentOf(path);
    const std::string temporary = JoinPath(folder, NewTemporaryName());
    Fd out(OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
    if (!out.valid()) {
        return Status::FromErrno(errno);
    }
    int err = WriteAll(out.get(), content.data(), content.size());
    if (err == 0 && ::fsync(out.get()) != 0) {
        err = errno;
    }
    if (err == 0) {
        err = out.close();
    }
    if (err == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(temporary.c_str());
        return Status::FromErrno(err);
    }
    return SyncDirectory(folder);
}

} // namespace ostrapel
