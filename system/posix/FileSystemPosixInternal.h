#pragma once

// What the pieces of the POSIX file system share: an owned descriptor, opening through
// interruptions, and writing and copying whole contents.

#include "system/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrapel::posix {

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

inline int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

inline FileIdentity IdentityOfStat(const struct stat& st) {
    FileIdentity id;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::int64_t>(st.st_size);
    id.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL +
                    static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    return id;
}

// Writes all of size bytes; returns 0 or the error.
int WriteAll(int fd, const char* data, std::size_t size);

// Copies everything from in (at its start) to out, appending it to kept when given; returns
// 0 or the error.
int CopyContents(int in, int out, std::string* kept = nullptr);

} // namespace ostrapel::posix
