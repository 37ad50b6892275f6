#pragma once
// What the decoder tests share: the sentences a refused picture is told in,
// and whether the decoder runs under a sanitizer (which reserves terabytes
// of address space first, so its decoder holds no limit on its memory).
#include <string>

namespace testsupport {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

inline const std::string kDamaged = "The file is not an image that can be read, or it is damaged.";
inline const std::string kIncomplete = "The image file is incomplete: it ends before its last pixels.";

}  // namespace testsupport
