#include "controls/CtrlTooltippedSegments.h"

#include <cmath>

#include "controls/ControlLook.h"
#include "kit/draw/TextMeasure.h"

namespace controls {

namespace {
const kit::Font kFont = kit::Font::system(12);
}

CtrlTooltippedSegments::CtrlTooltippedSegments(const kit::Rect& frame) : kit::View(frame) {
    CtrlTooltippedSegments::updateTrackingAreas();
}

void CtrlTooltippedSegments::setSegmentCount(int count) {
    for (auto& s : segments_) {
        s.back->removeFromSuperlayer();
        s.icon->removeFromSuperlayer();
        s.text->removeFromSuperlayer();
    }
    segments_.assign(static_cast<size_t>(std::max(count, 0)), Segment{});
    for (auto& s : segments_) {
        s.back = kit::Layer::make();
        s.icon = kit::Layer::make();
        s.icon->setContentsGravity(kit::ContentsGravity::Center);
        s.text = kit::TextLayer::make();
        s.text->setFont(kFont);
        s.text->setAlignmentMode(kit::TextAlignment::Center);
        layer()->addSublayer(s.back);
        layer()->addSublayer(s.icon);
        layer()->addSublayer(s.text);
    }
    redraw();
}

void CtrlTooltippedSegments::setLabel(const std::string& label, int segment) {
    if (segment < 0 || segment >= segmentCount()) return;
    segments_[segment].label = label;
    redraw();
}

void CtrlTooltippedSegments::setImage(const kit::Image& image, int segment) {
    if (segment < 0 || segment >= segmentCount()) return;
    segments_[segment].image = image;
    redraw();
}

void CtrlTooltippedSegments::setToolTip(const std::string& tip, int segment) {
    if (segment >= 0 && segment < segmentCount()) segments_[segment].toolTip = tip;
}

std::string CtrlTooltippedSegments::toolTip(int segment) const {
    return segment >= 0 && segment < segmentCount() ? segments_[segment].toolTip : std::string();
}

void CtrlTooltippedSegments::setWidth(double width, int segment) {
    if (segment < 0 || segment >= segmentCount()) return;
    segments_[segment].width = width;
    redraw();
}

void CtrlTooltippedSegments::setSelectedSegment(int segment) {
    selected_ = segment >= 0 && segment < segmentCount() ? segment : -1;
    redraw();
}

kit::Rect CtrlTooltippedSegments::segmentFrame(int segment) const {
    double fixed = 0;
    int flexible = 0;
    for (const auto& s : segments_) s.width > 0 ? fixed += s.width : ++flexible;
    double share = flexible ? std::max(0.0, bounds().width() - fixed) / flexible : 0;
    double x = 0;
    for (int i = 0; i < segmentCount(); ++i) {
        double w = segments_[i].width > 0 ? segments_[i].width : share;
        if (i == segment) return {x, 0, w, bounds().height()};
        x += w;
    }
    return {};
}

int CtrlTooltippedSegments::segmentAt(kit::Point p) const {
    for (int i = 0; i < segmentCount(); ++i)
        if (segmentFrame(i).contains(p)) return i;
    return -1;
}

void CtrlTooltippedSegments::redraw() {
    kit::ScopedTransaction tx;
    bool dark = isDarkAppearance();
    const auto& l = layer();
    l->setCornerRadius(5);
    l->setBorderWidth(0.5);
    l->setBorderColor(ControlLook::textColor(dark).withAlpha(0.2));
    l->setBackgroundColor(ControlLook::controlColor(dark).withAlpha(dark ? 0.08 : 0.6));
    l->setMasksToBounds(true);
    for (int i = 0; i < segmentCount(); ++i) {
        auto& s = segments_[i];
        kit::Rect f = segmentFrame(i);
        s.back->setFrame(f.insetBy(0.5, 0.5));
        std::optional<kit::Color> fill;
        if (i == pressed_)
            fill = ControlLook::textColor(dark).withAlpha(0.18);
        else if (i == selected_ && trackingMode == Tracking::selectOne)
            fill = ControlLook::textColor(dark).withAlpha(0.1);
        s.back->setBackgroundColor(fill);
        s.icon->setHidden(s.image.isNull());
        if (!s.image.isNull()) {
            kit::Size is = s.image.pointSize();
            s.icon->setContents(s.image);
            s.icon->setContentsScale(s.image.scale());
            s.icon->setFrame({std::round(f.midX() - is.width / 2), std::round(f.midY() - is.height / 2),
                              is.width, is.height});
        }
        s.text->setHidden(s.label.empty() || !s.image.isNull());
        if (!s.label.empty()) {
            kit::Size ts = kit::measureText(s.label, kFont);
            s.text->setString(s.label);
            s.text->setForegroundColor(ControlLook::textColor(dark));
            s.text->setFrame({f.x(), std::round(f.midY() - ts.height / 2), f.width(), std::ceil(ts.height)});
        }
    }
}

void CtrlTooltippedSegments::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = addTrackingArea(bounds(), kit::TrackingOption::MouseEnteredAndExited |
                                                  kit::TrackingOption::MouseMoved |
                                                  kit::TrackingOption::ActiveInKeyWindow);
}

void CtrlTooltippedSegments::mouseMoved(const kit::Event& e) {
    if (tooltipsCache.empty()) {
        // Taken once: from now on only the owner's bubble shows these texts.
        for (auto& s : segments_) {
            tooltipsCache.push_back(s.toolTip);
            s.toolTip.clear();
        }
    }
    if (!tooltipCallback) return;
    kit::Point p = convertFrom(e.locationInWindow, nullptr);
    for (int i = 0; i < segmentCount(); ++i) {
        kit::Rect f = segmentFrame(i);
        if (!f.contains(p) || i >= static_cast<int>(tooltipsCache.size())) continue;
        kit::Rect inWindow = convert(f, nullptr);
        tooltipCallback(tooltipsCache[i], static_cast<int>(std::round(inWindow.midX())));
    }
}

void CtrlTooltippedSegments::mouseExited(const kit::Event&) {
    if (tooltipCallbackHide) tooltipCallbackHide();
}

void CtrlTooltippedSegments::mouseDown(const kit::Event& e) {
    pressed_ = segmentAt(convertFrom(e.locationInWindow, nullptr));
    redraw();
}

void CtrlTooltippedSegments::mouseUp(const kit::Event& e) {
    int down = pressed_;
    pressed_ = -1;
    if (down >= 0 && segmentAt(convertFrom(e.locationInWindow, nullptr)) == down) {
        selected_ = down;
        redraw();
        if (action) action(*this);
        return;
    }
    redraw();
}

}  // namespace controls
