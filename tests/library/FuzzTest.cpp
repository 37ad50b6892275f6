// A short seeded fuzz pass over damaged library databases: flipped bits, cut
// and joined lines, lines sealed under another key, garbage and huge lines.
// Nothing may crash, every line that survived the damage still reads as its
// record, and no line is lost by loading and saving the library again.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "LibraryFixture.h"
#include "kit/base/Files.h"
#include "library/DataLayer.h"
#include "library/ScreenLib.h"

using library::DataLayer;
using library::Record;

namespace {

class Fuzz : public LibraryFolderFixture {
protected:
    std::string file() const { return folder + "/imagelib.kxdb"; }

    // Every record somewhere in `records`, each matched once.
    static bool allFound(const std::vector<Record>& wanted, std::vector<Record> records) {
        for (auto& w : wanted) {
            auto it = std::find(records.begin(), records.end(), w);
            if (it == records.end()) return false;
            records.erase(it);
        }
        return true;
    }
};

std::string garbage(std::mt19937& rng, size_t maxLength) {
    std::string s(rng() % maxLength + 1, ' ');
    for (char& c : s) {
        c = char(rng() % 256);
        if (c == '\n') c = '{';
    }
    return s;
}

TEST_F(Fuzz, DamagedDatabasesKeepEveryReadableRecord) {
    std::mt19937 rng(20261207);
    DataLayer store(folder);
    DataLayer stranger(folder, "a key text from somewhere else");
    // Names differ in two places, so no single flipped bit turns one into another.
    std::vector<Record> originals;
    std::vector<std::string> lines;
    for (int i = 0; i < 40; ++i) {
        Record r{{"filename", "p" + std::to_string(i) + "-" + std::to_string(i) + ".png"},
                 {"ts", std::to_string(1700000000 + i)},
                 {"ocr", "line one\nline \"two\" " + std::to_string(i)},
                 {"colors", "#FFFFFF,#000000"}};
        originals.push_back(r);
        std::string line = store.encodeRec(r);
        if (i % 7 == 0) line = kit::Json(r).dump() + "\n";  // a plain line
        lines.push_back(line.substr(0, line.size() - 1));
    }

    for (int round = 0; round < 60; ++round) {
        std::vector<std::string> mutated = lines;
        // The record each line still holds, -1 once damaged.
        std::vector<int> origin(lines.size());
        for (size_t i = 0; i < origin.size(); ++i) origin[i] = int(i);
        for (int m = 0, count = int(rng() % 5) + 1; m < count; ++m) {
            size_t i = rng() % mutated.size();
            switch (rng() % 6) {
                case 0: {  // a flipped bit
                    if (mutated[i].empty()) break;
                    size_t at = rng() % mutated[i].size();
                    mutated[i][at] = char(mutated[i][at] ^ (1 << (rng() % 8)));
                    if (mutated[i][at] == '\n') mutated[i][at] = '!';
                    origin[i] = -1;
                    break;
                }
                case 1:  // cut short
                    mutated[i].resize(rng() % (mutated[i].size() + 1));
                    origin[i] = -1;
                    break;
                case 2: {  // sealed under another key
                    std::string l = stranger.encodeRec(originals[i % originals.size()]);
                    mutated[i] = l.substr(0, l.size() - 1);
                    origin[i] = -1;
                    break;
                }
                case 3:  // garbage in its place
                    mutated[i] = garbage(rng, 300);
                    origin[i] = -1;
                    break;
                case 4:  // joined with the next line (a lost line end)
                    if (i + 1 < mutated.size()) {
                        mutated[i] += mutated[i + 1];
                        mutated.erase(mutated.begin() + long(i) + 1);
                        origin.erase(origin.begin() + long(i) + 1);
                        origin[i] = -1;
                    }
                    break;
                case 5:  // deeply nested JSON
                    mutated[i] = "{" + std::string(20000, '[') + "}";
                    origin[i] = -1;
                    break;
            }
        }
        if (round % 20 == 0) mutated.push_back(std::string((16u << 20) + 1, 'A'));  // longer than any record
        if (round % 20 == 10) mutated.push_back(std::string(1u << 20, 'A'));

        std::string text;
        for (auto& l : mutated) text += l + "\n";
        if (round % 3 == 0) text.pop_back();  // no final line end
        ASSERT_TRUE(kit::files::writeAtomic(file(), text));
        std::vector<Record> wanted;
        for (int o : origin)
            if (o >= 0) wanted.push_back(originals[size_t(o)]);
        size_t nonEmpty = std::count_if(mutated.begin(), mutated.end(), [](auto& l) { return !l.empty(); });

        DataLayer reader(folder);
        reader.read();
        EXPECT_TRUE(allFound(wanted, reader.records)) << "round " << round;
        // Each line is either a record or kept as it was.
        EXPECT_EQ(reader.records.size() + reader.unreadableLines().size(), nonEmpty) << "round " << round;

        // The library loads and saves it: nothing read goes, nothing unread goes.
        {
            library::ScreenLib lib(folder);
            lib.loadNow();
            lib.save();
        }
        DataLayer again(folder);
        again.read();
        EXPECT_TRUE(allFound(wanted, again.records)) << "round " << round;
        EXPECT_EQ(again.unreadableLines(), reader.unreadableLines()) << "round " << round;
    }
}

TEST_F(Fuzz, ADamagedSealedLineNeverReadsAsAnotherRecord) {
    std::mt19937 rng(77);
    DataLayer store(folder);
    Record r{{"filename", "a.png"}, {"ocr", "secret"}};
    const std::string line = store.encodeRec(r);
    for (int i = 0; i < 150; ++i) {
        std::string bad = line.substr(0, line.size() - 1);
        size_t at = rng() % bad.size();
        bad[at] = char(bad[at] ^ (1 << (rng() % 8)));
        if (bad[at] == '\n') continue;
        ASSERT_TRUE(kit::files::writeAtomic(file(), bad + "\n"));
        store.read();
        EXPECT_TRUE(store.records.empty()) << bad;
        EXPECT_EQ(store.unreadableLines(), std::vector<std::string>{bad});
    }
}

}  // namespace
