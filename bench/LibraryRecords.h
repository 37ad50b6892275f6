#pragma once
// Library records as the indexer leaves them for screenshots: about 2 KB of
// recognised text each, one record in a hundred with a rare word.
#include <iterator>
#include <random>
#include <string>

#include "library/DataLayer.h"

// Recognised text as a screen gives it: ordinary words, a few rare ones.
inline std::string benchOcrText(std::mt19937& rng, int index) {
    static const char* words[] = {"Report", "build", "Release", "meeting", "the",    "and",   "Window",
                                  "File",   "Edit",  "View",    "commit",  "branch", "merge", "Settings",
                                  "error",  "12:45", "Monday",  "invoice", "total",  "Send",  "Cancel"};
    std::string text;
    std::uniform_int_distribution<size_t> pick(0, std::size(words) - 1);
    while (text.size() < 2048) {
        text += words[pick(rng)];
        text += text.size() % 70 < 8 ? '\n' : ' ';
    }
    if (index % 100 == 0) text += " Zanzibar";  // one record in a hundred
    return text;
}

// Record `index` of a library; without `withText` the indexer has not read
// its text yet (the recognised text and domains are missing).
inline library::Record benchRecord(std::mt19937& rng, int index, bool withText = true) {
    library::Record r{{"filename", "SCR-" + std::to_string(index) + ".png"},
                      {"ts", std::to_string(1'600'000'000 + int64_t(index) * 9000)},
                      {"colors", "#1E90FF,#FFFFFF,#202020"},
                      {"basecolor", "#EEEEEE"},
                      {"objects", index % 4 ? "AT" : ""},
                      {"mode", index % 2 ? "interactive" : "window"},
                      {"app", index % 5 ? "Firefox" : "Terminal"},
                      {"width", "1920"},
                      {"height", "1080"},
                      {"bytes", "734003"}};
    if (withText) {
        r["ocr"] = benchOcrText(rng, index);
        r["domains"] = index % 3 ? "github.com\nexample.org" : "";
    }
    return r;
}

// Writes the database of `count` records into `folder`.
inline void writeBenchLibrary(const std::string& folder, int count, bool withText = true) {
    library::DataLayer store(folder);
    std::mt19937 rng(7);
    std::string all;
    for (int i = 0; i < count; ++i) all += store.encodeRec(benchRecord(rng, i, withText));
    store.write(all, false);
}
