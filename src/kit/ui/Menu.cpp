#include "kit/ui/Menu.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include "kit/base/Displays.h"
#include "kit/base/qt/QtImage.h"
#include "kit/ui/View.h"
#include "kit/ui/qt/EventPrivate.h"
#include "kit/ui/qt/MenuPrivate.h"
#include "kit/ui/qt/ViewPrivate.h"

namespace kit {

struct MenuItem::Private {
    std::unique_ptr<QAction> action = std::make_unique<QAction>();
};

struct Menu::Private {
    std::unique_ptr<QMenu> menu = std::make_unique<QMenu>();
};

namespace {

char32_t firstCodePoint(const std::string& s) {
    if (s.empty()) return 0;
    auto u = QString::fromStdString(s).toUcs4();
    return u.isEmpty() ? 0 : u.front();
}

std::string keyName(char32_t c) {
    switch (c) {
        case '\r':
        case '\n':
        case 0x3:
            return "Return";
        case '\t':
            return "Tab";
        case ' ':
            return "Space";
        case 0x1b:
            return "Esc";
        case 0x7f:
        case 0x8:
            return "Backspace";
        case 0xF728:
            return "Del";
        case 0xF700:
            return "Up";
        case 0xF701:
            return "Down";
        case 0xF702:
            return "Left";
        case 0xF703:
            return "Right";
        case 0xF729:
            return "Home";
        case 0xF72B:
            return "End";
        case 0xF72C:
            return "PgUp";
        case 0xF72D:
            return "PgDown";
        default:
            break;
    }
    if (c >= 0xF704 && c <= 0xF71B) return "F" + std::to_string(int(c - 0xF704 + 1));
    return QString::fromUcs4(&c, 1).toUpper().toStdString();
}

}  // namespace

// ---- MenuItem ------------------------------------------------------------

MenuItem::MenuItem(std::string title, Action action, std::string keyEquivalent)
    : d_(std::make_unique<Private>()), title_(std::move(title)), action_(std::move(action)) {
    QObject::connect(d_->action.get(), &QAction::triggered, [this](bool) { performAction(); });
    setKeyEquivalent(std::move(keyEquivalent), ModifierFlag::Command);
}

MenuItem::~MenuItem() = default;

std::shared_ptr<MenuItem> MenuItem::make(std::string title, Action action, std::string keyEquivalent) {
    return std::make_shared<MenuItem>(std::move(title), std::move(action), std::move(keyEquivalent));
}

std::shared_ptr<MenuItem> MenuItem::separator() {
    auto item = std::make_shared<MenuItem>();
    item->separator_ = true;
    item->d_->action->setSeparator(true);
    return item;
}

void MenuItem::setTitle(std::string title) {
    title_ = std::move(title);
    setKeyEquivalent(keyEquivalent_, keyMask_);  // refreshes the shown text
}

void MenuItem::setKeyEquivalent(std::string key, uint32_t mask) {
    keyEquivalent_ = std::move(key);
    keyMask_ = mask;
    // The key text goes after a tab, which menus draw as the shortcut column.
    // No real shortcut is registered: key equivalents are dispatched by
    // their windows, and the tray menu has no window to own one.
    QString text = QString::fromStdString(title_);
    text.replace('&', "&&");
    std::string keys = keyEquivalentText();
    if (!keys.empty()) text += '\t' + QString::fromStdString(keys);
    d_->action->setText(text);
}

std::string MenuItem::keyEquivalentText() const {
    char32_t c = firstCodePoint(keyEquivalent_);
    if (!c) return {};
    uint32_t mask = keyMask_;
    if (c < 0x80 && std::isupper(int(c))) mask |= ModifierFlag::Shift;
    std::string out;
    if (mask & ModifierFlag::Command) out += "Ctrl+";
    if (mask & ModifierFlag::Option) out += "Alt+";
    if (mask & ModifierFlag::Control) out += "Super+";
    if (mask & ModifierFlag::Shift) out += "Shift+";
    return out + keyName(c);
}

void MenuItem::setState(ControlState state) {
    state_ = state;
    d_->action->setCheckable(state != ControlState::Off || d_->action->isCheckable());
    d_->action->setChecked(state != ControlState::Off);
}

void MenuItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    d_->action->setEnabled(enabled);
}

