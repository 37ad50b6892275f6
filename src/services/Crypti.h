#pragma once
// Sealing of the library's records and of the messages to the companion
// uploader: AES-256-GCM boxes (12-byte nonce, ciphertext, 16-byte tag) under
// a key made from a key text: SHA-256 of the text followed by a suffix only
// this program holds. The key lives only while the program runs.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace services::Crypti {

using Key = std::array<uint8_t, 32>;

// The key for a key text; absent only when the text is not UTF-8.
std::optional<Key> makeKey(const std::string& keyText);

// The message sealed under the key text's key, as base64; absent when it
// cannot be sealed (no randomness for a nonce, no key).
std::optional<std::string> sealForCompanion(const std::string& message, const std::string& keyText);
// The message of a base64 box sealed under the key text's key; absent when it
// is not strict base64, too short, or does not open under that key.
std::optional<std::string> openFromCompanion(const std::string& sealed, const std::string& keyText);

}  // namespace services::Crypti
