#include "kit/ui/TextField.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QIntValidator>
#include <QLineEdit>
#include <QProxyStyle>
#include <QStyle>
#include <QValidator>
#include <algorithm>
#include <cmath>

#include "kit/draw/ShapeLayer.h"
#include "kit/ui/Application.h"
#include "kit/ui/qt/ControlPrivate.h"

namespace kit {

namespace {

// The line edit keeps one pixel free above and below its line of text.
constexpr int kLineVerticalMargin = 1;
// The field's own text rectangle keeps this much free at either end, so the
// text stays clear of a cell's outline.
constexpr double kTitleInset = 2;

QLineEdit* edit(const TextField& f) {
    return qt::hosted<QLineEdit>(f);
}

// Whole numbers within 64-bit bounds (QIntValidator stops at 32 bits).
class IntegerValidator : public QValidator {
public:
    IntegerValidator(int64_t lo, int64_t hi, QObject* parent) : QValidator(parent), lo_(lo), hi_(hi) {}
    State validate(QString& input, int&) const override {
        if (input.isEmpty() || (input == "-" && lo_ < 0)) return Intermediate;
        bool ok = false;
        qlonglong v = input.toLongLong(&ok);
        if (!ok) return Invalid;
        for (QChar c : input)
            if (!c.isDigit() && c != '-') return Invalid;
        if (v > hi_ || (v < lo_ && v < 0)) return Invalid;
        return v < lo_ ? Intermediate : Acceptable;
    }

private:
    int64_t lo_, hi_;
};

// The style's caret is a pixel metric: a width of 0 hides it.
class CaretlessStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric m, const QStyleOption* o, const QWidget* w) const override {
        return m == PM_TextCursorWidth ? 0 : QProxyStyle::pixelMetric(m, o, w);
    }
};

}  // namespace

// Tells the field when the line edit gains or loses the keyboard focus: its
// owner hears of it, and a cell redraws for the new editing state.
class TextFieldEditingWatch : public QObject {
public:
    TextFieldEditingWatch(TextField& field, QObject* parent) : QObject(parent), field_(field) {}
    bool eventFilter(QObject*, QEvent* ev) override {
        if (ev->type() != QEvent::FocusIn && ev->type() != QEvent::FocusOut) return false;
        field_.applyCell();
        auto fn = ev->type() == QEvent::FocusIn ? field_.onFocusIn : field_.onFocusOut;
        if (fn) fn(field_);
        return false;
    }

private:
    TextField& field_;
};

TextField::TextField(const Rect& frame) : Control(frame) {
    auto* e = new QLineEdit;
    qt::hostWidget(*this, e);
    e->installEventFilter(new TextFieldEditingWatch(*this, e));
    QObject::connect(e, &QLineEdit::textEdited, [this](const QString&) {
        if (onTextChange) onTextChange(*this);
    });
    QObject::connect(e, &QLineEdit::editingFinished, [this] { sendAction(); });
}

TextField::~TextField() {
    // The view deletes the line edit after this part of the field is gone,
    // and a focused line edit loses its focus then: nothing may call back.
    QLineEdit* e = edit(*this);
    e->blockSignals(true);
    for (QObject* child : e->children())
        if (auto* watch = dynamic_cast<TextFieldEditingWatch*>(child)) e->removeEventFilter(watch);
}

std::string TextField::stringValue() const {
    return edit(*this)->text().toStdString();
}
void TextField::setStringValue(const std::string& text) {
    edit(*this)->setText(QString::fromStdString(text));
}
void TextField::setPlaceholder(const std::string& text) {
    edit(*this)->setPlaceholderText(QString::fromStdString(text));
}
bool TextField::isEditable() const {
    return !edit(*this)->isReadOnly();
}

void TextField::setEditable(bool editable) {
    edit(*this)->setReadOnly(!editable);
    edit(*this)->setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
}

void TextField::setBezeled(bool bezeled) {
    edit(*this)->setFrame(bezeled);
}

void TextField::setAlignment(TextAlignment a) {
    edit(*this)->setAlignment(qt::toQtAlignment(a));
}

void TextField::setTextColor(Color color) {
    QPalette p = edit(*this)->palette();
    p.setColor(QPalette::Text, qt::toQColor(color));
    edit(*this)->setPalette(p);
}

void TextField::setMaxLength(int characters) {
    edit(*this)->setMaxLength(characters);
}

void TextField::setIntegerEntry(int64_t min, int64_t max) {
    QLineEdit* e = edit(*this);
    e->setValidator(new IntegerValidator(min, max, e));
}

std::optional<int64_t> TextField::integerValue() const {
    bool ok = false;
    qlonglong v = edit(*this)->text().trimmed().toLongLong(&ok);
    if (!ok) return std::nullopt;
    return int64_t(v);
}

