#include "kit/ui/LocalEventMonitor.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <vector>

#include "kit/ui/Application.h"
#include "kit/ui/Menu.h"
#include "kit/ui/qt/ApplicationPrivate.h"
#include "kit/ui/qt/EventPrivate.h"
#include "kit/ui/qt/WindowPrivate.h"

namespace kit::LocalEventMonitor {

namespace {

struct Entry {
    Token token;
    unsigned mask;
    Handler handler;
};

std::vector<Entry>& entries() {
    static std::vector<Entry> list;
    return list;
}

unsigned maskOf(EventType t) {
    switch (t) {
        case EventType::KeyDown:
            return Mask::KeyDown;
        case EventType::KeyUp:
            return Mask::KeyUp;
        case EventType::FlagsChanged:
            return Mask::FlagsChanged;
        case EventType::LeftMouseDown:
            return Mask::LeftMouseDown;
        case EventType::LeftMouseUp:
            return Mask::LeftMouseUp;
        case EventType::RightMouseDown:
            return Mask::RightMouseDown;
        case EventType::RightMouseUp:
            return Mask::RightMouseUp;
        case EventType::OtherMouseDown:
            return Mask::OtherMouseDown;
        case EventType::OtherMouseUp:
            return Mask::OtherMouseUp;
        case EventType::ScrollWheel:
            return Mask::ScrollWheel;
        default:
            return 0;
    }
}

// Runs the handlers; false when one consumed the event.
bool offer(const Event& e) {
    unsigned bit = maskOf(e.type);
    if (!bit) return true;
    // Handlers may add or remove monitors while we walk.
    std::vector<Entry> snapshot = entries();
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        if (!(it->mask & bit)) continue;
        auto& live = entries();
        if (std::none_of(live.begin(), live.end(), [&](const Entry& x) { return x.token == it->token; }))
            continue;
        if (!it->handler(e)) return false;
    }
    return true;
}

// A focused text widget keeps its own editing keys (select all, copy,
// cut, paste, undo, redo) over the menu's key equivalents.
bool isTextEditingKey(const Event& e) {
    QWidget* focus = QApplication::focusWidget();
    bool textFocus = focus && (focus->inherits("QLineEdit") || focus->inherits("QTextEdit") ||
                               focus->inherits("QPlainTextEdit") || focus->inherits("QAbstractSpinBox"));
    if (!textFocus) return false;
    uint32_t mods = e.modifierFlags & (ModifierFlag::Command | ModifierFlag::Option | ModifierFlag::Control);
    if (mods != ModifierFlag::Command) return false;
    switch (e.keyCode) {
        case KeyCode::A:
        case KeyCode::C:
        case KeyCode::V:
        case KeyCode::X:
        case KeyCode::Z:
        case KeyCode::Y:
            return true;
        default:
            return false;
    }
}

// Every input event reaches the top-level QWindow first, then the widgets;
// the filter acts at the window so each event is offered once.
class Filter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        if (!obj->isWindowType()) return false;
        bool keyEquivalents = ev->type() == QEvent::KeyPress && Application::shared().mainMenu();
        if (entries().empty() && !keyEquivalents) return false;
        auto* window = static_cast<QWindow*>(obj);
        QWidget* top = QWidget::find(window->winId());
        std::optional<Event> e;
        switch (ev->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
                e = qt::keyEvent(*static_cast<QKeyEvent*>(ev));
                break;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseButtonRelease: {
                auto* m = static_cast<QMouseEvent*>(ev);
                QPointF p = m->position();
                e = qt::mouseEvent(*m, {p.x(), window->height() - p.y()}, false);
                break;
            }
            case QEvent::Wheel: {
                auto* w = static_cast<QWheelEvent*>(ev);
                QPointF p = w->position();
                e = qt::scrollEvent(*w, {p.x(), window->height() - p.y()});
                break;
            }
            default:
                return false;
        }
        if (!e) return false;
        e->window = qt::windowOf(top);
        if (!offer(*e)) return true;
        if (keyEquivalents && e->type == EventType::KeyDown && !isTextEditingKey(*e))
            return Application::shared().mainMenu()->performKeyEquivalent(*e);
        return false;
    }
};

}  // namespace

Token add(unsigned mask, Handler handler) {
    static Token next = 0;
    qt::installInputFilter();
    entries().push_back({++next, mask, std::move(handler)});
    return next;
}

void remove(Token token) {
    std::erase_if(entries(), [&](const Entry& e) { return e.token == token; });
}

}  // namespace kit::LocalEventMonitor

namespace kit::qt {
void installInputFilter() {
    static LocalEventMonitor::Filter* filter = nullptr;
    if (filter || !qApp) return;
    filter = new LocalEventMonitor::Filter(qApp);
    qApp->installEventFilter(filter);
}
}  // namespace kit::qt
