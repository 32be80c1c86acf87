#include "conversion/DecipheredSaves.h"

#include <iterator>
#include <vector>

namespace ostrapel {

void DecipheredSaves::useFor(const std::string& folder, const std::string& toolStamp) {
    std::lock_guard lock(mutex_);
    if (folder != folder_ || toolStamp != tool_ || toolStamp.empty()) {
        entries_.clear();
        byDigest_.clear();
        plainOf_.clear();
        byPlain_.clear();
        bytes_ = 0;
        folder_ = folder;
        tool_ = toolStamp;
    }
}

void DecipheredSaves::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    byDigest_.clear();
    plainOf_.clear();
    byPlain_.clear();
    bytes_ = 0;
}

void DecipheredSaves::keep(const Sha256Digest& enciphered, std::string deciphered,
                           const Sha256Digest* plain) {
    const Sha256Digest digest = plain != nullptr ? *plain : Sha256Of(deciphered);
    std::lock_guard lock(mutex_);
    if (auto at = byDigest_.find(enciphered); at != byDigest_.end()) {
        dropLocked(at);
    }
    if (deciphered.size() > bound_) {
        return;
    }
    while (bytes_ + deciphered.size() > bound_) {
        dropLocked(byDigest_.find(entries_.front().first));
    }
    bytes_ += deciphered.size();
    entries_.emplace_back(enciphered, std::move(deciphered));
    byDigest_.emplace(enciphered, std::prev(entries_.end()));
    plainOf_.emplace(enciphered, digest);
    byPlain_.emplace(digest, enciphered);
}

std::optional<std::string> DecipheredSaves::find(const Sha256Digest& enciphered) const {
    std::lock_guard lock(mutex_);
    auto at = byDigest_.find(enciphered);
    if (at == byDigest_.end()) {
        return std::nullopt;
    }
    return at->second->second;
}

void DecipheredSaves::drop(const Sha256Digest& enciphered) {
    std::lock_guard lock(mutex_);
    if (auto at = byDigest_.find(enciphered); at != byDigest_.end()) {
        dropLocked(at);
    }
}

bool DecipheredSaves::dropTwins(const Sha256Digest& enciphered, const Sha256Digest& plain) {
    std::lock_guard lock(mutex_);
    std::vector<Sha256Digest> twins;
    for (auto [at, end] = byPlain_.equal_range(plain); at != end; ++at) {
        if (at->second != enciphered) {
            twins.push_back(at->second);
        }
    }
    if (!twins.empty()) {
        twins.push_back(enciphered);
    }
    for (const Sha256Digest& twin : twins) {
        if (auto at = byDigest_.find(twin); at != byDigest_.end()) {
            dropLocked(at);
        }
    }
    return twins.size() > 1;
}

std::size_t DecipheredSaves::count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::size_t DecipheredSaves::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

void DecipheredSaves::dropLocked(std::map<Sha256Digest, Entries::iterator>::iterator at) {
    bytes_ -= at->second->second.size();
    entries_.erase(at->second);
    if (auto plain = plainOf_.find(at->first); plain != plainOf_.end()) {
        for (auto [twin, end] = byPlain_.equal_range(plain->second); twin != end; ++twin) {
            if (twin->second == at->first) {
                byPlain_.erase(twin);
                break;
            }
        }
        plainOf_.erase(plain);
    }
    byDigest_.erase(at);
}

} // namespace ostrapel
