#pragma once

#include <string>
#include <utility>

namespace ostrapel {

// Outcome of an operation that either succeeds or fails with a short, readable reason.
class Status {
public:
    static Status Ok() { return Status(); }
    static Status Fail(std::string reason) { return Status(std::move(reason)); }
    // Fails with "<what>: <strerror(err)>".
    static Status FromErrno(const std::string& what, int err);
    // Fails with strerror(err) alone.
    static Status FromErrno(int err);

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const std::string& reason() const { return reason_; }

private:
    Status() = default;
    explicit Status(std::string reason) : ok_(false), reason_(std::move(reason)) {}

    bool ok_ = true;
    std::string reason_;
};

} // namespace ostrapel
