#include "kit/ui/CollectionView.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "kit/base/Displays.h"
#include "kit/base/qt/QtImage.h"
#include "kit/ui/qt/ControlPrivate.h"
#include "kit/ui/qt/EventPrivate.h"
#include "kit/ui/qt/ViewPrivate.h"

namespace kit {

namespace {

constexpr double kRadius = 4;
constexpr double kSelectionWidth = 3;

class GridArea : public QAbstractScrollArea {
public:
    explicit GridArea(CollectionView* v) : view(v) {
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // Always there, so the width items share never changes under them.
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        setFocusPolicy(Qt::StrongFocus);
        viewport()->setAutoFillBackground(false);
        verticalScrollBar()->setSingleStep(24);
        connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
            viewport()->update();
            reportVisible();
        });
    }

    CollectionView* view;
    std::optional<Color> background;
    Color selection = Color(0.2, 0.5, 1.0, 1.0);
    QPoint pressPos;
    int pressItem = -1;
    std::pair<int, int> lastVisible{0, -1};

    // The viewport's top in grid pixels.
    int top() const { return verticalScrollBar()->value(); }

    void updateScroll() {
        double h = view->itemCount() > 0
                       ? view->itemRect(view->itemCount() - 1).maxY() + view->itemLayout().spacing
                       : 0;
        verticalScrollBar()->setRange(0, std::max(0, int(std::ceil(h)) - viewport()->height()));
        verticalScrollBar()->setPageStep(viewport()->height());
    }

    void reportVisible() {
        auto range = view->visibleRange();
        if (range == lastVisible) return;
        lastVisible = range;
        if (view->onVisibleItemsChanged) view->onVisibleItemsChanged(range.first, range.second);
    }

    int itemAt(QPoint viewportPos) const {
        return view->itemAtGridPoint(Point(viewportPos.x(), viewportPos.y() + top()));
    }

protected:
    void resizeEvent(QResizeEvent* e) override {
        QAbstractScrollArea::resizeEvent(e);
        updateScroll();
        reportVisible();
    }

    void paintEvent(QPaintEvent*) override {
        QPainter p(viewport());
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        if (background) p.fillRect(viewport()->rect(), qt::toQColor(*background));
        auto [first, last] = view->visibleRange();
        if (!view->cellForItem) return;
        for (int i = first; i <= last; ++i) paintItem(p, i);
    }

