#pragma once

#include "system/Sha256.h"

#include <cstddef>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace ostrapel {

// Deciphered saves kept in memory, each under the SHA-256 of the enciphered bytes it was
// deciphered from, so that a save unchanged since need not go through the cipher tool again.
// Bounded in bytes: keeping one more drops the oldest first. It belongs to one save folder and
// one cipher tool (ToolStamp): used for another folder, or with a tool whose folder changed, it
// drops everything. Safe to share between threads.
class DecipheredSaves {
public:
    static constexpr std::size_t kDefaultBound = std::size_t{256} * 1024 * 1024;

    explicit DecipheredSaves(std::size_t boundBytes = kDefaultBound) : bound_(boundBytes) {}

    DecipheredSaves(const DecipheredSaves&) = delete;
    DecipheredSaves& operator=(const DecipheredSaves&) = delete;

    // Makes it the folder's and the tool's (toolStamp: ToolStamp), dropping everything kept for
    // another folder or from another tool. An empty stamp is no tool's: nothing kept stays.
    void useFor(const std::string& folder, const std::string& toolStamp);
    // Drops everything.
    void clear();

    // Keeps deciphered under the digest of the enciphered save; more than the bound is not kept.
    // plain: the SHA-256 of deciphered, when known.
    void keep(const Sha256Digest& enciphered, std::string deciphered,
              const Sha256Digest* plain = nullptr);
    // A copy of what was kept under the digest, if it still is.
    std::optional<std::string> find(const Sha256Digest& enciphered) const;

    // Drops what was kept under the digest.
    void drop(const Sha256Digest& enciphered);
    // Whether bytes deciphered from the save of digest enciphered (plain: their SHA-256) are kept
    // under another digest too: two saves that differ yet decipher alike show a wrong decipher.
    // Drops those, and the entry of enciphered itself, when there are any.
    bool dropTwins(const Sha256Digest& enciphered, const Sha256Digest& plain);

    std::size_t count() const;
    std::size_t bytes() const;

private:
    using Entries = std::list<std::pair<Sha256Digest, std::string>>; // oldest first

    void dropLocked(std::map<Sha256Digest, Entries::iterator>::iterator at);

    mutable std::mutex mutex_;
    const std::size_t bound_;
    std::size_t bytes_ = 0;
    std::string folder_;
    std::string tool_;
    Entries entries_;
    std::map<Sha256Digest, Entries::iterator> byDigest_;
    std::map<Sha256Digest, Sha256Digest> plainOf_;      // enciphered -> deciphered digest
    std::multimap<Sha256Digest, Sha256Digest> byPlain_; // deciphered -> enciphered digest
};

} // namespace ostrapel
