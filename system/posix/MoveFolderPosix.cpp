#include "system/MoveFolder.h"

#include <cerrno>
#include <cstdio>

namespace ostrapel {

Status MoveFolder(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        return Status::FromErrno(errno);
    }
    return Status::Ok();
}

} // namespace ostrapel
