#pragma once
// How the decoder program says why it refused a picture (kit internal). The
// decoder is not trusted, nor is what it says: it names its reason by a word
// and at most two numbers, and the sentence the user reads is this
// program's own, looked up here.
//
//   damaged | incomplete | memory | file-too-large | not-regular
//   too-large WIDTH HEIGHT | unreadable ERRNO | hand-over ERRNO | unconfined ERRNO
//   unconfined-namespace ERRNO | failed
#include <string>
#include <string_view>

namespace kit::ImageIO::detail {

extern const char* const kDecoderFailed;
extern const char* const kFileTooLarge;
extern const char* const kNotRegularFile;
// The decoder could not shut itself in, and decoded nothing: each word
// for it starts so (the program tells it once, whichever it is).
inline constexpr std::string_view kUnconfined = "unconfined";
// ... as the kernel refused it the namespace for a root of its own.
inline constexpr std::string_view kUnconfinedNamespace = "unconfined-namespace";

// The decoder's side: the word for a refusal the checks or the decoding
// gave, "failed" for a sentence that has none; the word for a refusal
// caused by a system error, with its number.
std::string refusalCode(const std::string& sentence);
std::string refusalCode(std::string_view word, int errorNumber);

// This program's side: the sentence for a code, kDecoderFailed for one it
// does not know. A system error the user can be told in words is; the log
// has its number and the kernel's text (kernelReasonIn).
std::string refusalSentence(std::string_view code);

// The system error in a code, as the kernel says it, with its number, for
// the log.
std::string kernelReasonIn(std::string_view code);

}  // namespace kit::ImageIO::detail
