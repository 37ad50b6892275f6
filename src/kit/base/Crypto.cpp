#include "kit/base/Crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <zlib.h>

#include <QCryptographicHash>
#include <algorithm>
#include <memory>
#include <string>

#include "kit/base/DynamicLibrary.h"

namespace kit::crypto {
namespace {

// libcrypto, loaded with the first sealed box rather than with the program:
// most sessions seal nothing, and the library costs every idle instance over
// a megabyte of memory. Its functions, looked up once; null when it cannot be
// loaded, and then sealing, opening and random bytes fail as they say they do.
struct OpenSsl {
    decltype(&RAND_bytes) rand_bytes;
    decltype(&EVP_aes_256_gcm) aes_256_gcm;
    decltype(&EVP_CIPHER_CTX_new) ctx_new;
    decltype(&EVP_CIPHER_CTX_free) ctx_free;
    decltype(&EVP_CIPHER_CTX_ctrl) ctx_ctrl;
    decltype(&EVP_EncryptInit_ex) encrypt_init;
    decltype(&EVP_EncryptUpdate) encrypt_update;
    decltype(&EVP_EncryptFinal_ex) encrypt_final;
    decltype(&EVP_DecryptInit_ex) decrypt_init;
    decltype(&EVP_DecryptUpdate) decrypt_update;
    decltype(&EVP_DecryptFinal_ex) decrypt_final;
};

const OpenSsl* loadOpenSsl() {
    static const DynamicLibrary lib(KADRIX_CRYPTO_LIBRARY);
    static OpenSsl o;
    const bool all =
        lib.find(o.rand_bytes, "RAND_bytes") & lib.find(o.aes_256_gcm, "EVP_aes_256_gcm") &
        lib.find(o.ctx_new, "EVP_CIPHER_CTX_new") & lib.find(o.ctx_free, "EVP_CIPHER_CTX_free") &
        lib.find(o.ctx_ctrl, "EVP_CIPHER_CTX_ctrl") & lib.find(o.encrypt_init, "EVP_EncryptInit_ex") &
        lib.find(o.encrypt_update, "EVP_EncryptUpdate") & lib.find(o.encrypt_final, "EVP_EncryptFinal_ex") &
        lib.find(o.decrypt_init, "EVP_DecryptInit_ex") & lib.find(o.decrypt_update, "EVP_DecryptUpdate") &
        lib.find(o.decrypt_final, "EVP_DecryptFinal_ex");
    return all ? &o : nullptr;
}

const OpenSsl* openSsl() {
    static const OpenSsl* o = loadOpenSsl();
    return o;
}

struct CtxFree {
    decltype(&EVP_CIPHER_CTX_free) free;
    void operator()(EVP_CIPHER_CTX* c) const { free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

CipherCtx newCipher(const OpenSsl& o) {
    return CipherCtx(o.ctx_new(), CtxFree{o.ctx_free});
}

}  // namespace

// By Qt's, which is loaded anyway: a digest cannot fail, and libcrypto,
// which might not load, is left for the sealed boxes alone.
Digest sha256(std::span<const uint8_t> data) {
    const QByteArray hash = QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char*>(data.data()), qsizetype(data.size())),
        QCryptographicHash::Sha256);
    Digest out{};
    std::copy_n(reinterpret_cast<const uint8_t*>(hash.constData()), out.size(), out.begin());
    return out;
}

Digest sha256(std::string_view text) {
    return sha256(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

Bytes randomBytes(size_t count) {
    Bytes out(count);
    if (count == 0) return out;
    const OpenSsl* o = openSsl();
    if (!o || o->rand_bytes(out.data(), int(count)) != 1) return {};
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
    const OpenSsl* o = openSsl();
    if (!o) return std::nullopt;
    CipherCtx ctx = newCipher(*o);
    if (!ctx) return std::nullopt;
    Bytes out(kNonceSize + plaintext.size() + kTagSize);
    std::copy(nonce.begin(), nonce.end(), out.begin());
    int len = 0;
    if (o->encrypt_init(ctx.get(), o->aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        o->ctx_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, int(kNonceSize), nullptr) != 1 ||
        o->encrypt_init(ctx.get(), nullptr, nullptr, key.data(), nonce.data()) != 1)
        return std::nullopt;
    uint8_t* ct = out.data() + kNonceSize;
    if (!plaintext.empty() &&
        o->encrypt_update(ctx.get(), ct, &len, plaintext.data(), int(plaintext.size())) != 1)
        return std::nullopt;
    int tail = 0;
    if (o->encrypt_final(ctx.get(), ct + len, &tail) != 1) return std::nullopt;
    if (o->ctx_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, int(kTagSize), ct + plaintext.size()) != 1)
        return std::nullopt;
    return out;
}

std::optional<Bytes> open(std::span<const uint8_t> key, std::span<const uint8_t> box) {
    if (key.size() != kKeySize || box.size() < kNonceSize + kTagSize) return std::nullopt;
    if (box.size() > size_t(INT32_MAX)) return std::nullopt;
    const size_t ctLen = box.size() - kNonceSize - kTagSize;
    const OpenSsl* o = openSsl();
    if (!o) return std::nullopt;
    CipherCtx ctx = newCipher(*o);
    if (!ctx) return std::nullopt;
    if (o->decrypt_init(ctx.get(), o->aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        o->ctx_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, int(kNonceSize), nullptr) != 1 ||
        o->decrypt_init(ctx.get(), nullptr, nullptr, key.data(), box.data()) != 1)
        return std::nullopt;
    Bytes out(ctLen);
    int len = 0;
    if (ctLen > 0 && o->decrypt_update(ctx.get(), out.data(), &len, box.data() + kNonceSize, int(ctLen)) != 1)
        return std::nullopt;
    // The tag is set before Final, which checks it.
    Bytes tag(box.end() - kTagSize, box.end());
    if (o->ctx_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, int(kTagSize), tag.data()) != 1) return std::nullopt;
    int tail = 0;
    if (o->decrypt_final(ctx.get(), out.data() + len, &tail) != 1) return std::nullopt;
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

namespace {
const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string base64Encode(std::span<const uint8_t> in) {
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        uint32_t v = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out += kB64[(v >> shift) & 63];
    }
    if (size_t rest = in.size() - i) {
        uint32_t v = uint32_t(in[i]) << 16 | (rest == 2 ? uint32_t(in[i + 1]) << 8 : 0);
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += rest == 2 ? kB64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<Bytes> base64Decode(std::string_view in) {
    // Each character's six bits, or 64 for a character outside the alphabet.
    static const std::array<uint8_t, 256> value = [] {
        std::array<uint8_t, 256> v;
        v.fill(64);
        for (uint8_t i = 0; i < 64; ++i) v[uint8_t(kB64[i])] = i;
        return v;
    }();
    if (in.size() % 4) return std::nullopt;
    size_t pad = 0;
    while (pad < 2 && pad < in.size() && in[in.size() - 1 - pad] == '=') ++pad;
    Bytes out(in.size() / 4 * 3);
    size_t n = 0;
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < in.size() - pad; ++i) {
        const uint8_t v = value[uint8_t(in[i])];
        if (v == 64) return std::nullopt;  // also a "=" inside the text
        acc = (acc << 6) | v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[n++] = uint8_t((acc >> bits) & 0xff);
        }
    }
    // The padding must stand for exactly the bits left over, and those must be zero.
    if (acc & ((1u << bits) - 1)) return std::nullopt;
    if ((pad == 1 && bits != 2) || (pad == 2 && bits != 4) || (pad == 0 && bits != 0)) return std::nullopt;
    out.resize(n);
    return out;
}

uint32_t crc32(std::span<const uint8_t> data, uint32_t previous) {
    uLong crc = previous;
    const uint8_t* p = data.data();
    size_t left = data.size();
    while (left > 0) {  // zlib takes a 32-bit length
        uInt n = uInt(std::min<size_t>(left, 1u << 30));
        crc = ::crc32(crc, p, n);
        p += n;
        left -= n;
    }
    return uint32_t(crc);
}

}  // namespace kit::crypto
