#pragma once

// The stand-in cipher: a header, then every byte mixed with a position-dependent key.
// Reversible, and a text without the header is recognisably not enciphered.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace standin {

inline constexpr std::string_view kHeader = "OSTRAPEL-STAND-IN-CIPHER\n";

inline unsigned char KeyAt(std::size_t i) {
    return static_cast<unsigned char>((i * 131u + 89u) ^ (i >> 8));
}

inline std::string Encipher(std::string_view plain) {
    std::string out(kHeader);
    out.reserve(kHeader.size() + plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        out.push_back(static_cast<char>(static_cast<unsigned char>(plain[i]) ^ KeyAt(i)));
    }
    return out;
}

// The salted form: its own header, eight bytes of salt, then every byte mixed with the key and
// the salt. The same plain form enciphers differently each time; the length is the same.
inline constexpr std::string_view kSaltedHeader = "OSTRAPEL-STAND-IN-SALTED\n";
inline constexpr std::size_t kSaltSize = 8;

inline std::string EncipherSalted(std::string_view plain, std::string_view salt) {
    std::string out(kSaltedHeader);
    out.append(salt.substr(0, kSaltSize));
    out.reserve(out.size() + plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        out.push_back(static_cast<char>(static_cast<unsigned char>(plain[i]) ^ KeyAt(i) ^
                                        static_cast<unsigned char>(salt[i % kSaltSize])));
    }
    return out;
}

inline std::optional<std::string> Decipher(std::string_view enciphered) {
    if (enciphered.substr(0, kSaltedHeader.size()) == kSaltedHeader &&
        enciphered.size() >= kSaltedHeader.size() + kSaltSize) {
        const std::string_view salt = enciphered.substr(kSaltedHeader.size(), kSaltSize);
        const std::string_view body = enciphered.substr(kSaltedHeader.size() + kSaltSize);
        std::string out;
        out.reserve(body.size());
        for (std::size_t i = 0; i < body.size(); ++i) {
            out.push_back(static_cast<char>(static_cast<unsigned char>(body[i]) ^ KeyAt(i) ^
                                            static_cast<unsigned char>(salt[i % kSaltSize])));
        }
        return out;
    }
    if (enciphered.substr(0, kHeader.size()) != kHeader) {
        return std::nullopt;
    }
    std::string_view body = enciphered.substr(kHeader.size());
    std::string out;
    out.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        out.push_back(static_cast<char>(static_cast<unsigned char>(body[i]) ^ KeyAt(i)));
    }
    return out;
}

} // namespace standin
