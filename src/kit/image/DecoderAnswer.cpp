#include "kit/image/DecoderAnswer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "kit/image/ImageDecode.h"

namespace kit::ImageIO::detail {

const char* const kDecoderFailed = "The image could not be read: the decoder failed on it.";
const char* const kFileTooLarge = "The file is too large to be an image that can be opened.";
const char* const kNotRegularFile = "The file is not a regular file.";

namespace {

struct Reason {
    std::string_view word;
    const char* const* sentence;  // the constant's place: other files set it
};
// The refusals said in a sentence without numbers.
const Reason kPlain[] = {
    {"damaged", &kNotAnImage},          {"incomplete", &kIncomplete},      {"memory", &kTooHungry},
    {"file-too-large", &kFileTooLarge}, {"not-regular", &kNotRegularFile},
};
// The refusals that give a picture's size: the sentence starts with its
// prefix.
const struct Sized {
    std::string_view word, prefix;
    std::string (*sentence)(long long, long long);
} kSized[] = {
    {"too-large", "The image is too large to open: ", &tooLarge},
    {"drawing-too-large", "The drawing is too large to open: ", &drawingTooLarge},
};
// The refusals caused by a system error: the sentence before its text.
const struct {
    std::string_view word;
    const char* before;
} kWithError[] = {
    {"unreadable", "The file could not be read: "},
    {"hand-over", "The image could not be handed over: "},
    {kUnconfined, "The image could not be read: its decoder could not be shut in: "},
    {kUnconfinedNamespace, "The image could not be read: its decoder could not be shut in: "},
};
// The system errors of a decoder that could not shut itself in, said in
// words rather than in the kernel's text, by the word they came with: the
// first that fits holds. A refused namespace is always said in words.
const struct Worded {
    std::string_view word;
    int error;  // 0: any
    const char* words;
} kWorded[] = {
    {kUnconfinedNamespace, ENOSPC, "the system allows no more namespaces"},
    {kUnconfinedNamespace, EUSERS, "the system allows no more namespaces"},
    {kUnconfinedNamespace, EPERM, "the system does not allow it a namespace"},
    {kUnconfinedNamespace, EACCES, "the system does not allow it a namespace"},
    {kUnconfinedNamespace, ENOSYS, "the system has no namespaces"},
    {kUnconfinedNamespace, ENOMEM, "there was not enough memory"},
    {kUnconfinedNamespace, 0, "the system refused it a namespace"},
    {kUnconfined, EPERM, "the system did not allow it"},
    {kUnconfined, EACCES, "the system did not allow it"},
    {kUnconfined, ENOMEM, "there was not enough memory"},
};

// The code's words after the first: numbers of at most ten digits, nothing else.
std::optional<std::vector<long long>> numbers(std::string_view rest, size_t count) {
    std::vector<long long> out;
    while (!rest.empty()) {
        if (rest.front() != ' ' || out.size() == count) return std::nullopt;
        rest.remove_prefix(1);
        size_t digits = 0;
        long long n = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9' && digits < 10)
            n = n * 10 + (rest[digits++] - '0');
        if (digits == 0 || (digits < rest.size() && rest[digits] != ' ')) return std::nullopt;
        out.push_back(n);
        rest.remove_prefix(digits);
    }
    if (out.size() != count) return std::nullopt;
    return out;
}

// The system error of a code that comes with one, and the start of its sentence.
struct SystemError {
    const char* before;
    int number;
};
std::optional<SystemError> systemErrorIn(std::string_view code) {
    const std::string_view word = code.substr(0, code.find(' '));
    for (const auto& r : kWithError)
        if (word == r.word)
            if (const auto e = numbers(code.substr(word.size()), 1); e && (*e)[0] > 0 && (*e)[0] < 4096)
                return SystemError{r.before, int((*e)[0])};
    return std::nullopt;
}

// A system error as the user is told it.
std::string inWords(std::string_view word, int error) {
    for (const Worded& w : kWorded)
        if (w.word == word && (w.error == 0 || w.error == error)) return w.words;
    return std::strerror(error);
}

}  // namespace

std::string refusalCode(const std::string& sentence) {
    for (const Reason& r : kPlain)
        if (sentence == *r.sentence) return std::string(r.word);
    // Read by hand: the C library's scanf reads a format's "×" as a character
    // of the locale, and in the "C" locale it is none.
    static constexpr std::string_view kBy = " × ";
    for (const Sized& r : kSized)
        if (sentence.starts_with(r.prefix)) {
            const char* at = sentence.c_str() + r.prefix.size();
            char* end = nullptr;
            const long long w = std::strtoll(at, &end, 10);
            if (end != at && std::string_view(end).starts_with(kBy)) {
                at = end + kBy.size();
                const long long h = std::strtoll(at, &end, 10);
                if (end != at && sentence == r.sentence(w, h))
                    return std::string(r.word) + " " + std::to_string(w) + " " + std::to_string(h);
            }
        }
    return "failed";
}

std::string refusalCode(std::string_view word, int errorNumber) {
    return std::string(word) + " " + std::to_string(errorNumber);
}

std::string refusalSentence(std::string_view code) {
    const std::string_view word = code.substr(0, code.find(' '));
    const std::string_view rest = code.substr(word.size());
    for (const Reason& r : kPlain)
        if (word == r.word && rest.empty()) return *r.sentence;
    for (const Sized& r : kSized)
        if (word == r.word)
            if (const auto wh = numbers(rest, 2); wh && (*wh)[0] > 0 && (*wh)[1] > 0)
                return r.sentence((*wh)[0], (*wh)[1]);
    if (const auto e = systemErrorIn(code)) return e->before + inWords(word, e->number) + ".";
    return kDecoderFailed;
}

std::string kernelReasonIn(std::string_view code) {
    const auto e = systemErrorIn(code);
    return e ? std::string(std::strerror(e->number)) + ", error " + std::to_string(e->number)
             : "no system error given";
}

}  // namespace kit::ImageIO::detail
