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
// The refusals caused by a system error: the sentence before its text. A
// decoder that could not shut itself in names the step that failed as well.
constexpr std::string_view kUnconfined = "unconfined";
const struct WithError {
    std::string_view word;
    const char* before;
    bool withStep;
} kWithError[] = {
    {"unreadable", "The file could not be read", false},
    {"hand-over", "The image could not be handed over", false},
    {kUnconfined, "The image could not be read: its decoder could not be shut in", true},
};
// The system errors of a decoder that could not shut itself in, said in
// words rather than in the kernel's text, by the step that failed: the
// first that fits holds. A refused namespace is always said in words.
using Step = ConfinementStep;
const struct Worded {
    Step step;  // none: any
    int error;  // 0: any
    const char* words;
} kWorded[] = {
    {Step::namespaces, ENOSPC, "the system allows no more namespaces"},
    {Step::namespaces, EUSERS, "the system allows no more namespaces"},
    {Step::namespaces, EPERM, "the system does not allow it a namespace"},
    {Step::namespaces, EACCES, "the system does not allow it a namespace"},
    {Step::namespaces, ENOSYS, "the system has no namespaces"},
    {Step::namespaces, ENOMEM, "there was not enough memory"},
    {Step::namespaces, 0, "the system refused it a namespace"},
    {Step::none, EPERM, "the system did not allow it"},
    {Step::none, EACCES, "the system did not allow it"},
    {Step::none, ENOMEM, "there was not enough memory"},
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

// The system error of a code that comes with one, the start of its
// sentence, and the step that failed where the code names one: a number
// the kernel could give, and a step of the table (none is no step).
struct SystemError {
    const WithError* kind;
    int number;  // 0 only for a step that fails with none
    Step step = Step::none;
};
std::optional<SystemError> systemErrorIn(std::string_view code) {
    const std::string_view word = code.substr(0, code.find(' '));
    for (const WithError& r : kWithError) {
        if (word != r.word) continue;
        const auto n = numbers(code.substr(word.size()), r.withStep ? 2 : 1);
        if (!n || (*n)[0] >= 4096 || ((*n)[0] == 0 && !r.withStep)) return std::nullopt;
        if (!r.withStep) return SystemError{&r, int((*n)[0])};
        if ((*n)[1] <= int(Step::none) || (*n)[1] >= int(Step::count)) return std::nullopt;
        return SystemError{&r, int((*n)[0]), Step(int((*n)[1]))};
    }
    return std::nullopt;
}

// A system error as the user is told it.
std::string inWords(Step step, int error) {
    for (const Worded& w : kWorded)
        if ((w.step == Step::none || w.step == step) && (w.error == 0 || w.error == error)) return w.words;
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

std::string unconfinedCode(ConfinementStep step, int errorNumber) {
    return refusalCode(kUnconfined, errorNumber) + " " + std::to_string(int(step));
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
    if (const auto e = systemErrorIn(code))
        return e->number == 0 ? std::string(e->kind->before) + "."
                              : std::string(e->kind->before) + ": " + inWords(e->step, e->number) + ".";
    return kDecoderFailed;
}

std::optional<std::string> unconfinedReasonIn(std::string_view code) {
    const auto e = systemErrorIn(code);
    if (!e || e->step == Step::none) return std::nullopt;
    std::string reason(confinementStepName(e->step));
    reason += e->number == 0
                  ? std::string(": no system error")
                  : ": " + std::string(std::strerror(e->number)) + ", error " + std::to_string(e->number);
    return reason;
}

}  // namespace kit::ImageIO::detail
