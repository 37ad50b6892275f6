#pragma once
// A retained layer tree with y-up geometry (origin bottom-left). A layer's
// own space is its bounds; it sits in its superlayer at `position`, which is
// where its anchor point (unit coordinates of the bounds) lands, after the
// affine transform about that anchor. Property changes show at once: there
// are no implicit animations (see kit/draw/Animation.h for explicit ones).
//
// Layers are held by std::shared_ptr: a superlayer owns its sublayers, and
// callers keep their own references to the layers they configure.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/draw/Animation.h"
#include "kit/draw/Path.h"

namespace kit {

class Layer;
using LayerPtr = std::shared_ptr<Layer>;

// Where contents sit in the bounds. Top means the maximum y (visually top).
enum class ContentsGravity {
    Center,
    Top,
    Bottom,
    Left,
    Right,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
    Resize,
    ResizeAspect,
    ResizeAspectFill
};
enum class ScalingFilter { Linear, Nearest };
enum class CompositingFilter { None, Multiply, Screen };

class Layer {
public:
    enum class Kind { Plain, Shape, Text, Gradient };

    Layer();
    virtual ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    static LayerPtr make() { return std::make_shared<Layer>(); }
    virtual Kind kind() const { return Kind::Plain; }

    std::string name;  // for debugging and lookups; not drawn

    // ---- Geometry -------------------------------------------------------
    Rect bounds() const { return bounds_; }
    void setBounds(const Rect& r);
    Point position() const { return position_; }
    void setPosition(Point p);
    Point anchorPoint() const { return anchorPoint_; }  // default (0.5, 0.5)
    void setAnchorPoint(Point p);
    // The bounds as placed in the superlayer (after the transform).
    Rect frame() const;
    // Sets the bounds size (origin kept) and the position so that the
    // untransformed layer covers r.
    void setFrame(const Rect& r);
    AffineTransform transform() const { return transform_; }
    void setTransform(const AffineTransform& t);
    // Sublayers draw in order of zPosition; equal values keep insertion order.
    double zPosition() const { return zPosition_; }
    void setZPosition(double z);
    // When true, sublayers are placed with y down from the top of the bounds.
    bool isGeometryFlipped() const { return geometryFlipped_; }
    void setGeometryFlipped(bool f);

    // Maps a point of this layer's space into its superlayer's space, and back.
    AffineTransform toSuperlayer() const;
    // Converts a point of this layer's space into `other`'s space (both in one
    // tree; nullptr means the root layer's space).
    Point convertPoint(Point p, const Layer* other) const;

