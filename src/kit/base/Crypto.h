#pragma once
// Digests, checksums, base64, random bytes and AES-256-GCM sealed boxes. A sealed box in its
// combined form is 12-byte nonce ‖ ciphertext ‖ 16-byte tag, no additional
// authenticated data.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kit::crypto {

using Bytes = std::vector<uint8_t>;
using Digest = std::array<uint8_t, 32>;

inline constexpr size_t kNonceSize = 12;
inline constexpr size_t kTagSize = 16;
inline constexpr size_t kKeySize = 32;

Digest sha256(std::span<const uint8_t> data);
Digest sha256(std::string_view text);

// Cryptographically strong random bytes; empty only when the system source fails.
Bytes randomBytes(size_t count);

// Seals with a fresh random nonce. Absent when the key is not 32 bytes or
// the cipher fails.
std::optional<Bytes> seal(std::span<const uint8_t> key, std::span<const uint8_t> plaintext);
// The same with a given 12-byte nonce (for known-answer checks).
std::optional<Bytes> seal(std::span<const uint8_t> key, std::span<const uint8_t> plaintext,
                          std::span<const uint8_t> nonce);
// Opens a combined box; absent when it is shorter than nonce + tag, the key is
// not 32 bytes, or the tag does not verify (tampered or wrong key).
std::optional<Bytes> open(std::span<const uint8_t> key, std::span<const uint8_t> box);

// Lower-case hexadecimal text of bytes.
std::string toHex(std::span<const uint8_t> data);

// Standard base64 (RFC 4648 alphabet with "+" and "/", "=" padding, no line
// breaks). Decoding is strict: any other character, missing padding or bits
// left over after the last byte fail.
std::string base64Encode(std::span<const uint8_t> data);
std::optional<Bytes> base64Decode(std::string_view text);

// The CRC-32 of zlib (the checksum of PNG and gzip), optionally continuing
// from an earlier value.
uint32_t crc32(std::span<const uint8_t> data, uint32_t previous = 0);

}  // namespace kit::crypto
