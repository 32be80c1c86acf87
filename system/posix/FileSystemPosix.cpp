#include "system/FileSystem.h"
#include "system/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrapel {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }
    // Closes and reports the close's own error, which can be a delayed write error.
    int close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

EntryKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) {
        return EntryKind::File;
    }
    if (S_ISDIR(mode)) {
        return EntryKind::Directory;
    }
    return EntryKind::Other;
}

FileIdentity IdentityOfStat(const struct stat& st) {
    FileIdentity id;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::int64_t>(st.st_size);
    id.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL +
                    static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    return id;
}

// Writes all of size bytes; returns 0 or the error.
int WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t put = ::write(fd, data, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (put == 0) {
            return EIO;
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return 0;
}

// Copies everything from in (at its start) to out, appending it to kept when given; returns
// 0 or the error.
int CopyContents(int in, int out, std::string* kept = nullptr) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (got == 0) {
            return 0;
        }
        if (int err = WriteAll(out, buffer, static_cast<std::size_t>(got)); err != 0) {
            return err;
        }
        if (kept != nullptr) {
            kept->append(buffer, static_cast<std::size_t>(got));
        }
    }
}

} // namespace

bool IsHiddenName(const std::string& name) {
    return !name.empty() && name.front() == '.';
}

ListingResult ListDirectory(const std::string& folder) {
    ListingResult result;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        result.status = Status::FromErrno(errno);
        return result;
    }
    int dirFd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            if (errno != 0) {
                result.status = Status::FromErrno(errno);
            }
            break;
        }
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        EntryKind kind = EntryKind::Other;
        if (entry->d_type == DT_REG) {
            kind = EntryKind::File;
        } else if (entry->d_type == DT_DIR) {
            kind = EntryKind::Directory;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st;
            kind = ::fstatat(dirFd, entry->d_name, &st, 0) == 0 ? KindOfMode(st.st_mode)
                                                                : EntryKind::Missing;
        }
        const bool hidden = IsHiddenName(name);
        result.entries.push_back({std::move(name), kind, hidden});
    }
    ::closedir(dir);
    return result;
}

EntryKind KindOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return EntryKind::Missing;
    }
    return KindOfMode(st.st_mode);
}

std::optional<std::int64_t> SizeOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return IdentityOfStat(st);
}

std::string ResolvedPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (path.empty() || ::realpath(path.c_str(), resolved) == nullptr) {
        return {};
    }
    return resolved;
}

Status WriteBytesAt(const std::string& path, std::int64_t offset, std::string_view bytes) {
    Fd fd(OpenRetrying(path.c_str(), O_RDWR | O_CREAT, 0666));
    if (!fd.valid()) {
        return Status::FromErrno(errno);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = ::pwrite(fd.get(), bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return Status::FromErrno(put < 0 ? errno : EIO);
        }
        done += static_cast<std::size_t>(put);
    }
    if (int err = fd.close(); err != 0) {
        return Status::FromErrno(err);
    }
    return Status::Ok();
}

Status ReadBytesAt(const std::string& path, std::int64_t offset, std::size_t size,
                   std::string& bytes) {
    bytes.assign(size, '\0');
    Fd fd(OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK));
    if (!fd.valid()) {
        bytes.clear();
        return Status::FromErrno(errno);
    }
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = ::pread(fd.get(), bytes.data() + done, size - done,
                              static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            bytes.clear();
            return Status::FromErrno(errno);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return Status::Ok();
}

