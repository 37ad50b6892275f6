#include "kit/Crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace kit::crypto {
namespace {

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

}  // namespace

Digest sha256(std::span<const uint8_t> data) {
    Digest out{};
    unsigned len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sha256(), nullptr);
    return out;
}

Digest sha256(std::string_view text) {
    return sha256(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

Bytes randomBytes(size_t count) {
    Bytes out(count);
    if (count > 0 && RAND_bytes(out.data(), int(count)) != 1) return {};
    return out;
}

std::optional<Bytes> seal(std::span<const uint8_t> key, std::span<const uint8_t> plaintext) {
    Bytes nonce = randomBytes(kNonceSize);
    if (nonce.size() != kNonceSize) return std::nullopt;
    return seal(key, plaintext, nonce);
}

std::optional<Bytes> seal(std::span<const uint8_t> key, std::span<const uint8_t> plaintext,
                          std::span<const uint8_t> nonce) {
    if (key.size() != kKeySize || nonce.size() != kNonceSize) return std::nullopt;
    if (plaintext.size() > size_t(INT32_MAX) - 64) return std::nullopt;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return std::nullopt;
    Bytes out(kNonceSize + plaintext.size() + kTagSize);
    std::copy(nonce.begin(), nonce.end(), out.begin());
    int len = 0;
    if (EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, int(kNonceSize), nullptr) != 1 ||
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce.data()) != 1)
        return std::nullopt;
    uint8_t* ct = out.data() + kNonceSize;
    if (!plaintext.empty() &&
        EVP_EncryptUpdate(ctx.get(), ct, &len, plaintext.data(), int(plaintext.size())) != 1)
        return std::nullopt;
    int tail = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), ct + len, &tail) != 1) return std::nullopt;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, int(kTagSize), ct + plaintext.size()) != 1)
        return std::nullopt;
    return out;
}

std::optional<Bytes> open(std::span<const uint8_t> key, std::span<const uint8_t> box) {
    if (key.size() != kKeySize || box.size() < kNonceSize + kTagSize) return std::nullopt;
    if (box.size() > size_t(INT32_MAX)) return std::nullopt;
    const size_t ctLen = box.size() - kNonceSize - kTagSize;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return std::nullopt;
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, int(kNonceSize), nullptr) != 1 ||
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), box.data()) != 1)
        return std::nullopt;
    Bytes out(ctLen);
    int len = 0;
    if (ctLen > 0 && EVP_DecryptUpdate(ctx.get(), out.data(), &len, box.data() + kNonceSize, int(ctLen)) != 1)
        return std::nullopt;
    // The tag is set before Final, which checks it.
    Bytes tag(box.end() - kTagSize, box.end());
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, int(kTagSize), tag.data()) != 1)
        return std::nullopt;
    int tail = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), out.data() + len, &tail) != 1) return std::nullopt;
    return out;
}

std::string toHex(std::span<const uint8_t> data) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 2);
    for (uint8_t b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace kit::crypto
