// ParseManifest on any text: never crashes; what it accepts composes back to exactly the same
// text (one text per manifest), and percent-decoding accepts only canonical encodings.

#include "conversion/BackupManifest.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ostrapel::ManifestReading read = ostrapel::ParseManifest(text);
    if (read.status.ok() && ostrapel::ComposeManifest(read.manifest) != text) {
        std::abort();
    }
    // A refusal says where: a line, or the size.
    if (!read.status.ok() && !read.status.reason().starts_with("line ") &&
        read.status.reason() != "too large") {
        std::abort();
    }
    if (auto decoded = ostrapel::PercentDecode(text);
        decoded && ostrapel::PercentEncode(*decoded) != text) {
        std::abort();
    }
    return 0;
}
