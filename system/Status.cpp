#include "system/Status.h"

#include <cstring>

namespace ostrapel {

Status Status::FromErrno(int err) {
    return Status(std::strerror(err));
}

Status Status::FromErrno(const std::string& what, int err) {
    return Status(what + ": " + std::strerror(err));
}

} // namespace ostrapel
