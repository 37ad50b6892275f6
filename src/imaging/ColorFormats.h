#pragma once
// Colours of the capture as the editor shows and copies them: conversion of a
// capture pixel to sRGB with its packed value, and the seven colour texts.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "imaging/Capture.h"
#include "kit/base/Color.h"

namespace imaging {

// A sampled colour: red + green x 256 + blue x 65536, with the sRGB colour.
struct SampledColor {
    uint32_t packed = 0;
    kit::Color color = kit::Color::black();
};

struct ColorFormat {
    std::string id;
    std::string menuTitle;
    std::string displayTemplate;
    std::string copyTemplate;
    std::string readoutWidth;  // decimal points, as text
};

// The seven formats in menu order; row 0 is the fallback.
const std::vector<ColorFormat>& colorFormats();

// Channels of a capture pixel -> packed value and sRGB colour. Captures are
// taken in sRGB, so the channels pass through unchanged; without a capture
// the result is transparent black with packed 0.
SampledColor convertColorSpaces(const Capture& capture, int r, int g, int b);

// (display text, copy text) of an sRGB colour in the format whose id is
// `colorFormat` (the setting of that name); an unknown id gives "HEX".
std::pair<std::string, std::string> formatColor(int r, int g, int b, std::string_view colorFormat);
// The same in the format the user chose with the setting "colorFormat".
std::pair<std::string, std::string> formatColor(int r, int g, int b);

}  // namespace imaging
