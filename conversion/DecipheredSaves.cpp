#include "conversion/DecipheredSaves.h"

#include <iterator>

namespace ostrapel {

void DecipheredSaves::useFor(const std::string& folder) {
    std::lock_guard lock(mutex_);
    if (folder != folder_) {
        entries_.clear();
        byDigest_.clear();
        bytes_ = 0;
        folder_ = folder;
    }
}

void DecipheredSaves::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    byDigest_.clear();
    bytes_ = 0;
}

void DecipheredSaves::keep(const Sha256Digest& enciphered, std::string deciphered) {
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

bool DecipheredSaves::dropTwins(const Sha256Digest& enciphered, std::string_view deciphered) {
    std::lock_guard lock(mutex_);
    bool found = false;
    for (auto at = byDigest_.begin(); at != byDigest_.end();) {
        const auto next = std::next(at);
        if (at->first != enciphered && at->second->second == deciphered) {
            dropLocked(at);
            found = true;
        }
        at = next;
    }
    if (auto own = byDigest_.find(enciphered); found && own != byDigest_.end()) {
        dropLocked(own);
    }
    return found;
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
    byDigest_.erase(at);
}

} // namespace ostrapel
