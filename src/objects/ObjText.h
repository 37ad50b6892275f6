#pragma once
// A box of text over the screenshot, with a coloured background (or none)
// and an optional callout pointer. The text is typed into the one shared
// editing view placed over the box; while nobody types, the box shows a
// bitmap snapshot of the text instead ("layer" mode).
#include "kit/base/Timer.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "objects/ProtoObject.h"
#include "objects/TextEditorView.h"

namespace objects {

class ObjText : public ProtoObject {
public:
    ObjText(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    ~ObjText() override;
    std::string className() const override { return "ObjText"; }

    static constexpr double fontsizes[10] = {12, 14, 17, 20, 28, 40, 55, 77, 110, 150};
    TextEditorView* editor;  // shared by every text object
    std::string text;
    kit::LayerPtr lbox;
    std::shared_ptr<kit::ShapeLayer> lpointer;
    std::shared_ptr<kit::TextLayer> ltext;
    kit::LayerPtr ltshot;
    std::string textMode = "editor";
    double maxWidth = 300;
    double mouseDownTime = 0;
    bool nobg = false;
    double pPerc = 0.38;
    double pDist = 30;
    std::string pSide = "b";
    bool initialized = false;

    void draw() override;
    void unselect() override;
    void select() override;
    void deactivate() override;
    std::string cursor(kit::Point p) override;
    void mouseDown(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseDrag(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    void keyUp(const kit::Event* event, const KeyEvt& key) override;
    bool isEmpty() override;
    services::Rect anchorPoint() override;
    void changeSize(int step) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;

    virtual void appendText(const std::string& more);
    virtual void startEditing();
    virtual void stopEditing();
    virtual void endEditing();
    virtual void layoutText();
    virtual void font();
    virtual void placeEditor();
    virtual void preRender();
    virtual void preRenderMainThread();
    void showEditor();

    // The box at unit scale (text-view points): insets and frame size.
    struct Layout {
        double hInset = 0, vInset = 0;
        kit::Size frame;
    };
    // `shown` is the text the box holds: the committed text, or what is being typed.
    Layout unitLayout(const std::string& shown) const;
    // The font the text is set in, at a size.
    kit::Font textFont(double size) const;
    // The text's colour over its background.
    kit::Color textColor() const;

private:
    double fs() const { return tableAt(fontsizes, size); }
    // Commits the typed text; a commit that a dump asks for takes no undo
    // snapshot of its own and leaves the removal of an empty text for later.
    void commit(bool forDump);
    void reportActive();
    // Restyles the live view while typing, else renders the snapshot again.
    void refreshAfterResize();
    // Whether the shared view holds this text's typing now.
    bool typing() const;
    // While typing, the view grows and shrinks with its text, its top-left
    // corner staying on the box's.
    void fitEditorToText();
    // Puts the view over the box: its top-left corner on the box's, its size
    // the unit size at the canvas zoom.
    void placeEditorFrame();
    kit::Size editorUnitSize_{40, 8};  // the editing view's size at unit scale
    kit::Timer restoreTimer_;
};

}  // namespace objects
