#include "objects/FreehandHelper.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <tuple>

#include "objects/ObjectHost.h"

namespace objects {

namespace {

using Points = FreehandHelper::Points;

// The stroke code was tuned with these truncated constants; keeping them keeps
// the drawn strokes as they were tuned.

double dist(kit::Point a, kit::Point b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}
double dist2(const Point& a, const Point& b) {
    double dx = a.x - b.x, dy = a.y - b.y;
    return dx * dx + dy * dy;
}
double dot(kit::Point a, kit::Point b) {
    return a.x * b.x + a.y * b.y;
}
double norm(kit::Point a) {
    return std::hypot(a.x, a.y);
}
bool hasControl(kit::Point c) {
    return c.x != -999.0 && c.y != -999.0;
}

// The smallest and largest x and y of the samples (the list is not empty).
std::tuple<double, double, double, double> extent(const Points& P) {
    double minX = P[0].x, maxX = P[0].x, minY = P[0].y, maxY = P[0].y;
    for (const auto& q : P) {
        minX = std::min(minX, q.x);
        maxX = std::max(maxX, q.x);
        minY = std::min(minY, q.y);
        maxY = std::max(maxY, q.y);
    }
    return {minX, maxX, minY, maxY};
}

Point freshAt(kit::Point at) {
    return Point::at(at.x, at.y);
}

// A point of `from` moved to a new position, every other field kept.
Point movedTo(const Point& from, kit::Point at) {
    Point p = from;
    p.x = at.x;
    p.y = at.y;
    return p;
}

}  // namespace

kit::Json pointToJson(const Point& p) {
    return kit::Json{{"x", p.x},         {"y", p.y},          {"weight", p.weight},  {"speed", p.speed},
                     {"width", p.width}, {"keep", p.keep},    {"a", {p.a.x, p.a.y}}, {"b", {p.b.x, p.b.y}},
                     {"len", p.len},     {"cumLen", p.cumLen}};
}

std::optional<Point> pointFromJson(const kit::Json& j) {
    if (!j.is_object()) return std::nullopt;
    auto num = [&](const char* key, double& out) {
        auto it = j.find(key);
        if (it == j.end() || !it->is_number()) return false;
        out = it->get<double>();
        return true;
    };
    auto pair = [&](const char* key, kit::Point& out) {
        auto it = j.find(key);
        if (it == j.end() || !it->is_array() || it->size() != 2 || !(*it)[0].is_number() ||
            !(*it)[1].is_number())
            return false;
        out = {(*it)[0].get<double>(), (*it)[1].get<double>()};
        return true;
    };
    Point p;
    auto keep = j.find("keep");
    if (!num("x", p.x) || !num("y", p.y) || !num("weight", p.weight) || !num("speed", p.speed) ||
        !num("width", p.width) || !num("len", p.len) || !num("cumLen", p.cumLen) || !pair("a", p.a) ||
        !pair("b", p.b) || keep == j.end() || !keep->is_boolean())
        return std::nullopt;
    p.keep = keep->get<bool>();
    return p;
}

Points FreehandHelper::measureLengths(Points p) {
    size_t n = p.size();
    if (n <= 1) return p;
    if (n == 2) {
        p[0].weight = p[1].weight = 1.0;
        return p;
    }
    double c = p[0].cumLen;
    for (size_t i = 0; i < n; ++i) {
        double d = i == 0 ? 0.0 : dist(p[i].pos(), p[i - 1].pos());
        p[i].speed = p[i].len = d;
        c += d;
        p[i].cumLen = c;
    }
    double maxS = p[0].speed, minS = p[0].speed;
    for (const auto& q : p) {
        maxS = std::max(maxS, q.speed);
        minS = std::min(minS, q.speed);
    }
    for (auto& q : p) {
        q.weight = 1 - (q.speed - minS) / (maxS - minS);
        // Samples that all moved alike (or not at all) give 0 / 0: count them as
        // middling, as the outline would, so no stage downstream sees a NaN.
        if (std::isnan(q.weight)) q.weight = 0.5;
    }
    p[0].weight = 0.7;
    p[n - 1].weight = p[n - 2].weight;
    return p;
}

Points FreehandHelper::levelStart(Points p, double size) {
    size_t n = p.size();
    if (n < 3) return p;
    for (size_t i = 1; i < n; ++i) {
        double angle = std::atan2(std::fabs(p[i].y - p[0].y), std::fabs(p[i].x - p[0].x));
        double t = angle / -0.174533 + 1;
        if (!(t >= 0)) t = 0;
        if (t > 1) t = 1;
        p[i].y = p[i].y * (1 - t) + p[0].y * t;
        if (i == n - 1 || (p[i].cumLen >= 10 * size && t == 0)) break;
    }
    return p;
}

Points FreehandHelper::thin(const Points& p, double size) {
    size_t n = p.size();
    if (n < 3) return p;
    double threshold = (0.33 * size) * (0.33 * size);
    Points out;
    out.reserve(n);
    out.push_back(p[0]);
    for (size_t i = 1; i + 1 < n; ++i)
        if (dist2(p[i], out.back()) > threshold) out.push_back(p[i]);
    if (out.size() > 1 && dist2(p[n - 1], out.back()) < threshold)
        out.back() = p[n - 1];
    else
        out.push_back(p[n - 1]);
    return out;
}

Points FreehandHelper::rescale(Points p, double x0, double y0, double w0, double h0, double w1, double h1) {
    // A stroke without extent on an axis (a click, a ruler-straight line) has
    // nothing to scale there: keep that axis rather than divide by zero.
    for (auto& q : p) {
        if (w0 != 0) q.x = (q.x - x0) * w1 / w0 + x0;
        if (h0 != 0) q.y = (q.y - y0) * h1 / h0 + y0;
    }
    return p;
}

Points FreehandHelper::smoothPositions(Points p, double amount, double resolution) {
    size_t n = p.size();
    if (n <= 1) return p;
    const double a = amount, r = resolution;
    const double e = 1 - (1 - a) * (1 - a);
    kit::Point s = p[0].pos();
    Points in = p;
    for (size_t i = 0; i < n; ++i) {
        const kit::Point pi = in[i].pos();
        double v = in[i].speed * r;
        double c;
        if (in[i].speed == 0 || v >= 5 || std::isnan(v)) {
            c = a;
        } else {
            double f = v / -3.0 + 1.666666;
            if (f >= 1)
                f = 0.5;
            else if (f >= 0)
                f = f * 0.5;
            else
                f = 0;
            c = f * e + (1 - f) * a;
        }
        if (i + 4 >= n) c = std::pow(c / 1.5, double(int(i) - int(n) + 5));
        double ds = dist(s, pi);
        if (ds > 10 / r) c = c * 10 / r / ds;
        if (i < n - 1) {
            kit::Point next = in[i + 1].pos();
            double dn = dist(pi, next);
            if (ds * dn == 0) {
                c = c * 1.03;
            } else {
                double cosv = dot(s - pi, next - pi) / ds / dn;
                if (cosv > 0.3)
                    c = 0;
                else if (cosv < -0.966)
                    c = c * 1.03;
            }
        }
        s = s * c + pi * (1 - c);
        p[i].x = s.x;
        p[i].y = s.y;
    }
    return p;
}

Points FreehandHelper::controlPoints(Points p) {
    size_t n = p.size();
    if (n <= 1) return p;
    for (size_t i = 1; i + 1 < n; ++i) {
        const kit::Point P = p[i].pos(), Q = p[i - 1].pos(), N = p[i + 1].pos();
        double cosv = dot(N - P, Q - P) / dist(P, Q) / dist(P, N);
        double t = cosv > -0.1 ? 0.09999999999999999 : (1 - p[i].weight) * 0.040000000000000036 + 0.3;
        double l = dist(N, Q);
        // Neighbours on one spot give no direction: the curve then runs
        // through the point without tangent handles instead of through NaN.
        kit::Point u = l > 0 ? (N - Q) * (1 / l) : kit::Point{0, 0};
        p[i].b = P + u * (dist(N, P) * t);
        p[i].a = P - u * (dist(P, Q) * t);
    }
    p[0].a = p[0].pos();
    p[n - 1].b = p[n - 1].pos();
    if (n == 2) {
        kit::Point mid = (p[0].pos() + p[1].pos()) * 0.5;
        p[0].b = mid;
        p[1].a = mid;
    } else {
        p[0].b = p[1].a * 0.2 + p[0].pos() * 0.8;
        p[n - 1].a = p[n - 2].b * 0.2 + p[n - 1].pos() * 0.8;
    }
    return p;
}

Points FreehandHelper::smoothWeights(Points p) {
    if (p.size() < 3) return p;
    double w = p[0].weight;
    for (auto& q : p) {
        w = 0.65 * w + 0.35 * q.weight;
        q.weight = w;
    }
    return p;
}

Points FreehandHelper::splitSegment(const Point& a, const Point& b, const ObjectHost& host) {
    double d = 1.2 * dist(b.pos(), a.pos());
    double g = 2 * host.dpr();
    if (!std::isfinite(d) || !(g > 0) || g > d) return {a};
    // Pointer input never makes segments this long; the cap keeps a corrupt
    // stroke from asking for an unbounded number of samples.
    double kd = std::min(std::ceil(d / g), 4096.0);
    int k = int(kd);
    Points out;
    out.reserve(size_t(k));
    for (int i = 0; i < k; ++i) {
        double t = double(i) / k, mt = 1 - t;
        kit::Point pos = a.pos() * (mt * mt * mt) + a.b * (3 * mt * mt * t) + b.a * (3 * mt * t * t) +
                         b.pos() * (t * t * t);
        Point q = freshAt(pos);
        double f = t * 0.25 + (0.5 - 0.5 * std::cos(t * std::numbers::pi)) * 0.75;
        q.weight = f * b.weight + (1 - f) * a.weight;
        out.push_back(q);
    }
    return out;
}

Points FreehandHelper::segmentize(const Points& p, const ObjectHost& host) {
    if (p.size() <= 1) return p;
    Points out;
    out.reserve(p.size() * 4);
    for (size_t i = 0; i + 1 < p.size(); ++i) {
        Points part = splitSegment(p[i], p[i + 1], host);
        out.insert(out.end(), part.begin(), part.end());
    }
    out.push_back(p.back());
    out.front().b = p.front().b;
    return out;
}

Points FreehandHelper::weightScale(Points p, double low, double high, double amount) {
    if (p.empty()) return p;
    double maxW = p[0].weight, minW = p[0].weight;
    for (const auto& q : p) {
        maxW = std::max(maxW, q.weight);
        minW = std::min(minW, q.weight);
    }
    if (maxW == minW) return p;
    for (auto& q : p)
        q.weight =
            ((q.weight - minW) * (high - low) / (maxW - minW) + low) * amount + q.weight * (1 - amount);
    return p;
}

Points FreehandHelper::smoothCenterLine(Points p, double smoothing, double resolution,
                                        const ObjectHost& host) {
    p = smoothPositions(std::move(p), smoothing, resolution);
    p = smoothPositions(std::move(p), smoothing * 0.8, resolution);
    p = smoothPositions(std::move(p), smoothing * 0.6, resolution);
    p = thin(p, 10 / resolution);
    p = controlPoints(std::move(p));
    p = smoothWeights(smoothWeights(std::move(p)));
    p = segmentize(p, host);
    p = smoothWeights(smoothWeights(std::move(p)));
    p = weightScale(std::move(p), 0, 1.0, 0.3);
    p = smoothPositions(std::move(p), smoothing * 0.6, resolution);
    return smoothPositions(std::move(p), smoothing * 0.2, resolution);
}

double FreehandHelper::sidePoints(double baseWidth, const Point& p, const Point& previous, const Point& next,
                                  double variability, Points& left, Points& right) {
    const double W = baseWidth, v = variability;
    double half = (2 * W * p.weight * v + (1 - v) * W) * 0.5;
    kit::Point dir = next.pos() - previous.pos();
    double l = std::max(norm(dir), 0.01);
    kit::Point nrm{dir.y * half / l, -dir.x * half / l};
    auto side = [&](kit::Point at) {
        Point q = freshAt(at);
        q.weight = p.weight;
        q.speed = p.speed;
        q.width = 2 * half;
        return q;
    };
    left.push_back(side(p.pos() - nrm));
    right.push_back(side(p.pos() + nrm));
    return 2 * half;
}

Points FreehandHelper::capPoints(const Point& p, bool start, int style) {
    struct Row {
        double o, k;
    };
    static const std::vector<Row> s1{{-89, 1}, {-66, 1.05}, {-35, 1}, {35, 1}, {66, 1.05}, {89, 1}};
    static const std::vector<Row> s2{{-89, 1}, {-66, 1.06}, {-45, 1}, {0, 0.65},
                                     {45, 1},  {66, 1.06},  {89, 1}};
    static const std::vector<Row> s3{{-89, 1},    {-66, 1.08}, {-49, 0.993}, {-39, 0.666}, {0, 0.693},
                                     {39, 0.666}, {49, 0.993}, {66, 1.08},   {89, 1}};
    static const std::vector<Row> round{{-89, 1}, {-66, 1.01}, {-35, 1}, {0, 1},
                                        {35, 1},  {66, 1.01},  {89, 1}};
    const auto& rows = style == 1 ? s1 : style == 2 ? s2 : style == 3 ? s3 : round;
    kit::Point c = start ? p.b : p.a;
    double r = p.width * 0.5;
    double h = std::atan2(p.y - c.y, p.x - c.x) * 180 / std::numbers::pi;
    Points out;
    out.reserve(rows.size());
    for (const auto& row : rows) {
        double ang = (row.o + h) * std::numbers::pi / 180;
        out.push_back(freshAt(p.pos() + kit::Point{std::cos(ang), std::sin(ang)} * (r * row.k)));
    }
    return out;
}

Points FreehandHelper::outline(const Points& in, double baseWidth, double variability, int capStyle) {
    size_t n = in.size();
    if (n < 2) return in;
    Points p = in;
    const double W = baseWidth;
    double v = variability;
    double L = p[n - 1].cumLen;
    if (!((n == 2 && p[0].weight == p[1].weight) || L == 0)) {
        double x = (L / W - 1) * 0.25;
        if (!(x >= 0)) x = 0;
        if (x > 1) x = 1;
        v = v * x;
    }
    for (auto& q : p)
        if (std::isnan(q.weight)) q.weight = 0.5;

    Points left, right;
    left.reserve(n * 2);
    right.reserve(n * 2);
    p[0].width = sidePoints(W, p[0], p[0], p[1], v, left, right);
    for (size_t i = 1; i + 1 < n; ++i) {
        double w = sidePoints(W, p[i], p[i - 1], p[i + 1], v, left, right);
        p[i].width = w;
        kit::Point P = p[i].pos(), Q = p[i - 1].pos(), N = p[i + 1].pos();
        double l1 = dist(P, Q), l2 = dist(P, N);
        if (l1 * l2 != 0 && dot(Q - P, N - P) / l1 / l2 > 0) {
            double theta = std::atan2(P.y - Q.y, P.x - Q.x);
            for (int k = 1; k <= 3; ++k) {
                double al = (0.5 - k * 0.25) * std::numbers::pi + theta,
                       ar = (k * 0.25 - 0.5) * std::numbers::pi + theta;
                Point jl = movedTo(p[i], P + kit::Point{std::cos(al), std::sin(al)} * (w * 0.5));
                Point jr = movedTo(p[i], P + kit::Point{std::cos(ar), std::sin(ar)} * (w * 0.5));
                jl.width = jr.width = w;
                left.push_back(jl);
                right.push_back(jr);
            }
        }
    }
    p[n - 1].width = sidePoints(W, p[n - 1], p[n - 2], p[n - 1], v, left, right);

    std::reverse(left.begin(), left.end());
    left = thin(left, W);
    right = thin(right, W);
    Points out;
    out.reserve(left.size() + right.size() + 20);
    out.insert(out.end(), right.begin(), right.end());
    Points endCap = capPoints(p[n - 1], false, capStyle);
    out.insert(out.end(), endCap.begin(), endCap.end());
    out.insert(out.end(), left.begin(), left.end());
    Points startCap = capPoints(p[0], true, capStyle);
    out.insert(out.end(), startCap.begin(), startCap.end());
    return controlPoints(std::move(out));
}

kit::Path FreehandHelper::bezierPath(const Points& p, const std::optional<services::Rect>& origin) {
    kit::Path path;
    if (p.size() <= 1) return path;
    kit::Point o = origin ? kit::Point{origin->x1, origin->y1} : kit::Point{0, 0};
    path.moveTo(p[0].pos() - o);
    for (size_t i = 1; i < p.size(); ++i) {
        kit::Point c1 = hasControl(p[i - 1].b) ? p[i - 1].b : p[i - 1].pos();
        kit::Point c2 = hasControl(p[i].a) ? p[i].a : p[i].pos();
        path.cubicTo(c1 - o, c2 - o, p[i].pos() - o);
    }
    return path;
}

std::map<std::string, FreehandHelper::StatValue> FreehandHelper::strokeStats(const Points& p, double scale) {
    std::map<std::string, StatValue> out;
    if (p.empty()) return out;
    auto round2 = [](double x) { return std::round(x * 100) / 100; };
    std::vector<double> speeds;
    speeds.reserve(p.size());
    double sum = 0;
    for (const auto& q : p) {
        speeds.push_back(q.speed);
        sum += q.speed;
    }
    std::sort(speeds.begin(), speeds.end());
    out["length"] = round2(p.back().cumLen) * scale;
    out["maxSpeed"] = round2(speeds.back()) * scale;
    out["avgSpeed"] = round2(sum / double(p.size())) * scale;
    out["medSpeed"] = round2(speeds[p.size() / 2]) * scale;
    out["points"] = int(p.size());
    return out;
}

double FreehandHelper::correctionStrength(const std::string& word) {
    return 1 - std::pow(2.0, -double(word.size()));
}

std::pair<Points, double> FreehandHelper::fitEllipse(const Points& P, double s) {
    size_t n = P.size();
    if (n <= 9) return {P, 0.0};
    auto [minX, maxX, minY, maxY] = extent(P);
    double cx = (maxX + minX) * 0.5, cy = (maxY + minY) * 0.5;
    double rx = (maxX - minX) * 0.5;
    double k = ((maxY - minY) * 0.5) / rx;
    double ry = k * rx;
    // A flat or upright stroke has no ellipse to fit (the ratio is 0 or
    // infinite); leave it alone rather than fill it with NaN.
    if (!(rx > 0) || !(ry > 0) || !std::isfinite(k)) return {P, 0.0};

    Points out;
    out.reserve(n);
    double E = 0;
    for (const auto& q : P) {
        double dx = q.x - cx, dy = (q.y - cy) / k;
        double d = std::max(std::sqrt(dx * dx + dy * dy), 0.1);
        E += std::fabs(rx / d - 1) / double(n);
        double nx = (dx * rx / d + cx) * s + q.x * (1 - s);
        double ny = ((dy * rx / d) * k + cy) * s + q.y * (1 - s);
        out.push_back(movedTo(q, {nx, ny}));
    }

    Points T = thin(P, std::max(maxX - minX, maxY - minY) / 20);
    size_t m = T.size();
    double minCos = 999.0, turn = 0;
    if (m >= 11) {
        size_t tenth = m / 10;
        size_t from = tenth, to = m - 2 * tenth;
        size_t c = to - from;
        double sum = 0, prev = 0.0;
        for (size_t j = 0; j < c; ++j) {
            const Point& u = T[from + j];
            const Point& A = T[from + (j >= 2 ? j - 2 : 0)];
            const Point& B = T[from + (j >= 1 ? j - 1 : 0)];
            kit::Point g1 = A.pos() - B.pos(), g2 = B.pos() - u.pos();
            double l = norm(g1) * norm(g2);
            if (l > 0) minCos = std::min(minCos, dot(g1, g2) / l);
            double phi = std::atan2(u.y - cy, u.x - cx) + 12.56607704;
            if (prev != 0.0) sum += phi > prev ? 1 : -1;
            prev = phi;
        }
        turn = std::fabs(sum) / double(c - 1);
    }
    double score = (turn / 0.9) * (2 - 4 * E) * (minCos / 0.7);
    double r = std::max(rx, ry);
    if (r * r < dist2(P.back(), P.front())) score = 0.01;
    return {out, score};
}

std::pair<Points, double> FreehandHelper::fitRectangle(const Points& P, double s) {
    size_t n = P.size();
    if (n <= 9) return {P, 0.0};
    auto [minX, maxX, minY, maxY] = extent(P);
    double w = maxX - minX, h = maxY - minY, D = std::max(w, h);
    if (!(D > 0)) return {P, 0.0};
    Points T = thin(P, D / 20);
    double x1 = minX + w / 3, x2 = (minX + w) - w / 3, y1 = minY + h / 3, y2 = (minY + h) - h / 3;
    std::vector<double> left, right, low, high;
    for (const auto& q : T) {
        if (x1 < q.x && q.x < x2) {
            if (q.y < y1) low.push_back(q.y);
            if (q.y > y2) high.push_back(q.y);
        }
        if (y1 < q.y && q.y < y2) {
            if (q.x < x1) left.push_back(q.x);
            if (q.x > x2) right.push_back(q.x);
        }
    }
    auto median = [](std::vector<double>& v) {
        if (v.empty()) return 0.0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    double L = median(left), R = median(right), Ylo = median(low), Yhi = median(high);
    if (L == 0.0 || R == 0.0 || Ylo == 0.0 || Yhi == 0.0) return {P, 0.0};
    double cx = (L + R) * 0.5, cy = (Yhi + Ylo) * 0.5;
    double hw = (R - L) * 0.5, hh = (Yhi - Ylo) * 0.5;
    const double inf = std::numeric_limits<double>::infinity();

    Points out;
    out.reserve(n);
    double E = 0;
    for (const auto& q : P) {
        const double x = q.x, y = q.y;
        double xa = std::fabs(x - L) < hw ? L * s + (1 - s) * x : x;
        double xb = std::fabs(x - R) < hw ? (1 - s) * xa + s * R : xa;
        double ya = std::fabs(y - Yhi) < hh ? Yhi * s + (1 - s) * y : y;
        double yb = std::fabs(y - Ylo) < hh ? (1 - s) * ya + s * Ylo : ya;
        kit::Point c1{xb, yb};

        // The ray from the centre through the sample meets each side line; a
        // sample level with the centre never meets the low and high sides, one
        // plumb with it never meets the left and right ones.
        kit::Point m = q.pos() * 0.5 + kit::Point{cx, cy} * 0.5;
        kit::Point pl, pr, plo, phi;
        double dL = inf, dR = inf, dlo = inf, dhi = inf;
        auto d2 = [&](kit::Point a) { return std::round(dot(a - m, a - m)); };
        if (x - cx != 0) {
            pl = {L, (L - cx) * (y - cy) / (x - cx) + cy};
            pr = {R, (R - cx) * (y - cy) / (x - cx) + cy};
            dL = d2(pl);
            dR = d2(pr);
        }
        if (y - cy != 0) {
            plo = {(x - cx) * (Ylo - cy) / (y - cy) + cx, Ylo};
            phi = {(x - cx) * (Yhi - cy) / (y - cy) + cx, Yhi};
            dlo = d2(plo);
            dhi = d2(phi);
        }
        kit::Point c2 = q.pos();
        if (dL < dR && dL < dlo && dL < dhi)
            c2 = q.pos() * (1 - s) + pl * s;
        else if (dR < dL && dR < dlo && dR < dhi)
            c2 = q.pos() * (1 - s) + pr * s;
        else if (dhi < dL && dhi < dR && dhi < dlo)
            c2 = q.pos() * (1 - s) + phi * s;
        else if (std::isfinite(dlo))
            c2 = q.pos() * (1 - s) + plo * s;
        kit::Point np = dist(c1, q.pos()) < dist(c2, q.pos()) ? c1 : c2;
        E += (dist(np, q.pos()) / double(n)) / D;
        out.push_back(movedTo(q, np));
    }
    double score = E / -0.015 + 2.0;
    if ((D * 0.5) * (D * 0.5) < dist2(P.back(), P.front())) score = 0.01;
    return {out, score};
}

}  // namespace objects
