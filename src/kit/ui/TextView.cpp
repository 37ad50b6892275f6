#include "kit/ui/TextView.h"

#include <QAbstractTextDocumentLayout>
#include <QFocusEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>
#include <cmath>

#include "kit/draw/qt/QtText.h"
#include "kit/ui/qt/ControlPrivate.h"
#include "kit/ui/qt/EventPrivate.h"

namespace kit {

namespace {

// Draws its own insertion point so it can have a colour of its own, and
// reports keys and the loss of focus to the kit view.
class TextEdit : public QTextEdit {
public:
    TextView* owner = nullptr;
    QColor caret = Qt::black;
    bool caretHidden = false;

    TextEdit() {
        setFrameShape(QFrame::NoFrame);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setAcceptRichText(false);
        setCursorWidth(0);  // drawn in paintEvent
    }
    void setInset(int dx, int dy) { setViewportMargins(dx, dy, dx, dy); }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (owner && owner->onKeyDown) {
            if (auto ev = qt::keyEvent(*e); ev && ev->type == EventType::KeyDown && owner->onKeyDown(*ev)) {
                e->accept();
                return;
            }
        }
        QTextEdit::keyPressEvent(e);
    }
    void focusOutEvent(QFocusEvent* e) override {
        QTextEdit::focusOutEvent(e);
        // A pop-up menu taking focus does not end editing.
        if (owner && owner->onEndEditing && e->reason() != Qt::PopupFocusReason) owner->onEndEditing(*owner);
    }
    void paintEvent(QPaintEvent* e) override {
        QTextEdit::paintEvent(e);
        if (!hasFocus() || isReadOnly() || caretHidden) return;
        QPainter p(viewport());
        QRect r = cursorRect();
        p.fillRect(QRect(r.left(), r.top(), 2, r.height()), caret);
    }
};

TextEdit* editor(const TextView& v) {
    return qt::hosted<TextEdit>(v);
}

}  // namespace

TextView::TextView(const Rect& frame) : View(frame) {
    auto* e = new TextEdit;
    e->owner = this;
    qt::hostWidget(*this, e);
    setFont(font_);
    setBackgroundColor(std::nullopt);
    setContainerWidth(std::nullopt);
    // The caret blinks through repaints; keep the custom one in step.
    QObject::connect(e, &QTextEdit::cursorPositionChanged, e, [e] { e->viewport()->update(); });
    QObject::connect(e, &QTextEdit::textChanged, [this] {
        if (sizesToContent_) sizeToFit();
        if (onTextChange) onTextChange(*this);
    });
}

std::string TextView::string() const {
    return editor(*this)->toPlainText().toStdString();
}

void TextView::setString(const std::string& text) {
    TextEdit* e = editor(*this);
    e->setPlainText(QString::fromStdString(text));
    e->moveCursor(QTextCursor::End);
}

void TextView::setFont(const Font& font) {
    // The same font again changes nothing, and laying the text out anew is
    // not free: texts on the canvas set theirs at every redraw.
    if (fontApplied_ && font == font_) return;
    fontApplied_ = true;
    font_ = font;
    TextEdit* e = editor(*this);
    QFont f = qt::toQFont(font, e);
    e->document()->setDefaultFont(f);
    e->setFont(f);
    applyWidth();
}

void TextView::setTextColor(Color color) {
    TextEdit* e = editor(*this);
    QPalette p = e->palette();
    p.setColor(QPalette::Text, qt::toQColor(color));
    e->setPalette(p);
    // Text typed from now on and the text there is take the colour.
    QTextCursor all(e->document());
    all.select(QTextCursor::Document);
    QTextCharFormat fmt;
    fmt.setForeground(qt::toQColor(color));
    all.mergeCharFormat(fmt);
    e->mergeCurrentCharFormat(fmt);
}

void TextView::setBackgroundColor(std::optional<Color> color) {
    TextEdit* e = editor(*this);
    QPalette p = e->palette();
    p.setColor(QPalette::Base, color ? qt::toQColor(*color) : QColor(Qt::transparent));
    e->setPalette(p);
    e->viewport()->setAutoFillBackground(color.has_value());
    e->setAutoFillBackground(false);
}

void TextView::setInsertionPointColor(Color color) {
    editor(*this)->caret = qt::toQColor(color);
    editor(*this)->viewport()->update();
}