    // ---- Appearance -----------------------------------------------------
    bool isHidden() const { return hidden_; }
    void setHidden(bool h);
    // Group opacity: the subtree is composited first, then blended.
    double opacity() const { return opacity_; }
    void setOpacity(double o);
    std::optional<Color> backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<Color> c);
    // A tiled image in place of the background colour (a pattern colour):
    // upright tiles of the image's point size from the bounds' bottom-left.
    const Image& backgroundPattern() const { return backgroundPattern_; }
    void setBackgroundPattern(Image tile);
    // A rectangle of the bounds (layer space) that the background colour or
    // pattern leaves unpainted, so what lies beneath shows through it there;
    // none: the background fills the whole bounds.
    const std::optional<Rect>& backgroundCutout() const { return backgroundCutout_; }
    void setBackgroundCutout(std::optional<Rect> r);
    // The border is drawn inside the bounds, above contents and sublayers.
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double w);
    Color borderColor() const { return borderColor_; }
    void setBorderColor(Color c);
    // Rounds background and border; clips contents and sublayers only with masksToBounds.
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double r);
    bool masksToBounds() const { return masksToBounds_; }
    void setMasksToBounds(bool m);
    // The mask's alpha (placed in this layer's space by its own geometry)
    // multiplies this layer's subtree.
    LayerPtr mask() const { return mask_; }
    void setMask(LayerPtr m);

    // Shadow: a blurred copy of the subtree's alpha (or of shadowPath),
    // offset in y-up, so (0, -3) falls below. The radius is about 2σ.
    Color shadowColor() const { return shadowColor_; }
    void setShadowColor(Color c);
    double shadowOpacity() const { return shadowOpacity_; }  // default 0: no shadow
    void setShadowOpacity(double o);
    Size shadowOffset() const { return shadowOffset_; }  // default (0, -3)
    void setShadowOffset(Size s);
    double shadowRadius() const { return shadowRadius_; }  // default 3
    void setShadowRadius(double r);
    const std::optional<Path>& shadowPath() const { return shadowPath_; }
    void setShadowPath(std::optional<Path> p);

    // Contents image, drawn upright (its top row at the top of the bounds).
    const Image& contents() const { return contents_; }
    void setContents(Image img);
    ContentsGravity contentsGravity() const { return contentsGravity_; }  // default Resize
    void setContentsGravity(ContentsGravity g);
    // Pixels per point of the contents image, for the non-resizing gravities.
    double contentsScale() const { return contentsScale_; }
    void setContentsScale(double s);
    ScalingFilter magnificationFilter() const { return magnificationFilter_; }
    void setMagnificationFilter(ScalingFilter f);
    ScalingFilter minificationFilter() const { return minificationFilter_; }
    void setMinificationFilter(ScalingFilter f);

    // Render the subtree at `rasterizationScale` pixels per unit of this
    // layer's space and draw that bitmap magnified with the magnification filter.
    bool shouldRasterize() const { return shouldRasterize_; }
    void setShouldRasterize(bool r);
    double rasterizationScale() const { return rasterizationScale_; }
    void setRasterizationScale(double s);
    CompositingFilter compositingFilter() const { return compositingFilter_; }
    void setCompositingFilter(CompositingFilter f);

    // ---- Tree -----------------------------------------------------------
    Layer* superlayer() const { return superlayer_; }
    const std::vector<LayerPtr>& sublayers() const { return sublayers_; }
    // Moves the layer here (removing it from any previous superlayer).
    void addSublayer(LayerPtr layer);
    void insertSublayer(LayerPtr layer, size_t index);
    void insertSublayerBelow(LayerPtr layer, const Layer* sibling);
    void insertSublayerAbove(LayerPtr layer, const Layer* sibling);
    void replaceSublayer(const Layer* old, LayerPtr with);
    void removeFromSuperlayer();
    void removeAllSublayers();
    // Sublayers in drawing order: a stable sort by zPosition.
    std::vector<Layer*> sortedSublayers() const;

    // ---- Redisplay ------------------------------------------------------
    // Any change in the tree calls the root's observer (a view repaints).
    void setNeedsDisplay();
    void setDisplayObserver(std::function<void()> observer) { displayObserver_ = std::move(observer); }
    // Grows with every change of this layer or anything below it (the
    // renderer keys its rasterization cache on it).
    uint64_t revision() const { return revision_; }
    // Opaque slot for the renderer's cached bitmap of this subtree.
    std::shared_ptr<void>& renderCache() const { return renderCache_; }
    // Opaque slot for the renderer's cached composited group (and shadow) of
    // this subtree, reused while neither the subtree nor its scale changes.
    std::shared_ptr<void>& groupCache() const { return groupCache_; }

    // ---- Animations -----------------------------------------------------
    // Replaces an animation under the same key (its completion gets false).
    void addAnimation(const Animation& anim, const std::string& key);
    void removeAnimation(const std::string& key);
    void removeAllAnimations();
    bool hasAnimation(const std::string& key) const;
    std::vector<std::string> animationKeys() const;

    // Steps this layer's animations to `now` (the animator calls it); false
    // when none remain.
    bool stepAnimations(double now);

    // Property access by key path (see AnimValue); false / nothing for an
    // unknown key or a value of the wrong kind.
    virtual std::optional<AnimValue> valueForKey(const std::string& key) const;
    virtual bool setValueForKey(const std::string& key, const AnimValue& v);

    // The value drawn now: the animated one while an animation runs on key.
    template <class T>
    T presented(const char* key, const T& model) const {
        if (presentation_.empty()) return model;
        auto it = presentation_.find(key);
        if (it == presentation_.end()) return model;
        if (auto* v = std::get_if<T>(&it->second)) return *v;
        return model;
    }

protected:
    void changed() { setNeedsDisplay(); }

private:
    struct RunningAnimation;

    void attach(LayerPtr layer, size_t index);
    void detachChild(const Layer* child);

    Rect bounds_;
    Point position_;
    Point anchorPoint_{0.5, 0.5};
    AffineTransform transform_;
    double zPosition_ = 0;
    bool geometryFlipped_ = false;

    bool hidden_ = false;
    double opacity_ = 1;
    std::optional<Color> backgroundColor_;
    Image backgroundPattern_;
    std::optional<Rect> backgroundCutout_;
    double borderWidth_ = 0;
    Color borderColor_ = Color::black();
    double cornerRadius_ = 0;
    bool masksToBounds_ = false;
    LayerPtr mask_;

    Color shadowColor_ = Color::black();
    double shadowOpacity_ = 0;
    Size shadowOffset_{0, -3};
    double shadowRadius_ = 3;
    std::optional<Path> shadowPath_;

    Image contents_;
    ContentsGravity contentsGravity_ = ContentsGravity::Resize;
    double contentsScale_ = 1;
    ScalingFilter magnificationFilter_ = ScalingFilter::Linear;
    ScalingFilter minificationFilter_ = ScalingFilter::Linear;
    bool shouldRasterize_ = false;
    double rasterizationScale_ = 1;
    CompositingFilter compositingFilter_ = CompositingFilter::None;

    Layer* superlayer_ = nullptr;
    Layer* maskOwner_ = nullptr;  // the layer this one masks
    std::vector<LayerPtr> sublayers_;
    std::function<void()> displayObserver_;
    uint64_t revision_ = 0;
    mutable std::shared_ptr<void> renderCache_;
    mutable std::shared_ptr<void> groupCache_;

    std::vector<std::unique_ptr<RunningAnimation>> animations_;
    std::map<std::string, AnimValue> presentation_;
};

}  // namespace kit