    void paintItem(QPainter& p, int i) {
        CollectionView::Cell cell = view->cellForItem(i);
        Rect r = view->itemRect(i);
        QRectF box(r.minX(), r.minY() - top(), r.width(), r.height());
        const auto& layout = view->itemLayout();
        QRectF pic = box;
        if (layout.list) pic.setWidth(std::min(layout.itemSize.width, box.width()));
        QPainterPath clip;
        clip.addRoundedRect(pic, kRadius, kRadius);
        p.save();
        p.setClipPath(clip);
        p.fillRect(pic, qt::toQColor(cell.placeholder));
        if (!cell.image.isNull()) drawFitted(p, cell.image, pic);
        p.restore();
        if (layout.list) {
            p.setPen(viewport()->palette().color(QPalette::WindowText));
            QRectF text = box.adjusted(pic.width() + 10, 0, 0, 0);
            QFontMetricsF fm(p.font());
            p.drawText(text.adjusted(0, 4, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                       fm.elidedText(QString::fromStdString(cell.title), Qt::ElideMiddle, text.width()));
            p.setPen(viewport()->palette().color(QPalette::PlaceholderText));
            p.drawText(text.adjusted(0, 0, 0, -4), Qt::AlignLeft | Qt::AlignBottom,
                       QString::fromStdString(cell.detail));
        }
        if (view->selectionIndexes().count(i)) {
            QPen pen(qt::toQColor(selection), kSelectionWidth);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            double inset = kSelectionWidth / 2;
            p.drawRoundedRect(box.adjusted(inset, inset, -inset, -inset), kRadius, kRadius);
        }
    }

    // The whole picture, as large as the cell allows, centred on the placeholder.
    static void drawFitted(QPainter& p, const Image& img, const QRectF& cell) {
        QImage q = qt::wrap(img);
        if (q.width() <= 0 || q.height() <= 0) return;
        double s = std::min(cell.width() / q.width(), cell.height() / q.height());
        QSizeF size(q.width() * s, q.height() * s);
        QRectF target(cell.center().x() - size.width() / 2, cell.center().y() - size.height() / 2,
                      size.width(), size.height());
        p.drawImage(target, q);
    }

    void mousePressEvent(QMouseEvent* e) override {
        setFocus(Qt::MouseFocusReason);
        int item = itemAt(e->position().toPoint());
        pressPos = e->position().toPoint();
        pressItem = item;
        uint32_t flags = qt::modifierFlagsFromQt(e->modifiers());
        if (e->button() == Qt::RightButton) {
            if (item < 0) return;
            if (!view->selectionIndexes().count(item)) view->clickItem(item, 0);
            QPointF g = e->globalPosition();
            if (view->onContextMenu)
                view->onContextMenu(item, Displays::fromWindowServer(Point(g.x(), g.y())));
            return;
        }
        if (e->button() != Qt::LeftButton) return;
        // A press on a selected item keeps the selection so it can be dragged.
        if (item >= 0 && view->selectionIndexes().count(item) && flags == 0) return;
        view->clickItem(item, flags);
    }

    void mouseReleaseEvent(QMouseEvent* e) override {
        int item = itemAt(e->position().toPoint());
        uint32_t flags = qt::modifierFlagsFromQt(e->modifiers());
        if (e->button() == Qt::LeftButton && item >= 0 && item == pressItem && flags == 0 &&
            view->selectionIndexes().size() > 1)
            view->clickItem(item, 0);
        pressItem = -1;
    }

    void mouseMoveEvent(QMouseEvent* e) override {
        if (pressItem < 0 || !(e->buttons() & Qt::LeftButton) || !view->dragFile) return;
        if ((e->position().toPoint() - pressPos).manhattanLength() < QApplication::startDragDistance())
            return;
        int item = pressItem;
        pressItem = -1;
        std::string file = view->dragFile(item);
        if (file.empty()) return;
        CollectionView::Cell cell = view->cellForItem ? view->cellForItem(item) : CollectionView::Cell{};
        view->beginDraggingFile(file, cell.image);
    }

    void mouseDoubleClickEvent(QMouseEvent* e) override {
        int item = itemAt(e->position().toPoint());
        if (e->button() == Qt::LeftButton && item >= 0 && view->onDoubleClick) view->onDoubleClick(item);
    }
};

}  // namespace

struct CollectionView::Private {
    GridArea* area = nullptr;
};

CollectionView::CollectionView(const Rect& frame) : View(frame), p_(std::make_unique<Private>()) {
    p_->area = new GridArea(this);
    qt::hostWidget(*this, p_->area);
}

CollectionView::~CollectionView() {
    p_->area->view = nullptr;
}

void CollectionView::setItemLayout(const Layout& layout) {
    layout_ = layout;
    contentChanged();
}

void CollectionView::setBackgroundColor(std::optional<Color> color) {
    p_->area->background = color;
    p_->area->viewport()->update();
}

void CollectionView::setSelectionColor(Color color) {
    p_->area->selection = color;
    p_->area->viewport()->update();
}

void CollectionView::reloadData() {
    count_ = numberOfItems ? std::max(0, numberOfItems()) : 0;
    std::erase_if(selection_, [this](int i) { return i >= count_; });
    if (anchor_ >= count_) anchor_ = -1;
    p_->area->lastVisible = {0, -1};
    contentChanged();
}

void CollectionView::reloadItem(int item) {
    auto [first, last] = visibleRange();
    if (item < first || item > last) return;
    Rect r = itemRect(item);
    p_->area->viewport()->update(QRect(int(r.minX()), int(r.minY()) - p_->area->top(),
                                       int(std::ceil(r.width())) + 1, int(std::ceil(r.height())) + 1));
}

