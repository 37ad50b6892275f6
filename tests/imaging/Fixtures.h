#pragma once
// Small builders for synthetic captures and a recorder for what the analysis
// functions report.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "imaging/Capture.h"
#include "imaging/Diagnostics.h"
#include "kit/base/Image.h"

namespace kit {
inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << "{" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << "}";
}
inline void PrintTo(const Color& c, std::ostream* os) {
    *os << "rgba(" << c.r * 255 << ", " << c.g * 255 << ", " << c.b * 255 << ", " << c.a << ")";
}
}  // namespace kit

namespace imaging::test {

inline kit::Image solid(int w, int h, int r, int g, int b) {
    kit::Image img(w, h);
    img.fill(kit::Color::rgb(r, g, b));
    return img;
}

// Paints a block given in buffer pixels (rows from the top).
inline void paint(kit::Image& img, int x, int y, int w, int h, int r, int g, int b) {
    for (int row = y; row < y + h; ++row)
        for (int col = x; col < x + w; ++col)
            img.setPixel(col, row, {uint8_t(b), uint8_t(g), uint8_t(r), 255});
}

// Paints a block given in pixels of an uncropped capture, y up from the bottom.
inline void paintUp(kit::Image& img, int x, int y, int w, int h, int r, int g, int b) {
    paint(img, x, img.height() - y - h, w, h, r, g, b);
}

inline Capture cropped(const kit::Image& img, kit::Rect crop) {
    Capture c = Capture::of(img);
    c.crop = crop;
    c.precompiled = crop.size;
    return c;
}

// Records error reports, events, timer assertions and notices while it lives.
struct Recorder {
    std::vector<std::string> errors;
    std::vector<std::pair<std::string, EventData>> events;
    std::vector<std::string> timerAsserts;
    std::vector<std::string> notices;  // "title: message"

    Recorder() {
        setDiagnostics(
            {[this](const std::string& f, const std::string& m) { errors.push_back(f + ": " + m); },
             [this](const std::string& n, const EventData& d) { events.emplace_back(n, d); },
             [this](const std::string& n, double, double) { timerAsserts.push_back(n); },
             [this](const std::string& t, const std::string& m) { notices.push_back(t + ": " + m); }});
    }
    ~Recorder() { setDiagnostics({}); }

    // The value of a key of the last event with that name.
    EventValue value(const std::string& event, const std::string& key) const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->first == event)
                for (auto& [k, v] : it->second)
                    if (k == key) return v;
        ADD_FAILURE() << "no " << key << " in " << event;
        return std::string();
    }
};

}  // namespace imaging::test
