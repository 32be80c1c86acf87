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

// The padded form, as block ciphers with a random IV and padding have it: its own header, a
// 16-byte IV, then the plain form padded to whole blocks (each pad byte holds the pad's length),
// each block chained to the one before. Its length follows the plain length modulo 16.
inline constexpr std::string_view kPaddedHeader = "OSTRAPEL-STAND-IN-PADDED\n";
inline constexpr std::size_t kBlock = 16;

inline std::string EncipherPadded(std::string_view plain, std::string_view iv) {
    std::string padded(plain);
    padded.append(kBlock - plain.size() % kBlock,
                  static_cast<char>(kBlock - plain.size() % kBlock));
    std::string out(kPaddedHeader);
    out.append(iv.substr(0, kBlock));
    for (std::size_t at = 0; at < padded.size(); at += kBlock) {
        const std::string_view before = std::string_view(out).substr(out.size() - kBlock);
        std::string block(kBlock, '\0');
        for (std::size_t i = 0; i < kBlock; ++i) { // chained, keyed, and turned round
            block[kBlock - 1 - i] =
                static_cast<char>(static_cast<unsigned char>(padded[at + i]) ^
                                  static_cast<unsigned char>(before[i]) ^ KeyAt(at + i));
        }
        out += block;
    }
    return out;
}

// The plain form of a padded one; empty when it is none (no header, broken blocks or padding).
inline std::optional<std::string> DecipherPadded(std::string_view enciphered) {
    if (enciphered.substr(0, kPaddedHeader.size()) != kPaddedHeader) {
        return std::nullopt;
    }
    const std::string_view body = enciphered.substr(kPaddedHeader.size());
    if (body.size() < 2 * kBlock || body.size() % kBlock != 0) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t at = kBlock; at < body.size(); at += kBlock) {
        for (std::size_t i = 0; i < kBlock; ++i) {
            out.push_back(static_cast<char>(static_cast<unsigned char>(body[at + kBlock - 1 - i]) ^
                                            static_cast<unsigned char>(body[at - kBlock + i]) ^
                                            KeyAt(at - kBlock + i)));
        }
    }
    const auto pad = static_cast<unsigned char>(out.back());
    if (pad == 0 || pad > kBlock ||
        out.find_first_not_of(static_cast<char>(pad), out.size() - pad) != std::string::npos) {
        return std::nullopt;
    }
    out.resize(out.size() - pad);
    return out;
}

} // namespace standin
