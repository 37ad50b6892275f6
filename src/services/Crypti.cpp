#include "services/Crypti.h"

#include "kit/base/Crypto.h"
#include "kit/base/UrlEvents.h"

namespace services::Crypti {

namespace {

// Appended to every key text before hashing, so a key text found elsewhere
// is not by itself the key.
constexpr const char* kSuffix = "·kadrix·sealed·box·v1";

}  // namespace

std::optional<Key> makeKey(const std::string& keyText) {
    if (!kit::UrlEvents::isValidUtf8(keyText)) return std::nullopt;
    return kit::crypto::sha256(keyText + kSuffix);
}

std::optional<std::string> sealForCompanion(const std::string& message, const std::string& keyText) {
    auto key = makeKey(keyText);
    if (!key) return std::nullopt;
    auto box =
        kit::crypto::seal(*key, std::span(reinterpret_cast<const uint8_t*>(message.data()), message.size()));
    if (!box) return std::nullopt;
    return kit::crypto::base64Encode(*box);
}

std::optional<std::string> openFromCompanion(const std::string& sealed, const std::string& keyText) {
    auto key = makeKey(keyText);
    auto box = kit::crypto::base64Decode(sealed);
    if (!key || !box) return std::nullopt;
    auto plain = kit::crypto::open(*key, *box);
    if (!plain) return std::nullopt;
    return std::string(plain->begin(), plain->end());
}

}  // namespace services::Crypti