void TextView::setSelectionColor(Color color) {
    TextEdit* e = editor(*this);
    QPalette p = e->palette();
    p.setColor(QPalette::Highlight, qt::toQColor(color));
    p.setColor(QPalette::Inactive, QPalette::Highlight, qt::toQColor(color));
    p.setColor(QPalette::HighlightedText, p.color(QPalette::Text));
    e->setPalette(p);
}

void TextView::setAlignment(TextAlignment a) {
    TextEdit* e = editor(*this);
    QTextCursor all(e->document());
    all.select(QTextCursor::Document);
    QTextBlockFormat fmt;
    fmt.setAlignment(qt::toQtAlignment(a) & Qt::AlignHorizontal_Mask);
    all.mergeBlockFormat(fmt);
    QTextOption opt = e->document()->defaultTextOption();
    opt.setAlignment(fmt.alignment());
    e->document()->setDefaultTextOption(opt);
}

void TextView::setTextContainerInset(Size inset) {
    inset_ = inset;
    TextEdit* e = editor(*this);
    e->document()->setDocumentMargin(0);
    e->setInset(int(std::lround(inset.width)), int(std::lround(inset.height)));
    applyWidth();
}

void TextView::setContainerWidth(std::optional<double> width) {
    containerWidth_ = width;
    applyWidth();
}

void TextView::applyWidth() {
    TextEdit* e = editor(*this);
    e->document()->setDocumentMargin(0);
    if (containerWidth_) {
        e->setLineWrapMode(QTextEdit::FixedPixelWidth);
        e->setLineWrapColumnOrWidth(std::max(1, int(std::lround(*containerWidth_))));
    } else {
        e->setLineWrapMode(QTextEdit::NoWrap);
    }
    if (sizesToContent_) sizeToFit();
}

void TextView::setEditable(bool editable) {
    editable_ = editable;
    TextEdit* e = editor(*this);
    e->setReadOnly(!editable);
    e->setTextInteractionFlags(editable ? Qt::TextEditorInteraction
                                        : (selectable_ ? Qt::TextSelectableByMouse : Qt::NoTextInteraction));
}

void TextView::setSelectable(bool selectable) {
    selectable_ = selectable;
    setEditable(editable_);
}

void TextView::setAllowsUndo(bool allows) {
    editor(*this)->setUndoRedoEnabled(allows);
}
bool TextView::allowsUndo() const {
    return editor(*this)->isUndoRedoEnabled();
}

Size TextView::contentSize() const {
    QTextDocument* doc = editor(*this)->document();
    // Without wrapping the natural width is the widest line; with it, the
    // container width.
    double w = containerWidth_ ? *containerWidth_ : doc->idealWidth();
    QSizeF laid = doc->documentLayout()->documentSize();
    double h = std::max(laid.height(), QFontMetricsF(doc->defaultFont()).lineSpacing());
    // One more pixel so the caret at the end of the widest line shows.
    return {std::ceil(w) + 2 + 2 * inset_.width, std::ceil(h) + 2 * inset_.height};
}

void TextView::sizeToFit() {
    Size s = contentSize();
    Rect f = frame();
    if (s == f.size) return;
    double top = superview() && superview()->isFlipped() ? f.y() : f.maxY();
    double y = superview() && superview()->isFlipped() ? top : top - s.height;
    setFrame({f.x(), y, s.width, s.height});
}

Image TextView::textImage(double scale) const {
    TextEdit* e = editor(*this);
    e->caretHidden = true;
    Image img = snapshot(scale);
    e->caretHidden = false;
    return img;
}

void TextView::selectAll() {
    editor(*this)->selectAll();
}

void TextView::setSelectedRange(size_t location, size_t length) {
    TextEdit* e = editor(*this);
    QTextCursor c(e->document());
    int max = e->document()->characterCount() - 1;
    c.setPosition(std::min(int(location), max));
    c.setPosition(std::min(int(location + length), max), QTextCursor::KeepAnchor);
    e->setTextCursor(c);
}

std::pair<size_t, size_t> TextView::selectedRange() const {
    QTextCursor c = editor(*this)->textCursor();
    return {size_t(c.selectionStart()), size_t(c.selectionEnd() - c.selectionStart())};
}

}  // namespace kit