Status ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    Fd in(OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK));
    if (!in.valid()) {
        return Status::FromErrno(errno);
    }
    struct stat st;
    if (::fstat(in.get(), &st) != 0) {
        return Status::FromErrno(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return Status::Fail("is not a regular file");
    }
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(in.get(), buffer, sizeof buffer);
        if (got == 0) {
            return Status::Ok();
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Status::FromErrno(errno);
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

bool IsReadOnly(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return true;
    }
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 &&
           (errno == EACCES || errno == EROFS || errno == EPERM);
}

Status CopyFileTo(const std::string& source, const std::string& target,
                  const CopyOptions& options) {
    // Non-blocking, so that opening a pipe cannot hang; it is refused right after.
    Fd in(OpenRetrying(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!in.valid()) {
        return Status::FromErrno(errno);
    }
    struct stat st;
    if (::fstat(in.get(), &st) != 0) {
        return Status::FromErrno(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return Status::Fail("is a folder");
    }
    if (!S_ISREG(st.st_mode)) {
        return Status::Fail("is not a regular file");
    }
    Fd out(OpenRetrying(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
    if (!out.valid()) {
        return Status::FromErrno(errno);
    }
    if (options.content != nullptr) {
        options.content->clear();
        options.content->reserve(static_cast<std::size_t>(st.st_size));
    }
    if (options.keepMode && ::fchmod(out.get(), st.st_mode & 0777) != 0) {
        return Status::FromErrno(errno);
    }
    if (int err = CopyContents(in.get(), out.get(), options.content); err != 0) {
        return Status::FromErrno(err);
    }
    // A write racing the copy would leave a torn copy behind.
    const FileIdentity before = IdentityOfStat(st);
    if (::fstat(in.get(), &st) != 0) {
        return Status::FromErrno(errno);
    }
    if (IdentityOfStat(st) != before) {
        return Status::Fail("changed while being copied");
    }
    if (options.flush && ::fsync(out.get()) != 0) {
        return Status::FromErrno(errno);
    }
    if (int err = out.close(); err != 0) {
        return Status::FromErrno(err);
    }
    if (options.sourceIdentity != nullptr) {
        *options.sourceIdentity = before;
    }
    return Status::Ok();
}

Status WriteNewFile(const std::string& path, std::string_view content) {
    Fd out(OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
    if (!out.valid()) {
        return Status::FromErrno(errno);
    }
    int err = WriteAll(out.get(), content.data(), content.size());
    if (int closed = out.close(); err == 0) {
        err = closed;
    }
    if (err != 0) {
        ::unlink(path.c_str());
        return Status::FromErrno(err);
    }
    return Status::Ok();
}

Status OverwriteFile(const std::string& path, std::string_view content) {
    Fd out(OpenRetrying(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW));
    if (!out.valid()) {
        return Status::FromErrno(errno);
    }
    int err = WriteAll(out.get(), content.data(), content.size());
    if (int closed = out.close(); err == 0) {
        err = closed;
    }
    return err != 0 ? Status::FromErrno(err) : Status::Ok();
}

ReplaceResult ReplaceFileAtomically(const std::string& source, const std::string& target,
                                    const std::optional<FileIdentity>& expected,
                                    const Sha256Digest* content) {
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
    if (expected && (!current || *current != *expected)) {
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

Status RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return Status::FromErrno(errno);
    }
    return Status::Ok();
}

Status MakeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0) {
        if (errno == EEXIST && KindOf(path) == EntryKind::Directory) {
            return Status::Ok();
        }
        return Status::FromErrno(errno);
    }
    return Status::Ok();
}

Status RemoveEmptyDirectory(const std::string& path) {
    if (::rmdir(path.c_str()) != 0 && errno != ENOENT) {
        return Status::FromErrno(errno);
    }
    return Status::Ok();
}

FolderLock::FolderLock(const std::string& folder, bool sharedWithPrograms) {
    // Shared, it is not close-on-exec: a started program shares the lock, which outlives this
    // process while that program runs.
    int fd;
    do {
        fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | (sharedWithPrograms ? 0 : O_CLOEXEC));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        status_ = Status::FromErrno(errno);
        return;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        busy_ = errno == EWOULDBLOCK;
        status_ = Status::FromErrno(errno);
        ::close(fd);
        return;
    }
    handle_ = fd;
}

FolderLock::~FolderLock() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
}

Status CheckOwnEntry(const std::string& path, EntryKind kind) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        return Status::FromErrno(errno);
    }
    if (S_ISLNK(st.st_mode)) {
        return Status::Fail("is a symbolic link");
    }
    if (kind == EntryKind::Directory && !S_ISDIR(st.st_mode)) {
        return Status::Fail("is not a folder");
    }
    if (kind == EntryKind::File && !S_ISREG(st.st_mode)) {
        return Status::Fail("is not a regular file");
    }
    if (st.st_uid != ::geteuid()) {
        return Status::Fail("belongs to another user");
    }
    return Status::Ok();
}

bool IsSymbolicLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

Status MakePrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0) {
        if (errno == EEXIST && KindOf(path) == EntryKind::Directory) {
            return Status::Ok();
        }
        return Status::FromErrno(errno);
    }
    return Status::Ok();
}

Status RemoveOwnFolder(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
        return Status::Ok();
    }
    if (Status own = CheckOwnEntry(path, EntryKind::Directory); !own) {
        return own;
    }
    // Opened without following a link, so a folder swapped for one meanwhile is not entered;
    // its entries go relative to it, and unlinkat never follows a link either.
    Fd folder(OpenRetrying(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!folder.valid() || ::fstat(folder.get(), &st) != 0) {
        return Status::FromErrno(errno);
    }
    if (st.st_uid != ::geteuid()) {
        return Status::Fail("belongs to another user");
    }
    const int listed = ::dup(folder.get());
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (dir == nullptr) {
        if (listed >= 0) {
            ::close(listed);
        }
        return Status::FromErrno(errno);
    }
    Status result = Status::Ok();
    for (dirent* entry; (entry = ::readdir(dir)) != nullptr;) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && ::unlinkat(folder.get(), entry->d_name, 0) != 0 &&
            errno != EISDIR && errno != EPERM && result) {
            result = Status::FromErrno(errno);
        }
    }
    ::closedir(dir);
    if (::rmdir(path.c_str()) != 0 && errno != ENOENT && result) {
        result = Status::FromErrno(errno);
    }
    return result;
}

Status SetCurrentDirectory(const std::string& path) {
    ResolveEnvironmentPaths();
    if (::chdir(path.c_str()) != 0) {
        return Status::FromErrno(errno);
    }
    return Status::Ok();
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
        return {};
    }
    return buffer;
}

} // namespace ostrapel
