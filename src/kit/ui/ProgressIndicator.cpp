#include "kit/ui/ProgressIndicator.h"

#include <QPainter>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "kit/ui/qt/ControlPrivate.h"

namespace kit {

namespace {

constexpr int kProgressSteps = 10000;  // the bar works in whole steps

// Twelve spokes, the brightest one going round.
class Spinner : public QWidget {
public:
    int phase = 0;
    bool shown = false;

protected:
    void paintEvent(QPaintEvent*) override {
        if (!shown) return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        double side = std::min(width(), height());
        p.translate(width() / 2.0, height() / 2.0);
        QColor ink = palette().color(QPalette::WindowText);
        QPen pen(ink, std::max(1.5, side / 10), Qt::SolidLine, Qt::RoundCap);
        for (int i = 0; i < 12; ++i) {
            QColor c = ink;
            c.setAlphaF(float(0.15 + 0.85 * ((i - phase + 12) % 12) / 11.0));
            pen.setColor(c);
            p.setPen(pen);
            p.save();
            p.rotate(i * 30.0);
            p.drawLine(QPointF(0, -side * 0.22), QPointF(0, -side * 0.42));
            p.restore();
        }
    }
};

}  // namespace

struct ProgressIndicator::Widgets {
    QProgressBar* bar = nullptr;
    Spinner* spinner = nullptr;
    QTimer timer;
};

ProgressIndicator::ProgressIndicator(const Rect& frame, Style style)
    : View(frame), p_(std::make_unique<Widgets>()), style_(style) {
    if (style == Style::Bar) {
        p_->bar = new QProgressBar;
        p_->bar->setTextVisible(false);
        qt::hostWidget(*this, p_->bar);
    } else {
        p_->spinner = new Spinner;
        qt::hostWidget(*this, p_->spinner);
        p_->timer.setInterval(80);
        QObject::connect(&p_->timer, &QTimer::timeout, [this] {
            p_->spinner->phase = (p_->spinner->phase + 1) % 12;
            p_->spinner->update();
        });
    }
    update();
}

ProgressIndicator::~ProgressIndicator() {
    p_->timer.stop();
}

void ProgressIndicator::setIndeterminate(bool indeterminate) {
    indeterminate_ = indeterminate;
    update();
}

void ProgressIndicator::setMinValue(double v) {
    min_ = v;
    max_ = std::max(max_, min_);
    setDoubleValue(value_);
}

void ProgressIndicator::setMaxValue(double v) {
    max_ = std::max(v, min_);
    setDoubleValue(value_);
}

void ProgressIndicator::setDoubleValue(double v) {
    if (!std::isfinite(v)) return;
    value_ = std::clamp(v, min_, max_);
    update();
}

void ProgressIndicator::startAnimation() {
    animating_ = true;
    if (p_->spinner) p_->timer.start();
    update();
}

void ProgressIndicator::stopAnimation() {
    animating_ = false;
    p_->timer.stop();
    update();
}

void ProgressIndicator::setDisplayedWhenStopped(bool displayed) {
    displayedWhenStopped_ = displayed;
    update();
}

void ProgressIndicator::update() {
    if (p_->bar) {
        // A busy bar (range 0…0) moves by itself; when stopped it rests empty.
        bool busy = indeterminate_ && animating_;
        p_->bar->setRange(0, busy ? 0 : kProgressSteps);
        int step = indeterminate_ || max_ <= min_
                       ? 0
                       : int(std::lround((value_ - min_) / (max_ - min_) * kProgressSteps));
        p_->bar->setValue(step);
        return;
    }
    p_->spinner->shown = animating_ || displayedWhenStopped_;
    p_->spinner->update();
}

}  // namespace kit
