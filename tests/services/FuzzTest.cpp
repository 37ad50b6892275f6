// Short seeded fuzz passes over the services' text readers: links, UTF-8
// and character counting. Nothing may crash, and what is accepted keeps its
// promises.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "services/Str.h"
#include "services/Url.h"

using namespace services;

namespace {

std::string randomText(std::mt19937& rng, const std::string& alphabet, size_t maxLength) {
    std::string s;
    size_t n = rng() % maxLength;
    for (size_t i = 0; i < n; ++i) s += alphabet[rng() % alphabet.size()];
    return s;
}

TEST(Fuzz, UrlsParseOrAreRefused) {
    std::mt19937 rng(99);
    const std::string alphabet = "kadrix:/?#&=%[]@.-_~+ 09AZaz\xC3\xA9\xFF\x00";
    for (int i = 0; i < 2000; ++i) {
        std::string text = randomText(rng, std::string(alphabet.data(), alphabet.size() + 1), 80);
        if (i % 3 == 0) text = "https://" + text;
        if (i % 3 == 1) text = "kadrix://" + text;
        auto url = Url::parse(text);
        if (url) {
            EXPECT_FALSE(url->scheme.empty()) << text;
        }
    }
}

TEST(Fuzz, Utf8CheckAndCharacterCountsAgree) {
    std::mt19937 rng(5);
    std::string alphabet =
        "a \xC3\xA9\xE2\x80\x8D\xF0\x9F\x87\xA9\xCC\x81\x80\xBF\xC0\xED\xA0\xF4\x90\xF5\xFF";
    for (int i = 0; i < 3000; ++i) {
        std::string text = randomText(rng, alphabet, 40);
        size_t count = Str::characterCount(text);
        EXPECT_LE(count, text.size());
        // The whole text is its own substring from 0 of all its characters.
        EXPECT_EQ(Str::substring(text, 0, int64_t(count)), text);
        if (Str::isValidUTF8(text) && !text.empty()) {
            EXPECT_GT(count, 0u);
        }
    }
}

}  // namespace