void MenuItem::setHidden(bool hidden) {
    hidden_ = hidden;
    d_->action->setVisible(!hidden);
}

void MenuItem::setToolTip(std::string tip) {
    toolTip_ = std::move(tip);
    d_->action->setToolTip(QString::fromStdString(toolTip_));
}

void MenuItem::setImage(const Image& image) {
    image_ = image;
    d_->action->setIcon(qt::iconFromImage(image));
}

void MenuItem::setSubmenu(std::shared_ptr<Menu> menu) {
    submenu_ = std::move(menu);
    d_->action->setMenu(submenu_ ? qt::qmenu(*submenu_) : static_cast<QMenu*>(nullptr));
}

void MenuItem::setAssociatedObject(const void* key, std::shared_ptr<void> value) {
    if (value)
        associated_[key] = std::move(value);
    else
        associated_.erase(key);
}

std::shared_ptr<void> MenuItem::associatedObject(const void* key) const {
    auto it = associated_.find(key);
    return it == associated_.end() ? nullptr : it->second;
}

void MenuItem::performAction() {
    if (!enabled_ || separator_) return;
    // The action may drop the last reference to this item (menus rebuilt on
    // the fly); keep a copy of the callback alive while it runs.
    Action a = action_;
    if (a) a(*this);
}

namespace {
bool g_performingKeyEquivalent = false;
}  // namespace

bool MenuItem::isPerformingKeyEquivalent() {
    return g_performingKeyEquivalent;
}

bool MenuItem::matchesKeyEquivalent(const Event& e) const {
    if (e.type != EventType::KeyDown || separator_) return false;
    char32_t key = firstCodePoint(keyEquivalent_);
    if (!key) return false;
    constexpr uint32_t kMods =
        ModifierFlag::Command | ModifierFlag::Option | ModifierFlag::Control | ModifierFlag::Shift;
    uint32_t want = keyMask_ & kMods;
    if (key < 0x80 && std::isupper(int(key))) {
        want |= ModifierFlag::Shift;
        key = char32_t(std::tolower(int(key)));
    }
    if ((e.modifierFlags & kMods) != want) return false;
    if (firstCodePoint(QString::fromStdString(e.charactersIgnoringModifiers).toLower().toStdString()) == key)
        return true;
    // Shifted digits and symbols type other characters ("!" for 1): the key's
    // place decides.
    auto code = qt::usKeyCodeForCharacter(key);
    return code && *code == e.keyCode;
}

// ---- Menu ----------------------------------------------------------------

namespace {

const char* kKitMenuProperty = "kitMenu";

// The menu that opened `m` as a submenu, if any.
QMenu* parentMenu(QMenu* m) {
    for (QObject* o : m->menuAction()->associatedObjects())
        if (auto* p = qobject_cast<QMenu*>(o); p && p != m) return p;
    return nullptr;
}

// An open menu grabs the keyboard, so neither windows nor global hot keys
// see a key pressed while it is up: key equivalents (which always carry a
// modifier but Shift) are offered to the outermost open menu here.
class OpenMenuKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        if (ev->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(ev);
        constexpr auto kModifiers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
        if (!(key->modifiers() & kModifiers)) return false;
        auto e = qt::keyEvent(*key);
        if (!e || e->type != EventType::KeyDown) return false;
        std::vector<QPointer<QMenu>> chain{static_cast<QMenu*>(obj)};
        while (QMenu* p = parentMenu(chain.back())) chain.push_back(p);
        auto* root = chain.back()->property(kKitMenuProperty).value<void*>();
        if (!root || !static_cast<Menu*>(root)->performKeyEquivalent(*e)) return false;
        // The item ran (it may have rebuilt the menus): close what is still open.
        for (auto& m : chain)
            if (m) m->hide();
        return true;
    }
};

}  // namespace

