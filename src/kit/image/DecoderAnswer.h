#pragma once
// How the decoder program says why it refused a picture (kit internal). The
// decoder is not trusted, nor is what it says: it names its reason by a word
// and at most two numbers, and the sentence the user reads is this
// program's own, looked up here.
//
//   damaged | incomplete | memory | file-too-large | not-regular
//   too-large WIDTH HEIGHT | unreadable ERRNO | hand-over ERRNO | failed
//   unconfined ERRNO STEP
//
// "unconfined": the decoder could not shut itself in, and decoded nothing;
// STEP is the number of the step that failed (ConfinementStep, Decoder.h),
// ERRNO 0 for a step that fails with no system error.
#include <optional>
#include <string>
#include <string_view>

#include "kit/image/Decoder.h"

namespace kit::ImageIO::detail {

extern const char* const kDecoderFailed;
extern const char* const kFileTooLarge;
extern const char* const kNotRegularFile;

// The decoder's side: the word for a refusal the checks or the decoding
// gave, "failed" for a sentence that has none; the word for a refusal
// caused by a system error, with its number.
std::string refusalCode(const std::string& sentence);
std::string refusalCode(std::string_view word, int errorNumber);
std::string unconfinedCode(ConfinementStep step, int errorNumber);

// This program's side: the sentence for a code, kDecoderFailed for one it
// does not know. A system error the user can be told in words is; the log
// has its number and the kernel's text (unconfinedReasonIn).
std::string refusalSentence(std::string_view code);

// For a decoder that could not shut itself in, what the log says of it:
// the step that failed, by its name, with the kernel's text and number.
// Nothing for any other code, or one not well made.
std::optional<std::string> unconfinedReasonIn(std::string_view code);

}  // namespace kit::ImageIO::detail
