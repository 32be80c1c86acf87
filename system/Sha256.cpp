#include "system/Sha256.h"

#include <algorithm>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define OSTRAPEL_SHA_INSTRUCTIONS 1
#endif

namespace ostrapel {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t Rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void CompressBlock(sha256::State& state, const std::uint8_t* data) {
    std::array<std::uint32_t, 64> w{};
    for (std::size_t i = 0; i < 16; ++i) {
        w[i] = static_cast<std::uint32_t>(data[4 * i]) << 24 |
               static_cast<std::uint32_t>(data[4 * i + 1]) << 16 |
               static_cast<std::uint32_t>(data[4 * i + 2]) << 8 |
               static_cast<std::uint32_t>(data[4 * i + 3]);
    }
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = state;
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
        const std::uint32_t choose = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + s1 + choose + kRound[i] + w[i];
        const std::uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::array<std::uint32_t, 8> add = {a, b, c, d, e, f, g, h};
    for (std::size_t i = 0; i < 8; ++i) {
        state[i] += add[i];
    }
}

#ifdef OSTRAPEL_SHA_INSTRUCTIONS

bool HasShaInstructions() {
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_SSSE3) == 0 || (c & bit_SSE4_1) == 0 ||
        __get_cpuid_max(0, nullptr) < 7) {
        return false;
    }
    __cpuid_count(7, 0, a, b, c, d);
    return (b & (1u << 29)) != 0; // SHA
}

// The state is kept as the instructions want it: one register holds A, B, E and F, the other
// C, D, G and H. Each step of the loop makes four rounds with four words of the schedule, the
// last sixteen of which are kept in w.
__attribute__((target("sha,sse4.1,ssse3"))) void
CompressWithInstructions(sha256::State& state, const std::uint8_t* data, std::size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0b, 0x0405060700010203);
    const __m128i cdab =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0])), 0xB1);
    const __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; count > 0; --count, data += 64) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        __m128i w[4];
#pragma GCC unroll 16
        for (std::size_t q = 0; q < 16; ++q) {
            if (q < 4) {
                w[q] = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * q)), byteSwap);
            } else {
                const __m128i last = w[(q + 3) & 3];
                w[q & 3] = _mm_sha256msg2_epu32(
                    _mm_add_epi32(_mm_sha256msg1_epu32(w[q & 3], w[(q + 1) & 3]),
                                  _mm_alignr_epi8(last, w[(q + 2) & 3], 4)),
                    last);
            }
            const __m128i words = _mm_add_epi32(
                w[q & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * q])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(words, 0x0E));
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

#endif

void Compress(sha256::State& state, const std::uint8_t* blocks, std::size_t count) {
    if (count > 0 && !sha256::CompressWithShaInstructions(state, blocks, count)) {
        sha256::CompressPortably(state, blocks, count);
    }
}

} // namespace

namespace sha256 {

void CompressPortably(State& state, const std::uint8_t* blocks, std::size_t count) {
    for (; count > 0; --count, blocks += 64) {
        CompressBlock(state, blocks);
    }
}

bool CompressWithShaInstructions(State& state, const std::uint8_t* blocks, std::size_t count) {
#ifdef OSTRAPEL_SHA_INSTRUCTIONS
    static const bool present = HasShaInstructions();
    if (present) {
        CompressWithInstructions(state, blocks, count);
        return true;
    }
#else
    (void)state;
    (void)blocks;
    (void)count;
#endif
    return false;
}

} // namespace sha256

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::update(std::string_view data) {
    length_ += data.size();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    std::size_t left = data.size();
    if (buffered_ > 0) {
        const std::size_t take = std::min(left, buffer_.size() - buffered_);
        std::copy(bytes, bytes + take, buffer_.begin() + static_cast<std::ptrdiff_t>(buffered_));
        buffered_ += take;
        bytes += take;
        left -= take;
        if (buffered_ < buffer_.size()) {
            return;
        }
        Compress(state_, buffer_.data(), 1);
        buffered_ = 0;
    }
    const std::size_t whole = left / 64;
    Compress(state_, bytes, whole);
    bytes += 64 * whole;
    left -= 64 * whole;
    std::copy(bytes, bytes + left, buffer_.begin());
    buffered_ = left;
}

Sha256Digest Sha256::finish() {
    const std::uint64_t bits = length_ * 8;
    std::array<std::uint8_t, 72> tail{};
    tail[0] = 0x80;
    // Pad to 56 bytes modulo 64, then the length in bits, big-endian.
    const std::size_t pad = (buffered_ < 56 ? 56 : 120) - buffered_;
    for (std::size_t i = 0; i < 8; ++i) {
        tail[pad + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    }
    update(std::string_view(reinterpret_cast<const char*>(tail.data()), pad + 8));
    Sha256Digest digest{};
    for (std::size_t i = 0; i < 8; ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
            digest[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
        }
    }
    return digest;
}

Sha256Digest Sha256Of(std::string_view data) {
    Sha256 hash;
    hash.update(data);
    return hash.finish();
}

std::string HexOf(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digest.size());
    for (std::uint8_t byte : digest) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0x0F]);
    }
    return hex;
}

std::string Sha256Hex(std::string_view data) {
    return HexOf(Sha256Of(data));
}

} // namespace ostrapel
