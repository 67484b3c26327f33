// Keyed SHA-256 through the system's crypto, against RFC 4231's vectors.
#include "system/Crypto.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
struct Rfc4231Case {
    std::vector<BYTE> key;
    std::string data;
    const wchar_t* mac;
};

std::vector<Rfc4231Case> Cases()
{
    return {
        {std::vector<BYTE>(20, 0x0b), "Hi There",
         L"b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {{'J', 'e', 'f', 'e'}, "what do ya want for nothing?",
         L"5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        // A key longer than SHA-256's block is hashed first.
        {std::vector<BYTE>(131, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First",
         L"60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    };
}
}

TEST(CryptoTest, HmacSha256GivesTheRfcValuesWholeAndInPieces)
{
    for (const Rfc4231Case& test : Cases()) {
        std::vector<BYTE> whole;
        ASSERT_TRUE(HmacSha256(test.key, test.data.data(), test.data.size(), whole));
        EXPECT_EQ(test.mac, HexText(whole));

        CHmacSha256 pieces(test.key);
        ASSERT_TRUE(pieces.IsValid());
        pieces.Update(nullptr, 0);
        for (const char ch : test.data) pieces.Update(&ch, 1);
        std::vector<BYTE> mac;
        ASSERT_TRUE(pieces.Finish(mac));
        EXPECT_EQ(test.mac, HexText(mac));
        // A finished hash is spent.
        EXPECT_FALSE(pieces.Finish(mac));
        EXPECT_TRUE(mac.empty());
    }
}

TEST(CryptoTest, HexBytesComparisonAndRandom)
{
    std::vector<BYTE> bytes;
    ASSERT_TRUE(HexBytes(L"00ff7Fa0", bytes));
    EXPECT_EQ((std::vector<BYTE>{0x00, 0xff, 0x7f, 0xa0}), bytes);
    EXPECT_EQ(L"00ff7fa0", HexText(bytes));
    EXPECT_TRUE(HexBytes(L"", bytes));
    EXPECT_TRUE(bytes.empty());
    for (const wchar_t* bad : {L"abc", L"0g", L" 00", L"0x00", L"\x0660\x0661"}) {
        EXPECT_FALSE(HexBytes(bad, bytes)) << "accepted";
        EXPECT_TRUE(bytes.empty());
    }

    const BYTE a[] = {1, 2, 3, 4};
    const BYTE b[] = {1, 2, 3, 5};
    EXPECT_TRUE(SameBytes(a, a, sizeof a));
    EXPECT_FALSE(SameBytes(a, b, sizeof a));
    EXPECT_TRUE(SameBytes(a, b, 3));

    std::vector<BYTE> first(32), second(32);
    ASSERT_TRUE(RandomBytes(first.data(), first.size()));
    ASSERT_TRUE(RandomBytes(second.data(), second.size()));
    EXPECT_NE(first, second);
    EXPECT_NE(std::vector<BYTE>(32, 0), first);
}
