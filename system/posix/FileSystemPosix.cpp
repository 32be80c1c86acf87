// Reading, writing, copying and listing files.

#include "FileSystemPosixInternal.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace ostrapel {

using posix::CopyContents;
using posix::Fd;
using posix::IdentityOfStat;
using posix::OpenRetrying;
using posix::WriteAll;

namespace {

EntryKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) {
        return EntryKind::File;
    }
    if (S_ISDIR(mode)) {
        return EntryKind::Directory;
    }
    return EntryKind::Other;
}

} // namespace

namespace posix {

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

int CopyContents(int in, int out, std::string* kept) {
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

} // namespace posix

bool IsHiddenName(const std::string& name) {
    return !name.empty() && name.front() == '.';
}

bool IsOnlineOnly(const std::string& path) {
    (void)path;
    return false;
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

std::optional<std::int64_t> ChangeTimeOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000LL +
           static_cast<std::int64_t>(st.st_ctim.tv_nsec);
}

std::optional<std::uint64_t> FreeSpaceOf(const std::string& folder) {
    struct statvfs vfs;
    if (::statvfs(folder.c_str(), &vfs) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(vfs.f_bavail) * static_cast<std::uint64_t>(vfs.f_frsize);
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

} // namespace ostrapel
