#include "system/Cancel.h"

#include <windows.h>

namespace ostrapel {

// A manual-reset event: once set it stays set, so every later wait wakes at once.
CancelFlag::CancelFlag() {
    if (HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        wakeRead_ = reinterpret_cast<std::intptr_t>(event);
    } else {
        wakeRead_ = 0;
    }
}

CancelFlag::~CancelFlag() {
    if (wakeRead_ != 0) {
        ::CloseHandle(reinterpret_cast<HANDLE>(wakeRead_));
    }
}

void CancelFlag::raise() noexcept {
    if (!raised_.exchange(true, std::memory_order_acq_rel) && wakeRead_ != 0) {
        ::SetEvent(reinterpret_cast<HANDLE>(wakeRead_));
    }
}

} // namespace ostrapel
