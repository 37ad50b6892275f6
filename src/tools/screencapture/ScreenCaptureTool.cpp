#include "tools/screencapture/ScreenCaptureTool.h"

#include <cmath>
#include <sstream>

#include "kit/base/Parse.h"

namespace tool {

namespace {

std::optional<kit::Rect> parseRect(const std::string& text) {
    double v[4];
    std::stringstream in(text);
    std::string part;
    int n = 0;
    while (std::getline(in, part, ',')) {
        if (n == 4) return std::nullopt;
        auto d = kit::parseDouble(part);
        if (!d || !std::isfinite(*d)) return std::nullopt;
        v[n++] = *d;
    }
    if (n != 4 || v[2] <= 0 || v[3] <= 0) return std::nullopt;
    return kit::Rect(v[0], v[1], v[2], v[3]);
}

std::string number(double v) {
    std::ostringstream out;
    out.precision(10);
    out << v;
    return out.str();
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-x" || a == "-o") continue;
        if (a == "-i") {
            o.mode = Options::Mode::area;
        } else if (a == "-w") {
            o.mode = Options::Mode::window;
        } else if (a == "-s") {
            o.mode = Options::Mode::selection;
        } else if (a.rfind("-R", 0) == 0) {
            std::string value = a.size() > 2 ? a.substr(2) : (i + 1 < args.size() ? args[++i] : "");
            o.rect = parseRect(value);
            if (!o.rect) {
                o.error = "bad rectangle for -R: " + value;
                return o;
            }
            o.mode = Options::Mode::rect;
        } else if (!a.empty() && a[0] == '-') {
            o.error = "unknown option " + a;
            return o;
        } else if (o.path.empty()) {
            o.path = a;
        } else {
            o.error = "more than one file given";
            return o;
        }
    }
    if (o.path.empty()) o.error = "no file given";
    return o;
}

std::string rectText(const kit::Rect& r) {
    return "(" + number(r.x()) + ", " + number(r.y()) + ", " + number(r.width()) + ", " + number(r.height()) +
           ")";
}

}  // namespace tool