Menu::Menu(std::string title) : d_(std::make_unique<Private>()), title_(std::move(title)) {
    d_->menu->setTitle(QString::fromStdString(title_));
    d_->menu->setProperty(kKitMenuProperty, QVariant::fromValue(static_cast<void*>(this)));
    d_->menu->installEventFilter(new OpenMenuKeys(d_->menu.get()));
    d_->menu->setToolTipsVisible(true);
    QObject::connect(d_->menu.get(), &QMenu::aboutToShow, [this] {
        if (onWillOpen) onWillOpen(*this);
    });
    QObject::connect(d_->menu.get(), &QMenu::aboutToHide, [this] {
        if (onDidClose) onDidClose(*this);
    });
}

Menu::~Menu() {
    for (auto& item : items_) item->parent_ = nullptr;
}

void Menu::setTitle(std::string title) {
    title_ = std::move(title);
    d_->menu->setTitle(QString::fromStdString(title_));
}

void Menu::addItem(std::shared_ptr<MenuItem> item) {
    insertItem(std::move(item), items_.size());
}

MenuItem& Menu::addItem(std::string title, MenuItem::Action action, std::string keyEquivalent) {
    auto item = MenuItem::make(std::move(title), std::move(action), std::move(keyEquivalent));
    addItem(item);
    return *item;
}

void Menu::addSeparator() {
    addItem(MenuItem::separator());
}

void Menu::insertItem(std::shared_ptr<MenuItem> item, size_t index) {
    if (!item) return;
    if (item->parent_) item->parent_->removeItem(*item);
    index = std::min(index, items_.size());
    QAction* before = index < items_.size() ? items_[index]->d_->action.get() : nullptr;
    d_->menu->insertAction(before, item->d_->action.get());
    item->parent_ = this;
    items_.insert(items_.begin() + std::ptrdiff_t(index), std::move(item));
}

void Menu::removeItem(const MenuItem& item) {
    for (auto it = items_.begin(); it != items_.end(); ++it) {
        if (it->get() != &item) continue;
        d_->menu->removeAction((*it)->d_->action.get());
        (*it)->parent_ = nullptr;
        items_.erase(it);
        return;
    }
}

void Menu::removeAllItems() {
    for (auto& item : items_) {
        d_->menu->removeAction(item->d_->action.get());
        item->parent_ = nullptr;
    }
    items_.clear();
}

MenuItem* Menu::itemWithTag(int tag) const {
    for (auto& i : items_)
        if (i->tag() == tag) return i.get();
    return nullptr;
}

MenuItem* Menu::itemWithTitle(const std::string& title) const {
    for (auto& i : items_)
        if (i->title() == title) return i.get();
    return nullptr;
}

void Menu::popUp(Point screenLocation) {
    Point p = Displays::toWindowServer(screenLocation);
    d_->menu->popup(QPoint(int(std::lround(p.x)), int(std::lround(p.y))));
}

void Menu::popUp(View& view, Point locationInView) {
    QWidget* w = qt::viewWidget(view);
    QPoint local = qt::toQt(view, locationInView);
    d_->menu->popup(w->mapToGlobal(local));
}

void Menu::close() {
    d_->menu->hide();
}
bool Menu::isOpen() const {
    return d_->menu->isVisible();
}

bool Menu::performKeyEquivalent(const Event& e) {
    if (onWillOpen) onWillOpen(*this);
    // Copy: an action may rebuild the menu.
    auto items = items_;
    for (auto& item : items) {
        if (item->isHidden()) continue;
        if (auto sub = item->submenu()) {
            if (sub->performKeyEquivalent(e)) return true;
            continue;
        }
        if (!item->isEnabled() || !item->matchesKeyEquivalent(e)) continue;
        g_performingKeyEquivalent = true;
        item->performAction();
        g_performingKeyEquivalent = false;
        return true;
    }
    return false;
}

// ---- bridges ---------------------------------------------------------------

namespace qt {

QIcon iconFromImage(const Image& image) {
    if (image.isNull()) return {};
    QPixmap pm = QPixmap::fromImage(wrap(image).copy());
    pm.setDevicePixelRatio(image.scale());
    return QIcon(pm);
}

QMenu* qmenu(Menu& menu) {
    return menu.impl().menu.get();
}
QAction* qaction(MenuItem& item) {
    return item.impl().action.get();
}

}  // namespace qt
}  // namespace kit
