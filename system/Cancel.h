#pragma once

#include <atomic>
#include <cstdint>

namespace ostrapel {

// A one-way flag that stops a batch: raised from another thread or from a signal handler,
// it wakes any wait on a started program at once. Raising it is async-signal-safe.
class CancelFlag {
public:
    CancelFlag();
    ~CancelFlag();
    CancelFlag(const CancelFlag&) = delete;
    CancelFlag& operator=(const CancelFlag&) = delete;

    void raise() noexcept;
    bool raised() const noexcept { return raised_.load(std::memory_order_acquire); }

    // What a wait can include to wake when the flag is raised: a descriptor that turns
    // readable (POSIX) or a manual-reset event handle (Windows). -1 / null when unavailable.
    std::intptr_t waitHandle() const noexcept { return wakeRead_; }

private:
    std::atomic<bool> raised_{false};
    std::intptr_t wakeRead_ = -1;
    std::intptr_t wakeWrite_ = -1;
};

} // namespace ostrapel
