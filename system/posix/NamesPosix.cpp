// What a name leads to: the resolved path; the program's own entries, its folder lock, and the
// current directory.

#include "FileSystemPosixInternal.h"
#include "system/FileSystem.h"
#include "system/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrapel {

using posix::Fd;
using posix::OpenRetrying;

std::string ResolvedPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (path.empty() || ::realpath(path.c_str(), resolved) == nullptr) {
        return {};
    }
    return resolved;
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
