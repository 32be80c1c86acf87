#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrapel {

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 over data given in pieces.
class Sha256 {
public:
    Sha256();
    void update(std::string_view data);
    // The digest of everything given; the object is spent afterwards.
    Sha256Digest finish();

private:
    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0; // bytes
};

namespace sha256 {

using State = std::array<std::uint32_t, 8>;

// The compression of whole 64-byte blocks into a state, as Sha256 does it: in portable code,
// or with the processor's SHA instructions, which only some processors have (false, and the
// state untouched, where this one has none). Both are here so that tests can hold them against
// each other.
void CompressPortably(State& state, const std::uint8_t* blocks, std::size_t count);
bool CompressWithShaInstructions(State& state, const std::uint8_t* blocks, std::size_t count);

} // namespace sha256

// The SHA-256 of data.
Sha256Digest Sha256Of(std::string_view data);

// A digest as 64 lower-case hex digits.
std::string HexOf(const Sha256Digest& digest);

// The SHA-256 of data as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view data);

} // namespace ostrapel
