#include "imaging/TileGrid.h"

#include <cmath>
#include <random>

namespace imaging {

namespace {

double roundHalfAway(double v) {
    return std::round(v);
}

}  // namespace

std::vector<kit::Rect> tileGrid(const kit::Rect& rect, double cell) {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    return tileGrid(rect, cell, [] { return double(engine()) / double(std::mt19937_64::max()); });
}

std::vector<kit::Rect> tileGrid(const kit::Rect& rect, double cell, const std::function<double()>& random01) {
    std::vector<kit::Rect> cells;
    const double c = std::max(2.0, std::isfinite(cell) ? cell : 2.0);
    const double big = 3 * c;
    // Blocks of about 6 cells a side first, with edges rounded so that
    // neighbours share them exactly.
    const double nx = std::ceil(rect.width() / big * 0.5), ny = std::ceil(rect.height() / big * 0.5);
    if (!(nx > 0) || !(ny > 0)) return cells;
    const double tw = rect.width() / nx, th = rect.height() / ny;
    const double x0 = rect.minX(), y0 = rect.minY();
    std::vector<kit::Rect> stack;
    for (double i = 0; i < nx; ++i)
        for (double j = 0; j < ny; ++j) {
            double left = roundHalfAway(x0 + i * tw), bottom = roundHalfAway(y0 + j * th);
            stack.emplace_back(left, bottom, roundHalfAway(x0 + (i + 1) * tw) - left,
                               roundHalfAway(y0 + (j + 1) * th) - bottom);
        }
    // A side longer than two cells gets a random length of one to three cells.
    auto cut = [&](double side) {
        if (side <= 2 * c) return side;
        return std::min(roundHalfAway(random01() * (side - 2 * c)) + c, big);
    };
    while (!stack.empty()) {
        const kit::Rect b = stack.back();
        stack.pop_back();
        const double x = b.x(), y = b.y(), w = b.width(), h = b.height();
        const double pw = cut(w);
        const double ph = cut(h);
        cells.emplace_back(x, y, pw, ph);
        if (pw != w) stack.emplace_back(x + pw, y, w - pw, ph);
        if (ph != h) {
            stack.emplace_back(x, y + ph, pw, h - ph);
            if (pw != w) stack.emplace_back(x + pw, y + ph, w - pw, h - ph);
        }
    }
    return cells;
}

}  // namespace imaging
