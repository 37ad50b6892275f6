#include "objects/ArrHelper.h"

#include <charconv>
#include <cmath>
#include <numbers>

#include "objects/ArrShapes.h"
#include "objects/ObjectHost.h"

namespace objects {

namespace {

// C-locale reading of a whole token; anything else reads as 0.
double readNumber(std::string_view token) {
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);
    double v = 0;
    auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), v);
    if (ec != std::errc() || ptr != token.data() + token.size() || !std::isfinite(v)) return 0;
    return v;
}

// Adds the commands to the path, each coordinate pair mapped by `place`.
template <class Place>
kit::Path buildPath(const ArrHelper::Commands& commands, Place place) {
    kit::Path path;
    for (const auto& c : commands) {
        const auto& n = c.numbers;
        if (c.letter == "M" && n.size() >= 2)
            path.moveTo(place(n[0], n[1]));
        else if (c.letter == "L" && n.size() >= 2)
            path.lineTo(place(n[0], n[1]));
        else if (c.letter == "C" && n.size() >= 6)
            path.cubicTo(place(n[0], n[1]), place(n[2], n[3]), place(n[4], n[5]));
    }
    return path;
}

}  // namespace

double wrapAngle(double a) {
    if (a < -std::numbers::pi) a += 2 * std::numbers::pi;
    if (a > std::numbers::pi) a -= 2 * std::numbers::pi;
    return a;
}

const std::vector<std::string>& ArrHelper::heads() {
    return kArrowHeads;
}
const std::vector<std::string>& ArrHelper::pins() {
    return kCounterPins;
}

const std::vector<ArrHelper::Commands>& ArrHelper::parsedHeads() {
    static const std::vector<Commands> parsed = [] {
        std::vector<Commands> out;
        for (const auto& s : heads()) out.push_back(parse(s));
        return out;
    }();
    return parsed;
}

const std::vector<ArrHelper::Commands>& ArrHelper::parsedPins() {
    static const std::vector<Commands> parsed = [] {
        std::vector<Commands> out;
        for (const auto& s : pins()) out.push_back(parse(s));
        return out;
    }();
    return parsed;
}

ArrHelper::Commands ArrHelper::parse(const std::string& path) {
    // A blank followed by a letter starts a new command.
    std::string marked = path;
    for (size_t i = 0; i + 1 < marked.size(); ++i)
        if (marked[i] == ' ' && std::isalpha(static_cast<unsigned char>(marked[i + 1]))) marked[i] = '>';
    Commands out;
    size_t start = 0;
    while (start <= marked.size()) {
        size_t end = marked.find('>', start);
        if (end == std::string::npos) end = marked.size();
        std::string piece = marked.substr(start, end - start);
        start = end + 1;
        if (piece.empty()) continue;
        Command cmd;
        cmd.letter = piece.substr(0, 1);
        std::string nums;
        for (char ch : piece) {
            if (ch == 'L' || ch == 'M' || ch == 'C') continue;
            nums += ch == ',' ? ' ' : ch;
        }
        size_t p = 0;
        while (p < nums.size()) {
            size_t q = nums.find(' ', p);
            if (q == std::string::npos) q = nums.size();
            if (q > p) cmd.numbers.push_back(readNumber(std::string_view(nums).substr(p, q - p)));
            p = q + 1;
        }
        out.push_back(std::move(cmd));
    }
    return out;
}

kit::Path ArrHelper::headPath(double x, double y, double dx, double dy, int size, const Commands& commands,
                              const ObjectHost& host) {
    const double a = std::atan2(dy, dx), L = std::hypot(dx, dy), d = host.dpr();
    const double k = headScales[std::clamp(size, 0, 9)];
    double kTip = k, kTail = k;
    if (L > 200 * d) {
        // Long arrows: the head grows slightly and the tail thins.
        double f = std::max((L / d - 200) / -1000 + 1, 0.8);
        kTip = k / std::sqrt(f);
        kTail = k * f;
    }
    double Lc = L > 100 * d ? 100 * d : L;
    return buildPath(commands, [&](double px, double py) {
        bool tip = px > 50;
        double pxr = tip ? px - 100 : px;
        kit::Point anchor = tip ? kit::Point{x + dx, y + dy} : kit::Point{x, y};
        double scale = tip ? kTip : kTail;
        double th = std::atan2(py, pxr), dist = std::hypot(pxr, py);
        double r = dist * scale * Lc / 100;
        return kit::Point{anchor.x + r * std::cos(th + a), anchor.y + r * std::sin(th + a)};
    });
}

void ArrHelper::drawHead(kit::ShapeLayer& layer, const kit::Color& color, double x, double y, double dx,
                         double dy, int size, int style, const ObjectHost& host) {
    const auto& table = parsedHeads();
    layer.setStrokeColor(std::nullopt);
    layer.setFillColor(color);
    layer.setPath(
        headPath(x, y, dx, dy, size, table[size_t(std::clamp(style, 0, int(table.size()) - 1))], host));
}

kit::Path ArrHelper::pinPath(double x, double y, double dx, double dy, double radius,
                             const Commands& commands) {
    const double rot = std::atan2(dy, dx) - 1.5707963267948966;
    return buildPath(commands, [&](double px, double py) {
        double th = std::atan2(py - 50, px - 50), d = std::hypot(px - 50, py - 50);
        double r = d * radius / 25;
        return kit::Point{x + r * std::cos(th + rot), y + r * std::sin(th + rot)};
    });
}

