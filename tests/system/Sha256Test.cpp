#include "system/Sha256.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using ostrapel::HexOf;
using ostrapel::Sha256;
using ostrapel::Sha256Hex;
using ostrapel::Sha256Of;

// The published test vectors, and lengths around the padding's block boundary.
TEST(Sha256Test, KnownVectors) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(
        Sha256Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmno"
                  "pqklmnopqrlmnopqrsmnopqrstnopqrstu"),
        "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // 55, 56 and 64 bytes: the length fits the last block, just does not, a whole block.
    EXPECT_EQ(Sha256Hex(std::string(55, 'a')),
              "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(Sha256Hex(std::string(56, 'a')),
              "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(Sha256Hex(std::string(64, 'a')),
              "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(Sha256Test, PiecesGiveTheSameDigestAsTheWhole) {
    std::string data;
    for (int i = 0; i < 1000; ++i) {
        data += static_cast<char>(i * 7 + 3);
    }
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 200u}) {
        Sha256 hash;
        for (std::size_t at = 0; at < data.size(); at += piece) {
            hash.update(std::string_view(data).substr(at, piece));
        }
        const ostrapel::Sha256Digest digest = hash.finish();
        EXPECT_EQ(digest, Sha256Of(data)) << "pieces of " << piece;
        EXPECT_EQ(HexOf(digest), Sha256Hex(data)) << "pieces of " << piece;
    }
}

namespace {

constexpr ostrapel::sha256::State kInitial = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

} // namespace

// Both ways of compressing blocks, each on its own: "abc" padded to one block gives the
// published digest, and any run of blocks gives the same state either way.
TEST(Sha256Test, ThePortableCodeAndTheProcessorsInstructionsAgree) {
    std::array<std::uint8_t, 64> abc{'a', 'b', 'c', 0x80};
    abc[63] = 24; // the length in bits
    ostrapel::sha256::State portable = kInitial;
    ostrapel::sha256::CompressPortably(portable, abc.data(), 1);
    const ostrapel::sha256::State expected = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                              0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
    EXPECT_EQ(portable, expected);

    ostrapel::sha256::State instructions = kInitial;
    if (!ostrapel::sha256::CompressWithShaInstructions(instructions, abc.data(), 1)) {
        EXPECT_EQ(instructions, kInitial);
        GTEST_SKIP() << "this processor has no SHA instructions";
    }
    EXPECT_EQ(instructions, expected);
    std::vector<std::uint8_t> data(64 * 37);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 167 + (i >> 7));
    }
    for (std::size_t count : {0u, 1u, 2u, 5u, 37u}) {
        portable = kInitial;
        instructions = kInitial;
        ostrapel::sha256::CompressPortably(portable, data.data(), count);
        ASSERT_TRUE(
            ostrapel::sha256::CompressWithShaInstructions(instructions, data.data(), count));
        EXPECT_EQ(instructions, portable) << count << " blocks";
    }
}
