#pragma once
// A layer that fills and strokes a path given in its own (y-up) space. The
// path is not clipped to the bounds: a freehand stroke's layer may be 1×1
// with the path reaching far beyond it.
#include <optional>
#include <vector>

#include "kit/draw/Layer.h"

namespace kit {

class ShapeLayer : public Layer {
public:
    static std::shared_ptr<ShapeLayer> make() { return std::make_shared<ShapeLayer>(); }
    Kind kind() const override { return Kind::Shape; }

    const Path& path() const { return path_; }
    void setPath(Path p);
    // Default opaque black; nothing means no fill.
    std::optional<Color> fillColor() const { return fillColor_; }
    void setFillColor(std::optional<Color> c);
    FillRule fillRule() const { return fillRule_; }
    void setFillRule(FillRule r);
    // Default none.
    std::optional<Color> strokeColor() const { return strokeColor_; }
    void setStrokeColor(std::optional<Color> c);
    // 0 means no stroke at all (never a hairline).
    double lineWidth() const { return lineWidth_; }
    void setLineWidth(double w);
    LineCap lineCap() const { return lineCap_; }
    void setLineCap(LineCap c);
    LineJoin lineJoin() const { return lineJoin_; }
    void setLineJoin(LineJoin j);
    double miterLimit() const { return miterLimit_; }  // default 10
    void setMiterLimit(double m);
    // Dash and gap lengths in the path's units (not multiples of the width).
    const std::vector<double>& lineDashPattern() const { return lineDashPattern_; }
    void setLineDashPattern(std::vector<double> pattern);
    double lineDashPhase() const { return lineDashPhase_; }
    void setLineDashPhase(double p);
    // The stroked part of the path as fractions of its length, 0…1.
    double strokeStart() const { return strokeStart_; }
    void setStrokeStart(double s);
    double strokeEnd() const { return strokeEnd_; }
    void setStrokeEnd(double e);

    std::optional<AnimValue> valueForKey(const std::string& key) const override;
    bool setValueForKey(const std::string& key, const AnimValue& v) override;

    // Opaque slot for the renderer's converted form of the path, emptied
    // whenever the path changes.
    std::shared_ptr<void>& pathCache() const { return pathCache_; }

private:
    Path path_;
    mutable std::shared_ptr<void> pathCache_;
    std::optional<Color> fillColor_ = Color::black();
    FillRule fillRule_ = FillRule::NonZero;
    std::optional<Color> strokeColor_;
    double lineWidth_ = 1;
    LineCap lineCap_ = LineCap::Butt;
    LineJoin lineJoin_ = LineJoin::Miter;
    double miterLimit_ = 10;
    std::vector<double> lineDashPattern_;
    double lineDashPhase_ = 0;
    double strokeStart_ = 0, strokeEnd_ = 1;
};

}  // namespace kit
