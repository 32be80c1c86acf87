#include "system/Cancel.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ostrapel {

CancelFlag::CancelFlag() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    }
}

CancelFlag::~CancelFlag() {
    if (wakeRead_ >= 0) {
        ::close(static_cast<int>(wakeRead_));
        ::close(static_cast<int>(wakeWrite_));
    }
}

void CancelFlag::raise() noexcept {
    const int savedErrno = errno;
    if (!raised_.exchange(true, std::memory_order_acq_rel) && wakeWrite_ >= 0) {
        // The byte stays unread, so the read end remains readable for every later wait.
        const char byte = 1;
        (void)!::write(static_cast<int>(wakeWrite_), &byte, 1);
    }
    errno = savedErrno;
}

} // namespace ostrapel
