#include "system/MoveFolder.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>

namespace ostrapel {

Status MoveFolder(const std::string& from, const std::string& to) {
    // Never over an existing entry: rename alone would replace a file there.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return Status::Ok();
    }
    // A file system without the flag: a folder is not renamed over a non-empty one anyway.
    if ((errno != EINVAL && errno != ENOSYS) || std::rename(from.c_str(), to.c_str()) != 0) {
        return Status::FromErrno(errno);
    }
    return Status::Ok();
}

} // namespace ostrapel
