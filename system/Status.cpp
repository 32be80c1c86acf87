#include "system/Status.h"

#include <cerrno>
#include <cstring>

namespace ostrapel {

namespace {

struct KnownError {
    int code;
    const char* words;
};

// The C library's own English for these, so the English reads as the system's.
constexpr KnownError kKnownErrors[] = {
    {ENOENT, N_("No such file or directory")},
    {EACCES, N_("Permission denied")},
    {EPERM, N_("Operation not permitted")},
    {ENOSPC, N_("No space left on device")},
    {EROFS, N_("Read-only file system")},
    {EEXIST, N_("File exists")},
    {ENOTDIR, N_("Not a directory")},
    {EISDIR, N_("Is a directory")},
    {EBUSY, N_("Device or resource busy")},
    {EIO, N_("Input/output error")},
    {ENAMETOOLONG, N_("File name too long")},
    {ENOTEMPTY, N_("Directory not empty")},
    {EMFILE, N_("Too many open files")},
    {EINVAL, N_("Invalid argument")},
    {ENOMEM, N_("Cannot allocate memory")},
    {EXDEV, N_("Invalid cross-device link")},
    {ELOOP, N_("Too many levels of symbolic links")},
    {ETXTBSY, N_("Text file busy")},
#ifdef EDQUOT
    {EDQUOT, N_("Disk quota exceeded")},
#endif
};

} // namespace

Phrase Status::ErrnoPhrase(int err) {
    const char* words = std::strerror(err);
    for (const KnownError& known : kKnownErrors) {
        if (known.code == err && std::strcmp(known.words, words) == 0) {
            return Phrase(known.words);
        }
    }
    return Phrase::Verbatim(words);
}

Status Status::FromErrno(int err) {
    return Status(ErrnoPhrase(err));
}

Status Status::FromErrno(Phrase what, int err) {
    return Status(Phrase(N_("{what}: {error}"))
                      .With("what", std::move(what))
                      .With("error", ErrnoPhrase(err)));
}

} // namespace ostrapel
