#pragma once

#include "system/Phrase.h"

#include <string>
#include <utility>

namespace ostrapel {

// Outcome of an operation that either succeeds or fails with a short, readable reason: a phrase
// a front end puts into words (Phrase), reason() its English.
class Status {
public:
    static Status Ok() { return Status(); }
    static Status Fail(Phrase why) { return Status(std::move(why)); }
    // A template from the catalogue.
    static Status Fail(const char* id) { return Status(Phrase(id)); }
    // Words that are not ours (a system's message), shown as they are.
    static Status Fail(std::string words) { return Status(Phrase::Verbatim(std::move(words))); }
    // Fails with "<what>: <the error's description>".
    static Status FromErrno(Phrase what, int err);
    // Fails with the error's description alone.
    static Status FromErrno(int err);
    // The C library's description of err: a template from the catalogue for the errors files
    // and programs commonly meet, the library's words for the others.
    static Phrase ErrnoPhrase(int err);

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const std::string& reason() const { return reason_; }
    const Phrase& phrase() const { return phrase_; }

private:
    Status() = default;
    explicit Status(Phrase why) : ok_(false), phrase_(std::move(why)), reason_(phrase_.English()) {}

    bool ok_ = true;
    Phrase phrase_;
    std::string reason_;
};

} // namespace ostrapel