void TextField::selectAll() {
    edit(*this)->selectAll();
}

void TextField::setHoldsKeyboard(bool holds) {
    QLineEdit* e = edit(*this);
    if (holds) {
        e->grabKeyboard();
    } else if (QWidget::keyboardGrabber() == e) {
        // The toolkit only queues the release; it would reach the window
        // server when the event loop next turns, and a main thread busy
        // meanwhile would keep every other program's shortcuts from it.
        e->releaseKeyboard();
        Application::syncWindowServer();
    }
}

void TextField::setCaretHidden(bool hidden) {
    QLineEdit* e = edit(*this);
    if (hidden && !dynamic_cast<CaretlessStyle*>(e->style())) {
        auto* style = new CaretlessStyle;
        style->setParent(e);
        e->setStyle(style);
    } else if (!hidden && dynamic_cast<CaretlessStyle*>(e->style())) {
        QStyle* old = e->style();
        e->setStyle(nullptr);
        old->deleteLater();
    }
    e->update();
}

bool TextField::isEditing() const {
    return edit(*this)->hasFocus();
}

void TextField::setCell(std::shared_ptr<TextFieldCell> cell) {
    QLineEdit* e = edit(*this);
    cell_ = std::move(cell);
    if (!cell_) {
        if (cellLayer_) cellLayer_->removeFromSuperlayer();
        cellLayer_.reset();
        e->setTextMargins(0, 0, 0, 0);
        e->setFrame(true);
        // Only the background the cell cleared comes back; a text colour stays.
        QPalette p = e->palette();
        p.setBrush(QPalette::Base, QApplication::palette(e).base());
        e->setPalette(p);
        return;
    }
    // The cell draws the background in the view's layer, under the line edit,
    // so the line edit itself shows only its text.
    e->setFrame(false);
    QPalette p = e->palette();
    p.setColor(QPalette::Base, Qt::transparent);
    e->setPalette(p);
    if (!cellLayer_) {
        cellLayer_ = ShapeLayer::make();
        layer()->addSublayer(cellLayer_);
    }
    applyCell();
}

Rect TextField::textRect() const {
    QLineEdit* e = edit(*this);
    QMargins m = e->textMargins();
    double lineHeight = e->fontMetrics().height();
    double top = m.top() + kLineVerticalMargin;
    double room = frame().height() - m.top() - m.bottom() - 2 * kLineVerticalMargin;
    return {double(m.left()), top + std::floor((room - lineHeight + 1) / 2),
            frame().width() - m.left() - m.right(), lineHeight};
}

void TextField::applyCell() {
    if (!cell_ || !cellLayer_) return;
    QLineEdit* e = edit(*this);
    const Rect box = bounds();
    {
        ScopedTransaction tx;
        cellLayer_->setFrame(box);
        cell_->drawWithFrame(*cellLayer_, box, isEditing(), isDarkAppearance());
    }
    // The line edit centres one line in what its margins leave (less a pixel
    // above and below): margins around the cell's rectangle put it there.
    const double lineHeight = e->fontMetrics().height();
    Rect t = cell_->titleRect(box.insetBy(kTitleInset, 0), lineHeight);
    int top = std::max(0, int(std::lround(t.y())) - kLineVerticalMargin);
    int bottom = std::max(0, int(std::lround(box.height() - t.maxY())) - kLineVerticalMargin);
    e->setTextMargins(int(std::lround(t.x())), top, int(std::lround(box.width() - t.maxX())), bottom);
    e->update();
}

void TextField::layout() {
    applyCell();
}

void TextField::viewDidChangeEffectiveAppearance() {
    applyCell();
}

void TextField::resignFocus() {
    QLineEdit* e = edit(*this);
    if (e->hasFocus()) e->clearFocus();
}

SearchField::SearchField(const Rect& frame) : TextField(frame) {
    QLineEdit* e = edit(*this);
    e->setClearButtonEnabled(true);
    e->addAction(e->style()->standardIcon(QStyle::SP_FileDialogContentsView), QLineEdit::LeadingPosition);
    setPlaceholder("Search");
    // Clearing with the button is a change like any other.
    QObject::connect(e, &QLineEdit::textChanged, [this](const QString& t) {
        if (t.isEmpty() && onTextChange) onTextChange(*this);
    });
}

void SearchField::setSearchButtonShown(bool shown) {
    QLineEdit* e = edit(*this);
    for (QAction* a : e->actions()) a->setVisible(shown);
}

void SearchField::setClearButtonShown(bool shown) {
    edit(*this)->setClearButtonEnabled(shown);
}

bool SearchField::isClearButtonShown() const {
    return edit(*this)->isClearButtonEnabled();
}

void SearchField::clear() {
    QLineEdit* e = edit(*this);
    if (e->text().isEmpty()) return;
    e->clear();  // textChanged("") reports the change
}

}  // namespace kit
