#include "kit/draw/ShapeLayer.h"

#include <algorithm>

namespace kit {

void ShapeLayer::setPath(Path p) {
    if (path_ == p) return;
    path_ = std::move(p);
    pathCache_.reset();
    changed();
}
void ShapeLayer::setFillColor(std::optional<Color> c) {
    if (fillColor_ == c) return;
    fillColor_ = c;
    changed();
}
void ShapeLayer::setFillRule(FillRule r) {
    if (fillRule_ == r) return;
    fillRule_ = r;
    changed();
}
void ShapeLayer::setStrokeColor(std::optional<Color> c) {
    if (strokeColor_ == c) return;
    strokeColor_ = c;
    changed();
}
void ShapeLayer::setLineWidth(double w) {
    auto value = std::max(w, 0.0);
    if (lineWidth_ == value) return;
    lineWidth_ = value;
    changed();
}
void ShapeLayer::setLineCap(LineCap c) {
    if (lineCap_ == c) return;
    lineCap_ = c;
    changed();
}
void ShapeLayer::setLineJoin(LineJoin j) {
    if (lineJoin_ == j) return;
    lineJoin_ = j;
    changed();
}
void ShapeLayer::setMiterLimit(double m) {
    auto value = std::max(m, 1.0);
    if (miterLimit_ == value) return;
    miterLimit_ = value;
    changed();
}
void ShapeLayer::setLineDashPattern(std::vector<double> pattern) {
    if (lineDashPattern_ == pattern) return;
    lineDashPattern_ = std::move(pattern);
    changed();
}
void ShapeLayer::setLineDashPhase(double p) {
    if (lineDashPhase_ == p) return;
    lineDashPhase_ = p;
    changed();
}
void ShapeLayer::setStrokeStart(double s) {
    auto value = std::clamp(s, 0.0, 1.0);
    if (strokeStart_ == value) return;
    strokeStart_ = value;
    changed();
}
void ShapeLayer::setStrokeEnd(double e) {
    auto value = std::clamp(e, 0.0, 1.0);
    if (strokeEnd_ == value) return;
    strokeEnd_ = value;
    changed();
}

std::optional<AnimValue> ShapeLayer::valueForKey(const std::string& key) const {
    if (key == "path") return path_;
    if (key == "lineWidth") return lineWidth_;
    if (key == "strokeStart") return strokeStart_;
    if (key == "strokeEnd") return strokeEnd_;
    if (key == "fillColor") return fillColor_.value_or(Color::clear());
    if (key == "strokeColor") return strokeColor_.value_or(Color::clear());
    return Layer::valueForKey(key);
}

bool ShapeLayer::setValueForKey(const std::string& key, const AnimValue& v) {
    auto num = std::get_if<double>(&v);
    auto col = std::get_if<Color>(&v);
    if (auto p = std::get_if<Path>(&v); p && key == "path")
        setPath(*p);
    else if (num && key == "lineWidth")
        setLineWidth(*num);
    else if (num && key == "strokeStart")
        setStrokeStart(*num);
    else if (num && key == "strokeEnd")
        setStrokeEnd(*num);
    else if (col && key == "fillColor")
        setFillColor(*col);
    else if (col && key == "strokeColor")
        setStrokeColor(*col);
    else
        return Layer::setValueForKey(key, v);
    return true;
}

}  // namespace kit
