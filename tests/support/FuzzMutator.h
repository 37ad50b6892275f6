#pragma once
// The seeded mutator every fuzz pass shares: a few bytes of a real input
// flipped, cut, duplicated or set to extremes. Works on any byte container
// (std::string, std::vector<uint8_t>).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>

namespace testsupport {

template <class Bytes>
Bytes mutateBytes(Bytes b, std::mt19937& rng) {
    using Byte = typename Bytes::value_type;
    if (b.empty()) return b;
    std::uniform_int_distribution<int> kind(0, 4), byte(0, 255);
    int edits = 1 + int(rng() % 8);
    for (int e = 0; e < edits && !b.empty(); ++e) {
        size_t at = rng() % b.size();
        switch (kind(rng)) {
            case 0:
                b[at] = Byte(byte(rng));
                break;
            case 1:
                b[at] = Byte(uint8_t(b[at]) ^ uint8_t(1u << (rng() % 8)));
                break;
            case 2:
                b.resize(at + 1);
                break;
            case 3: {
                Bytes head(b.begin(), b.begin() + std::ptrdiff_t(std::min<size_t>(at, 64)));
                b.insert(b.begin() + std::ptrdiff_t(at), head.begin(), head.end());
                break;
            }
            case 4:
                b[at] = Byte((rng() & 1) ? 0xFF : 0x00);
                break;
        }
    }
    return b;
}

}  // namespace testsupport