void CollectionView::layout() {
    contentChanged();
}

void CollectionView::contentChanged() {
    p_->area->updateScroll();
    p_->area->viewport()->update();
    p_->area->reportVisible();
}

double CollectionView::contentWidth() const {
    // From the frame, not the viewport: a hidden widget's viewport keeps a stale size.
    return std::max(0.0, frame().width() - p_->area->verticalScrollBar()->sizeHint().width());
}

int CollectionView::columns() const {
    if (layout_.list) return 1;
    double width = contentWidth();
    double step = layout_.itemSize.width + layout_.spacing;
    return std::max(1, int((width - layout_.spacing) / step));
}

Rect CollectionView::itemRect(int item) const {
    int cols = columns();
    int row = item / cols, col = item % cols;
    double viewportWidth = contentWidth();
    double w = layout_.list ? std::max(0.0, viewportWidth - 2 * layout_.spacing) : layout_.itemSize.width;
    double h = layout_.itemSize.height;
    // Spare width is shared out between the columns' gaps, so the grid is centred.
    double used = cols * w + (cols - 1) * layout_.spacing;
    double left = std::max(layout_.spacing, (viewportWidth - used) / 2);
    return Rect(left + col * (w + layout_.spacing), layout_.spacing + row * (h + layout_.spacing), w, h);
}

int CollectionView::itemAtGridPoint(Point p) const {
    if (count_ == 0) return -1;
    int cols = columns();
    double h = layout_.itemSize.height + layout_.spacing;
    int row = int(std::floor((p.y - layout_.spacing) / h));
    if (row < 0) return -1;
    for (int col = 0; col < cols; ++col) {
        int item = row * cols + col;
        if (item >= count_) return -1;
        if (itemRect(item).contains(p)) return item;
    }
    return -1;
}

std::pair<int, int> CollectionView::visibleRange() const {
    if (count_ == 0) return {0, -1};
    int cols = columns();
    double rowHeight = layout_.itemSize.height + layout_.spacing;
    int height = p_->area->viewport()->height() > 0 ? p_->area->viewport()->height() : int(frame().height());
    int top = p_->area->top();
    int firstRow = std::max(0, int(std::floor((top - layout_.spacing) / rowHeight)));
    int lastRow = int(std::floor((top + height) / rowHeight));
    int first = std::min(count_ - 1, firstRow * cols);
    int last = std::min(count_ - 1, (lastRow + 1) * cols - 1);
    return {first, last};
}

void CollectionView::setSelectionIndexes(std::set<int> items) {
    std::erase_if(items, [this](int i) { return i < 0 || i >= count_; });
    selection_ = std::move(items);
    p_->area->viewport()->update();
}

void CollectionView::scrollToItem(int item) {
    if (item < 0 || item >= count_) return;
    Rect r = itemRect(item);
    QScrollBar* bar = p_->area->verticalScrollBar();
    int h = p_->area->viewport()->height();
    if (r.minY() - layout_.spacing < bar->value())
        bar->setValue(int(r.minY() - layout_.spacing));
    else if (r.maxY() + layout_.spacing > bar->value() + h)
        bar->setValue(int(std::ceil(r.maxY() + layout_.spacing)) - h);
}

void CollectionView::clickItem(int item, uint32_t modifierFlags) {
    bool toggle = modifierFlags & ModifierFlag::Command;
    bool extend = modifierFlags & ModifierFlag::Shift;
    std::set<int> next = selection_;
    if (item < 0) {
        if (!toggle && !extend) next.clear();
    } else if (toggle) {
        if (!next.erase(item)) next.insert(item);
        anchor_ = item;
    } else if (extend && anchor_ >= 0) {
        for (int i = std::min(anchor_, item); i <= std::max(anchor_, item); ++i) next.insert(i);
    } else {
        next = {item};
        anchor_ = item;
    }
    if (next == selection_) return;
    setSelectionIndexes(std::move(next));
    if (onUserSelect) onUserSelect(item);
}

}  // namespace kit
