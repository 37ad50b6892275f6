// The short fuzz pass every build runs (and the sanitizer build in CI): each
// harness gets its seeds from tests/fuzz/corpus/<name>/ as they are, then
// seeded mutations of them. The same seed and round always make the same
// input, so a failure names what to replay: KADRIX_FUZZ_ROUNDS raises the
// rounds for a longer local run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/FuzzHarnesses.h"
#include "support/FuzzMutator.h"

namespace {

int fuzzRoundsPerSeed() {
    const char* rounds = std::getenv("KADRIX_FUZZ_ROUNDS");
    return rounds ? std::max(0, std::atoi(rounds)) : 200;
}

std::vector<std::pair<std::string, std::string>> fuzzSeeds(const std::string& harness) {
    std::vector<std::pair<std::string, std::string>> seeds;
    const auto folder = std::filesystem::path(KADRIX_FUZZ_CORPUS) / harness;
    if (!std::filesystem::is_directory(folder)) return seeds;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        seeds.emplace_back(entry.path().filename().string(),
                           std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    std::sort(seeds.begin(), seeds.end());
    return seeds;
}

class FuzzPass : public testing::TestWithParam<fuzzing::Harness> {};

TEST_P(FuzzPass, SeedsAndTheirMutationsKeepEveryPromise) {
    const auto& harness = GetParam();
    const auto seeds = fuzzSeeds(harness.name);
    ASSERT_FALSE(seeds.empty()) << "no seeds in corpus/" << harness.name;
    const int rounds = fuzzRoundsPerSeed();
    for (const auto& [file, seed] : seeds) {
        std::mt19937 rng(uint32_t(std::hash<std::string>{}(file)));
        for (int round = -1; round < rounds; ++round) {
            const std::string input = round < 0 ? seed : testsupport::mutateBytes(seed, rng);
            try {
                harness.run(input);
            } catch (const std::exception& e) {
                ADD_FAILURE() << harness.name << " on " << file << " round " << round << ": " << e.what();
                return;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzPass, testing::ValuesIn(fuzzing::harnesses()), [](const auto& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

}  // namespace