kit::Path ArrHelper::pin(double x, double y, double dx, double dy, double radius, int index) {
    const auto& table = parsedPins();
    return pinPath(x, y, dx, dy, radius, table[size_t(std::clamp(index, 0, int(table.size()) - 1))]);
}

void ArrHelper::addCap(kit::Path& path, double x, double y, double dx, double dy, double width, double angle,
                       const std::string& end, const std::string& startCap, const std::string& endCap,
                       const ObjectHost& host) {
    if (host.zoom() < 1) dx = 2 * std::round(dx / 2);
    const double L = std::hypot(dx, dy);
    const bool atStart = end == "start";
    const std::string& cap = atStart ? startCap : endCap;
    if (end != "start" && end != "end") return;
    kit::Point anchor = atStart ? kit::Point{x, y} : kit::Point{x + dx, y + dy};
    if (cap == "arrow") {
        double th = atStart ? std::atan2(-dy, -dx) + angle : std::atan2(dy, dx) - angle;
        double h = L < 20 ? std::numbers::pi / 4 : 50 * std::numbers::pi / 180;
        double len = std::min(0.7 * width + 7 * std::sqrt(width) + 0.2 * host.dpr(), L * 0.25);
        double phi = (std::numbers::pi - h) + th;
        path.moveTo({anchor.x + len * std::cos(phi), anchor.y + len * std::sin(phi)});
        path.lineTo(anchor);
        path.lineTo({anchor.x + len * std::cos(phi + 2 * h), anchor.y + len * std::sin(phi + 2 * h)});
    } else if (cap == "bullet") {
        double r = std::min(L / 10, width * 0.5 + 1);
        path.addEllipse({anchor.x - r, anchor.y - r, 2 * r, 2 * r});
    }
}

kit::Point ArrHelper::circleCenter(kit::Point p0, kit::Point p1, kit::Point p2) {
    double s0 = p0.x * p0.x + p0.y * p0.y, s1 = p1.x * p1.x + p1.y * p1.y, s2 = p2.x * p2.x + p2.y * p2.y;
    double D = 2 * (p0.x * (p1.y - p2.y) + p1.x * (p2.y - p0.y) + p2.x * (p0.y - p1.y));
    return {(s0 * (p1.y - p2.y) + s1 * (p2.y - p0.y) + s2 * (p0.y - p1.y)) / D,
            (s0 * (p2.x - p1.x) + s1 * (p0.x - p2.x) + s2 * (p1.x - p0.x)) / D};
}

kit::Path ArrHelper::arcPath(double x, double y, double dx, double dy, double mx, double my, double direction,
                             double width) {
    kit::Point start{x, y}, end{x + dx, y + dy};
    kit::Point c = circleCenter(start, {mx, my}, end);
    double r = std::hypot(x - c.x, y - c.y);
    double s = direction > 0 ? 2 * std::numbers::pi : -2 * std::numbers::pi;
    double delta = (width * s * 0.5) / (2 * std::numbers::pi * r);
    kit::Path path;
    path.addArc(c, r, std::atan2(y - c.y, x - c.x) - delta, std::atan2(end.y - c.y, end.x - c.x) + delta,
                direction > 0);
    return path;
}

std::pair<double, double> ArrHelper::alignment(double width, const ObjectHost& host) {
    if (host.dpr() != 1) return {0, 0};
    double o1 = std::llround(width) % 2 != 0 ? 0.5 : 0;
    double o2 = double(std::llround(width * 100) % 100) / 100 * 0.5;
    return {o1, o2};
}

void ArrHelper::drawLineArrow(kit::ShapeLayer& layer, const kit::Color& color, double x, double y, double dx,
                              double dy, double width, double mx, double my, double curve, int type,
                              const ObjectHost& host) {
    auto [o1, o2] = alignment(width, host);
    const double th = std::atan2(dy, dx);
    const kit::Point start{x, y}, end{x + dx, y + dy};
    kit::Point c = circleCenter(start, {mx, my}, end);
    // A curve point on the chord has no circle through it: such an arrow is
    // drawn straight rather than along a path of NaN.
    const bool curved = std::fabs(curve) >= 0.01 && std::isfinite(c.x) && std::isfinite(c.y);
    kit::Path path;
    double o = 0, capAngle = 0;
    if (!curved) {
        o = o1 + o2;
        kit::Point h{0.5 * width * std::cos(th), 0.5 * width * std::sin(th)};
        path.moveTo({x + o + h.x, y + o + h.y});
        path.lineTo({end.x + o - h.x, end.y + o - h.y});
    } else {
        double cc = wrapAngle(curve);
        path = arcPath(x, y, dx, dy, mx, my, cc, width);
        double phi = std::atan2(end.y - c.y, end.x - c.x);
        double t = th - phi - 1.57079645;
        if (cc > 0) t += std::numbers::pi;
        t = wrapAngle(t);
        capAngle = t * (1 + (-0.15 * (std::numbers::pi - std::fabs(t))) / std::numbers::pi);
    }
    addCap(path, x + o, y + o, dx, dy, width, capAngle, "start", type == 2 ? "arrow" : "none", "arrow", host);
    addCap(path, x + o, y + o, dx, dy, width, capAngle, "end", type == 2 ? "arrow" : "none", "arrow", host);
    layer.setLineCap(kit::LineCap::Square);
    layer.setLineJoin(kit::LineJoin::Miter);
    layer.setStrokeColor(color);
    layer.setFillColor(std::nullopt);
    layer.setLineWidth(width);
    layer.setPath(std::move(path));
}

}  // namespace objects
