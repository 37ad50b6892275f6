#pragma once
// Gradient noise for the backdrop's grain: classic Perlin noise over a
// permutation table shuffled from a seed, so the same seed always gives the
// same grain. The grain is drawn as a small repeating tile, never per pixel
// of the whole backdrop.
#include <array>
#include <cstdint>

#include "kit/base/Image.h"

namespace backdrop {

class Perlin {
public:
    explicit Perlin(uint32_t seed);
    // Noise in about −1…1 at a point; 0 on every lattice point. With a
    // period p > 0 the noise repeats every p units on both axes.
    double noise(double x, double y, int period = 0) const;
    // Sum of `octaves` layers, each twice the frequency and half the weight.
    double fractal(double x, double y, int octaves, int period = 0) const;

private:
    std::array<uint8_t, 512> perm_{};
};

// A size × size tile that repeats seamlessly: grey grain with an alpha of
// `strength` (0…1) at most; a null image for strength 0 or a bad size.
kit::Image noiseTile(int size, uint32_t seed, double strength);

}  // namespace backdrop
