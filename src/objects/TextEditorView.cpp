#include "objects/TextEditorView.h"

#include "kit/ui/TextView.h"
#include "kit/ui/Window.h"
#include "objects/ObjectHost.h"

namespace objects {

TextEditorView& TextEditorView::shared(kit::View* canvas) {
    static TextEditorView* editor = new TextEditorView();  // lives as long as the process
    // The canvas may come after the first text object (or be replaced): the
    // view joins it whenever it has no place yet.
    if (!editor->view_->superview() && canvas) canvas->addSubview(editor->view_);
    return *editor;
}

TextEditorView::TextEditorView() : view_(std::make_shared<kit::TextView>(kit::Rect{0, 0, 40, 8})) {
    view_->setInsertionPointColor(kit::Color::white(1));
    view_->setAllowsUndo(true);
    view_->setContainerWidth(300);
    view_->setHidden(true);
}

std::string TextEditorView::string() const {
    return view_->string();
}
void TextEditorView::setString(const std::string& s) {
    view_->setString(s);
}
void TextEditorView::setFont(const kit::Font& f) {
    view_->setFont(f);
}
void TextEditorView::setTextColor(const kit::Color& c) {
    view_->setTextColor(c);
}
void TextEditorView::setInsertionPointColor(const kit::Color& c) {
    view_->setInsertionPointColor(c);
}
void TextEditorView::setSelectionColor(const kit::Color& c) {
    view_->setSelectionColor(c);
}
void TextEditorView::setBackgroundColor(std::optional<kit::Color> c) {
    view_->setBackgroundColor(c);
}
void TextEditorView::setCornerRadius(double r) {
    view_->layer()->setCornerRadius(r);
}
void TextEditorView::setInset(kit::Size inset) {
    view_->setTextContainerInset(inset);
}
void TextEditorView::setContainerWidth(double w) {
    view_->setContainerWidth(w);
}
void TextEditorView::setFrame(const kit::Rect& frame) {
    view_->setFrame(frame);
}
kit::Rect TextEditorView::frame() const {
    return view_->frame();
}
void TextEditorView::setHidden(bool hidden) {
    // A hidden view types nothing: the keyboard goes back to the window.
    // Kept, it would take the editor's keys that a text field claims (Ctrl+C
    // above all) after every undo or redo that rebuilds a text.
    if (hidden && view_->isFirstResponder())
        if (kit::Window* window = view_->window()) window->makeFirstResponder(nullptr);
    view_->setHidden(hidden);
}
bool TextEditorView::isHidden() const {
    return view_->isHidden();
}
void TextEditorView::setEditable(bool editable) {
    view_->setEditable(editable);
}
bool TextEditorView::isEditable() const {
    return view_->isEditable();
}
void TextEditorView::selectNothing() {
    view_->setSelectedRange(0, 0);
}
void TextEditorView::makeFirstResponder() {
    view_->makeFirstResponder();
}
void TextEditorView::setNeedsDisplay() {
    view_->setNeedsDisplay();
}
void TextEditorView::setKeyHandler(std::function<bool(const kit::Event&)> handler) {
    view_->onKeyDown = std::move(handler);
}

void TextEditorView::setTextChangeHandler(std::function<void()> handler) {
    if (handler)
        view_->onTextChange = [h = std::move(handler)](kit::TextView&) { h(); };
    else
        view_->onTextChange = nullptr;
}

kit::View* TextEditorView::superview() const {
    return view_->superview();
}
void TextEditorView::removeFromSuperview() {
    view_->removeFromSuperview();
}

}  // namespace objects
