#include <gtest/gtest.h>

#include <string>

#include "kit/base/Crypto.h"

using namespace kit::crypto;

namespace {
Bytes fromHex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}
}  // namespace

TEST(Crypto, Sha256KnownDigests) {
    EXPECT_EQ(toHex(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(toHex(sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks: the padding spills into a second one.
    EXPECT_EQ(toHex(sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Bytes abc{'a', 'b', 'c'};
    EXPECT_EQ(sha256(abc), sha256("abc"));
}

TEST(Crypto, AesGcmKnownAnswers) {
    // The published GCM test vectors for a 256-bit zero key and zero nonce.
    Bytes key(32, 0), nonce(12, 0);
    auto empty = seal(key, Bytes{}, nonce);
    ASSERT_TRUE(empty);
    EXPECT_EQ(toHex(*empty),
              "000000000000000000000000"
              "530f8afbc74536b9a963b4f1c4cb738b");

    auto box = seal(key, Bytes(16, 0), nonce);
    ASSERT_TRUE(box);
    EXPECT_EQ(toHex(*box),
              "000000000000000000000000"
              "cea7403d4d606b6e074ec5d3baf39d18"
              "d0d1c8a799996bf0265b98b5d48ab919");
    auto opened = open(key, *box);
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, Bytes(16, 0));
}

TEST(Crypto, SealOpenRoundTripAndTamperDetection) {
    Bytes key = randomBytes(32);
    ASSERT_EQ(key.size(), 32u);
    std::string text = "{\"file\":\"SCR-20260101.png\",\"text\":\"hello\"}";
    Bytes plain(text.begin(), text.end());
    auto a = seal(key, plain);
    auto b = seal(key, plain);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->size(), kNonceSize + plain.size() + kTagSize);
    EXPECT_NE(*a, *b);  // a fresh nonce every time
    EXPECT_EQ(open(key, *a), plain);

    // Flipping any one bit (nonce, ciphertext or tag) makes it unopenable.
    for (size_t i : {size_t(0), size_t(11), size_t(12), a->size() / 2, a->size() - 1}) {
        Bytes t = *a;
        t[i] ^= 0x01;
        EXPECT_FALSE(open(key, t)) << "byte " << i;
    }
    Bytes wrongKey = key;
    wrongKey[0] ^= 0x80;
    EXPECT_FALSE(open(wrongKey, *a));
    EXPECT_FALSE(open(key, Bytes(a->begin(), a->end() - 1)));  // truncated tag
    EXPECT_FALSE(open(key, Bytes(27, 0)));                     // shorter than nonce + tag
    EXPECT_FALSE(seal(Bytes(16, 1), plain));                   // not a 256-bit key
    EXPECT_FALSE(open(Bytes(31, 1), *a));
    EXPECT_FALSE(seal(key, plain, Bytes(8, 0)));  // wrong nonce size
}

TEST(Crypto, RandomBytesDiffer) {
    auto a = randomBytes(32), b = randomBytes(32);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);
    EXPECT_TRUE(randomBytes(0).empty());
    EXPECT_EQ(fromHex("00ff10"), (Bytes{0, 255, 16}));
}

TEST(Crypto, Base64FollowsTheStandardAndDecodesStrictly) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        Bytes bytes(plain.begin(), plain.end());
        EXPECT_EQ(base64Encode(bytes), encoded);
        EXPECT_EQ(base64Decode(encoded), bytes) << encoded;
    }
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[size_t(i)] = uint8_t(i);
    std::string text = base64Encode(all);
    EXPECT_NE(text.find('+'), std::string::npos);
    EXPECT_NE(text.find('/'), std::string::npos);
    EXPECT_EQ(base64Decode(text), all);
    for (const char* bad : {"Zg", "Zg=", "Zh==", "Zm9v\n", "Zm9v ", "Z===", "Zm=v", "Zm9-", "Zm9_", "===="})
        EXPECT_FALSE(base64Decode(bad)) << bad;
}

TEST(Crypto, Crc32MatchesZlibAndContinues) {
    std::string digits = "123456789";
    Bytes b(digits.begin(), digits.end());
    EXPECT_EQ(crc32(b), 0xCBF43926u);
    uint32_t first = crc32(std::span(b).first(4));
    EXPECT_EQ(crc32(std::span(b).subspan(4), first), 0xCBF43926u);
    EXPECT_EQ(crc32(Bytes{}), 0u);
}
