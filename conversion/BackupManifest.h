#pragma once

#include "system/Status.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrapel {

// What a backup set records about the batch it was made for. Its text form, one item a line:
//
//   ostrapel-backup 1
//   folder ENCODED-PATH            the resolved save folder
//   time SECONDS                   when the originals were kept, seconds since 1970 UTC
//   value N                        the DLC value the batch wrote
//   save FILE ORIGINAL WRITTEN ENCODED-NAME [BEFORE]   one or more: the original's file
//                                  number in the set, the SHA-256 of the original and of what
//                                  the batch wrote (64 lower-case hex digits each), the name,
//                                  and the DLC value the original held (absent in sets written
//                                  before it was recorded)
//   complete                       optional: the batch ended; the saves are those it replaced
//   undone SECONDS                 optional: when the batch was undone
//   end
//
// Names and the folder are percent-encoded: letters, digits and "-._~" stand for themselves,
// every other byte is %XX (upper-case hex), so any byte string round-trips and a line holds no
// blank but its separators. Reading is strict: anything else is refused with the line number,
// and so is a name that is not a plain file name here ('/', the path separator, NUL, "." or
// "..").
struct BackupManifest {
    struct Save {
        std::size_t file = 0; // numbered from 1, increasing
        std::string name;
        std::string originalSha256;
        std::string writtenSha256;
        std::optional<std::int16_t> before; // the value the original held
    };

    std::string folder;
    std::int64_t time = 0;
    int value = 0;
    std::vector<Save> saves;
    bool complete = false;
    std::optional<std::int64_t> undone;
};

inline constexpr int kManifestVersion = 1;
// A manifest larger than this is not read.
inline constexpr std::size_t kManifestMaxBytes = 64u << 20;

std::string ComposeManifest(const BackupManifest& manifest);

struct ManifestReading {
    Status status = Status::Ok();
    BackupManifest manifest;
};
ManifestReading ParseManifest(std::string_view text);

// The file holding the original numbered file inside its set: "original-FILE".
std::string OriginalFileName(std::size_t file);

std::string PercentEncode(std::string_view bytes);
// Empty optional unless text is exactly the encoding of some bytes.
std::optional<std::string> PercentDecode(std::string_view text);

} // namespace ostrapel
