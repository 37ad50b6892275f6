#include "kit/ui/TabView.h"

#include <QTabBar>

#include "kit/ui/qt/ViewPrivate.h"

namespace kit {

namespace {
QTabBar* tabBar(const View& v) {
    return qt::viewWidget(v)->findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly);
}
}  // namespace

TabView::TabView(const Rect& frame) : View(frame) {
    auto* bar = new QTabBar(qt::viewWidget(*this));
    bar->setDrawBase(false);
    bar->setExpanding(false);
    QObject::connect(bar, &QTabBar::currentChanged, [this](int index) {
        if (index == selected_ || index < 0) return;
        show(index);
        if (onDidSelect) onDidSelect(*this);
    });
    layout();
}

TabView::~TabView() {
    // The bar's signals must not reach a half-destroyed view.
    if (QTabBar* bar = tabBar(*this)) QObject::disconnect(bar, nullptr, nullptr, nullptr);
}

void TabView::addTabViewItem(const std::string& label, std::shared_ptr<View> pane) {
    if (!pane) return;
    panes_.push_back(pane);
    pane->setHidden(true);
    addSubview(pane);
    QTabBar* bar = tabBar(*this);
    {
        QSignalBlocker quiet(bar);  // the first tab is selected below, not by the user
        bar->addTab(QString::fromStdString(label));
    }
    layout();
    if (selected_ < 0) selectTabViewItem(0);
}

std::string TabView::label(int index) const {
    return tabBar(*this)->tabText(index).toStdString();
}

void TabView::selectTabViewItem(int index) {
    if (index < 0 || index >= numberOfTabViewItems()) return;
    QTabBar* bar = tabBar(*this);
    QSignalBlocker quiet(bar);
    bar->setCurrentIndex(index);
    show(index);
}

void TabView::show(int index) {
    selected_ = index;
    for (size_t i = 0; i < panes_.size(); ++i) panes_[i]->setHidden(int(i) != index);
}

Rect TabView::contentRect() const {
    QTabBar* bar = tabBar(*this);
    double barHeight = bar ? bar->sizeHint().height() : 0;
    return {0, 0, frame().width(), std::max(0.0, frame().height() - barHeight)};
}

void TabView::layout() {
    QTabBar* bar = tabBar(*this);
    if (!bar) return;
    bar->setGeometry(0, 0, int(frame().width()), bar->sizeHint().height());
    bar->raise();
    Rect content = contentRect();
    for (auto& p : panes_) p->setFrame(content);
}

}  // namespace kit
