#include "kit/draw/Layer.h"

#include <algorithm>

namespace kit {

struct Layer::RunningAnimation {
    std::string key;
    Animation anim;
    AnimValue from, to;
    double begin = 0;
    bool finished = false;  // reached its end, kept because not removed on completion
};

Layer::Layer() = default;

Layer::~Layer() {
    for (auto& s : sublayers_) s->superlayer_ = nullptr;
    if (mask_) mask_->maskOwner_ = nullptr;
    if (!animations_.empty()) Animator::detach(this);
}

// ---- Geometry ---------------------------------------------------------------

void Layer::setBounds(const Rect& r) {
    if (bounds_ == r) return;
    bounds_ = r;
    changed();
}
void Layer::setPosition(Point p) {
    if (position_ == p) return;
    position_ = p;
    changed();
}
void Layer::setAnchorPoint(Point p) {
    if (anchorPoint_ == p) return;
    anchorPoint_ = p;
    changed();
}

AffineTransform Layer::toSuperlayer() const {
    // Layer space → anchor at the origin → transform → position.
    Point anchor{bounds_.origin.x + anchorPoint_.x * bounds_.size.width,
                 bounds_.origin.y + anchorPoint_.y * bounds_.size.height};
    return AffineTransform::translation(-anchor.x, -anchor.y)
        .concat(transform_)
        .concat(AffineTransform::translation(position_.x, position_.y));
}

Rect Layer::frame() const {
    return toSuperlayer().apply(bounds_);
}

void Layer::setFrame(const Rect& r) {
    Rect f = r.standardized();
    Point position{f.origin.x + anchorPoint_.x * f.size.width, f.origin.y + anchorPoint_.y * f.size.height};
    if (bounds_.size == f.size && position_ == position) return;
    bounds_.size = f.size;
    position_ = position;
    changed();
}

void Layer::setTransform(const AffineTransform& t) {
    if (transform_ == t) return;
    transform_ = t;
    changed();
}
void Layer::setZPosition(double z) {
    if (zPosition_ == z) return;
    zPosition_ = z;
    changed();
}
void Layer::setGeometryFlipped(bool f) {
    if (geometryFlipped_ == f) return;
    geometryFlipped_ = f;
    changed();
}

// The map from a sublayer's placement space to this layer's space: identity,
// or a flip about the bounds' middle when sublayers are placed y down.
static AffineTransform sublayerSpace(const Layer& l) {
    if (!l.isGeometryFlipped()) return {};
    Rect b = l.bounds();
    return {1, 0, 0, -1, 0, b.minY() + b.maxY()};
}

// From a layer's space to its root layer's space.
static AffineTransform toRoot(const Layer* l) {
    AffineTransform t;
    for (; l->superlayer(); l = l->superlayer())
        t = t.concat(l->toSuperlayer()).concat(sublayerSpace(*l->superlayer()));
    return t;
}

Point Layer::convertPoint(Point p, const Layer* other) const {
    Point r = toRoot(this).apply(p);
    return other ? toRoot(other).inverted().apply(r) : r;
}

// ---- Appearance ---------------------------------------------------------------

void Layer::setHidden(bool h) {
    if (hidden_ == h) return;
    hidden_ = h;
    changed();
}
void Layer::setOpacity(double o) {
    auto value = std::clamp(o, 0.0, 1.0);
    if (opacity_ == value) return;
    opacity_ = value;
    changed();
}
void Layer::setBackgroundColor(std::optional<Color> c) {
    if (backgroundColor_ == c) return;
    backgroundColor_ = c;
    changed();
}
// The same pixel storage at the same scale is the same picture: images copy
// on write, so a picture changed since gets storage of its own.
static bool sameImage(const Image& a, const Image& b) {
    return a.isNull() == b.isNull() && a.storage().lock() == b.storage().lock() && a.width() == b.width() &&
           a.height() == b.height() && a.scale() == b.scale();
}

void Layer::setBackgroundPattern(Image tile) {
    if (sameImage(backgroundPattern_, tile)) return;
    backgroundPattern_ = std::move(tile);
    changed();
}
void Layer::setBackgroundCutout(std::optional<Rect> r) {
    if (backgroundCutout_ == r) return;
    backgroundCutout_ = r;
    changed();
}
void Layer::setBorderWidth(double w) {
    auto value = std::max(w, 0.0);
    if (borderWidth_ == value) return;
    borderWidth_ = value;
    changed();
}
void Layer::setBorderColor(Color c) {
    if (borderColor_ == c) return;
    borderColor_ = c;
    changed();
}
void Layer::setCornerRadius(double r) {
    auto value = std::max(r, 0.0);
    if (cornerRadius_ == value) return;
    cornerRadius_ = value;
    changed();
}
void Layer::setMasksToBounds(bool m) {
    if (masksToBounds_ == m) return;
    masksToBounds_ = m;
    changed();
}
void Layer::setMask(LayerPtr m) {
    if (m.get() == this) return;
    if (mask_) mask_->maskOwner_ = nullptr;
    if (m) {
        m->removeFromSuperlayer();
        m->maskOwner_ = this;
    }
    mask_ = std::move(m);
    changed();
}
void Layer::setShadowColor(Color c) {
    if (shadowColor_ == c) return;
    shadowColor_ = c;
    changed();
}
void Layer::setShadowOpacity(double o) {
    auto value = std::clamp(o, 0.0, 1.0);
    if (shadowOpacity_ == value) return;
    shadowOpacity_ = value;
    changed();
}
void Layer::setShadowOffset(Size s) {
    if (shadowOffset_ == s) return;
    shadowOffset_ = s;
    changed();
}
void Layer::setShadowRadius(double r) {
    auto value = std::max(r, 0.0);
    if (shadowRadius_ == value) return;
    shadowRadius_ = value;
    changed();
}
void Layer::setShadowPath(std::optional<Path> p) {
    if (shadowPath_ == p) return;
    shadowPath_ = std::move(p);
    changed();
}
void Layer::setContents(Image img) {
    if (sameImage(contents_, img)) return;
    contents_ = std::move(img);
    changed();
}
void Layer::setContentsGravity(ContentsGravity g) {
    if (contentsGravity_ == g) return;
    contentsGravity_ = g;
    changed();
}
void Layer::setContentsScale(double s) {
    auto value = s > 0 ? s : 1;
    if (contentsScale_ == value) return;
    contentsScale_ = value;
    changed();
}
void Layer::setMagnificationFilter(ScalingFilter f) {
    if (magnificationFilter_ == f) return;
    magnificationFilter_ = f;
    changed();
}
void Layer::setMinificationFilter(ScalingFilter f) {
    if (minificationFilter_ == f) return;
    minificationFilter_ = f;
    changed();
}
void Layer::setShouldRasterize(bool r) {
    if (shouldRasterize_ == r) return;
    shouldRasterize_ = r;
    changed();
}
void Layer::setRasterizationScale(double s) {
    auto value = s > 0 ? s : 1;
    if (rasterizationScale_ == value) return;
    rasterizationScale_ = value;
    changed();
}
void Layer::setCompositingFilter(CompositingFilter f) {
    if (compositingFilter_ == f) return;
    compositingFilter_ = f;
    changed();
}

// ---- Tree -----------------------------------------------------------------------

void Layer::attach(LayerPtr layer, size_t index) {
    if (!layer || layer.get() == this) return;
    // Refuse cycles: a layer cannot become a sublayer of its own descendant.
    for (Layer* p = this; p; p = p->superlayer_)
        if (p == layer.get()) return;
    if (layer->maskOwner_) layer->maskOwner_->setMask(nullptr);
    LayerPtr keep = layer;  // removal below may drop the last other reference
    keep->removeFromSuperlayer();
    index = std::min(index, sublayers_.size());
    sublayers_.insert(sublayers_.begin() + std::ptrdiff_t(index), keep);
    keep->superlayer_ = this;
    changed();
}

void Layer::addSublayer(LayerPtr layer) {
    attach(std::move(layer), sublayers_.size());
}
void Layer::insertSublayer(LayerPtr layer, size_t index) {
    attach(std::move(layer), index);
}

static size_t indexOf(const std::vector<LayerPtr>& v, const Layer* l) {
    for (size_t i = 0; i < v.size(); ++i)
        if (v[i].get() == l) return i;
    return v.size();
}

void Layer::insertSublayerBelow(LayerPtr layer, const Layer* sibling) {
    if (layer.get() == sibling) return;
    if (layer && layer->superlayer_ == this) detachChild(layer.get());
    size_t i = indexOf(sublayers_, sibling);
    attach(std::move(layer), i == sublayers_.size() ? 0 : i);
}

void Layer::insertSublayerAbove(LayerPtr layer, const Layer* sibling) {
    if (layer.get() == sibling) return;
    if (layer && layer->superlayer_ == this) detachChild(layer.get());
    size_t i = indexOf(sublayers_, sibling);
    attach(std::move(layer), i == sublayers_.size() ? sublayers_.size() : i + 1);
}

void Layer::replaceSublayer(const Layer* old, LayerPtr with) {
    size_t i = indexOf(sublayers_, old);
    if (i == sublayers_.size()) return;
    if (with && with->superlayer_ == this) {
        detachChild(with.get());
        i = indexOf(sublayers_, old);
    }
    detachChild(old);
    attach(std::move(with), i);
}

void Layer::detachChild(const Layer* child) {
    size_t i = indexOf(sublayers_, child);
    if (i == sublayers_.size()) return;
    LayerPtr keep = sublayers_[i];
    sublayers_.erase(sublayers_.begin() + std::ptrdiff_t(i));
    keep->superlayer_ = nullptr;
}

void Layer::removeFromSuperlayer() {
    if (!superlayer_) return;
    Layer* parent = superlayer_;
    parent->detachChild(this);  // may destroy this layer when the parent held the last reference
    parent->changed();
}

void Layer::removeAllSublayers() {
    for (auto& s : sublayers_) s->superlayer_ = nullptr;
    sublayers_.clear();
    changed();
}

std::vector<Layer*> Layer::sortedSublayers() const {
    std::vector<Layer*> out;
    out.reserve(sublayers_.size());
    for (auto& s : sublayers_) out.push_back(s.get());
    std::stable_sort(out.begin(), out.end(),
                     [](const Layer* a, const Layer* b) { return a->zPosition_ < b->zPosition_; });
    return out;
}

// ---- Redisplay --------------------------------------------------------------------

void Layer::setNeedsDisplay() {
    // Every layer up to the root (through mask owners) has changed below it.
    Layer* l = this;
    ++l->revision_;
    for (Layer* up = l->superlayer_ ? l->superlayer_ : l->maskOwner_; up;
         up = l->superlayer_ ? l->superlayer_ : l->maskOwner_) {
        l = up;
        ++l->revision_;
    }
    if (l->displayObserver_) l->displayObserver_();
}

// ---- Key paths -------------------------------------------------------------------

std::optional<AnimValue> Layer::valueForKey(const std::string& key) const {
    if (key == "opacity") return opacity_;
    if (key == "position") return position_;
    if (key == "anchorPoint") return anchorPoint_;
    if (key == "bounds") return bounds_;
    if (key == "transform") return transform_;
    if (key == "zPosition") return zPosition_;
    if (key == "cornerRadius") return cornerRadius_;
    if (key == "borderWidth") return borderWidth_;
    if (key == "borderColor") return borderColor_;
    if (key == "backgroundColor") return backgroundColor_.value_or(Color::clear());
    if (key == "shadowOpacity") return shadowOpacity_;
    if (key == "shadowRadius") return shadowRadius_;
    if (key == "shadowOffset") return shadowOffset_;
    if (key == "shadowColor") return shadowColor_;
    return std::nullopt;
}

bool Layer::setValueForKey(const std::string& key, const AnimValue& v) {
    auto num = std::get_if<double>(&v);
    auto pt = std::get_if<Point>(&v);
    auto col = std::get_if<Color>(&v);
    if (num && key == "opacity")
        setOpacity(*num);
    else if (pt && key == "position")
        setPosition(*pt);
    else if (pt && key == "anchorPoint")
        setAnchorPoint(*pt);
    else if (auto r = std::get_if<Rect>(&v); r && key == "bounds")
        setBounds(*r);
    else if (auto t = std::get_if<AffineTransform>(&v); t && key == "transform")
        setTransform(*t);
    else if (num && key == "zPosition")
        setZPosition(*num);
    else if (num && key == "cornerRadius")
        setCornerRadius(*num);
    else if (num && key == "borderWidth")
        setBorderWidth(*num);
    else if (col && key == "borderColor")
        setBorderColor(*col);
    else if (col && key == "backgroundColor")
        setBackgroundColor(*col);
    else if (num && key == "shadowOpacity")
        setShadowOpacity(*num);
    else if (num && key == "shadowRadius")
        setShadowRadius(*num);
    else if (auto s = std::get_if<Size>(&v); s && key == "shadowOffset")
        setShadowOffset(*s);
    else if (col && key == "shadowColor")
        setShadowColor(*col);
    else
        return false;
    return true;
}

// ---- Animations ---------------------------------------------------------------------

void Layer::addAnimation(const Animation& anim, const std::string& key) {
    auto model = valueForKey(anim.keyPath);
    if (!model) return;  // not an animatable property of this layer
    removeAnimation(key);
    auto run = std::make_unique<RunningAnimation>();
    run->key = key;
    run->anim = anim;
    run->from = anim.fromValue.value_or(*model);
    run->to = anim.toValue.value_or(*model);
    run->begin = anim.beginTime > 0 ? anim.beginTime : mediaTime();
    if (run->from.index() != model->index() || run->to.index() != model->index()) return;
    animations_.push_back(std::move(run));
    Animator::attach(this);
    stepAnimations(mediaTime());
}

void Layer::removeAnimation(const std::string& key) {
    for (size_t i = 0; i < animations_.size(); ++i) {
        if (animations_[i]->key != key) continue;
        auto run = std::move(animations_[i]);
        animations_.erase(animations_.begin() + std::ptrdiff_t(i));
        presentation_.erase(run->anim.keyPath);
        if (animations_.empty()) Animator::detach(this);
        changed();
        if (run->anim.completion && !run->finished) run->anim.completion(false);
        return;
    }
}

void Layer::removeAllAnimations() {
    while (!animations_.empty()) removeAnimation(animations_.front()->key);
}

bool Layer::hasAnimation(const std::string& key) const {
    return std::any_of(animations_.begin(), animations_.end(), [&](auto& a) { return a->key == key; });
}

std::vector<std::string> Layer::animationKeys() const {
    std::vector<std::string> keys;
    for (auto& a : animations_) keys.push_back(a->key);
    return keys;
}

bool Layer::stepAnimations(double now) {
    std::vector<std::function<void(bool)>> finished;
    bool running = false;
    presentation_.clear();
    for (size_t i = 0; i < animations_.size();) {
        RunningAnimation& r = *animations_[i];
        if (now < r.begin) {  // not begun yet: the model value shows
            running = true;
            ++i;
            continue;
        }
        double t = r.anim.duration > 0 ? (now - r.begin) / r.anim.duration : 1.0;
        bool ends = t >= 1.0;
        double p = r.anim.timingFunction.valueAt(std::min(t, 1.0));
        presentation_[r.anim.keyPath] = interpolate(r.from, r.to, ends ? 1.0 : p);
        if (ends && !r.finished) {
            if (r.anim.completion) finished.push_back(r.anim.completion);
            if (r.anim.removedOnCompletion) {
                presentation_.erase(r.anim.keyPath);
                animations_.erase(animations_.begin() + std::ptrdiff_t(i));
                continue;
            }
            r.finished = true;
        }
        running = running || !r.finished;
        ++i;
    }
    changed();
    // Finished animations kept on show hold still: only running ones need the ticker.
    if (!running) Animator::detach(this);
    // Completions last: they may add animations, or even drop this layer.
    for (auto& fn : finished) fn(true);
    return running;
}

}  // namespace kit
